#include "voice/sweep.h"

namespace {

// -1 or +1 when a due step moves the pitch toward the target, else 0.
int sweep_direction(const Sweep& swp, const Oscillator& osc)
{
    const uint8_t type = swp.swp_type;
    const bool glides_down = type == 1 || type == 3;
    const bool glides_up = type == 2 || type == 4;
    if (glides_down && osc.osc_target_pitch < osc.osc_pitch) return -1;
    if (glides_up && osc.osc_target_pitch > osc.osc_pitch) return 1;
    return 0;
}

}  // namespace

// One pitch unit every swp_length * 4 + 1 frames, stopping on the target.
void swp_step(Sweep& swp, Oscillator& osc)
{
    if (swp.swp_tick != 0) {
        --swp.swp_tick;
        return;
    }
    const int direction = sweep_direction(swp, osc);
    if (direction == 0) return;
    osc.osc_pitch = static_cast<uint16_t>(osc.osc_pitch + direction);
    swp.swp_tick = static_cast<uint16_t>(swp.swp_length * 4u);
}

uint32_t swp_quiet_frames(const Sweep& swp, const Oscillator& osc)
{
    if (swp.swp_tick != 0) return swp.swp_tick;
    return sweep_direction(swp, osc) == 0 ? UINT32_MAX : 0;
}

void swp_skip(Sweep& swp, uint32_t frames)
{
    if (swp.swp_tick != 0) swp.swp_tick = static_cast<uint16_t>(swp.swp_tick - frames);
}
