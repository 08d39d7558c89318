#include "voice/sweep.h"

#include <cstring>

uint8_t swp_type[OSC_CHANNELS];
uint8_t swp_length[OSC_CHANNELS];
uint8_t swp_target[OSC_CHANNELS];
uint16_t swp_tick[OSC_CHANNELS];

namespace {

// -1 or +1 when a due step moves the pitch toward the target, else 0.
int sweep_direction(int i)
{
    const uint8_t type = swp_type[i];
    const bool glides_down = type == 1 || type == 3;
    const bool glides_up = type == 2 || type == 4;
    if (glides_down && osc_target_pitch[i] < osc_pitch[i]) return -1;
    if (glides_up && osc_target_pitch[i] > osc_pitch[i]) return 1;
    return 0;
}

}  // namespace

// One pitch unit every swp_length * 4 + 1 frames, stopping on the target.
void swp_step(int i)
{
    if (swp_tick[i] != 0) {
        --swp_tick[i];
        return;
    }
    const int direction = sweep_direction(i);
    if (direction == 0) return;
    osc_pitch[i] = static_cast<uint16_t>(osc_pitch[i] + direction);
    swp_tick[i] = static_cast<uint16_t>(swp_length[i] * 4u);
}

uint32_t swp_quiet_frames(int i)
{
    if (swp_tick[i] != 0) return swp_tick[i];
    return sweep_direction(i) == 0 ? UINT32_MAX : 0;
}

void swp_skip(int i, uint32_t frames)
{
    if (swp_tick[i] != 0) swp_tick[i] = static_cast<uint16_t>(swp_tick[i] - frames);
}

void swp_reset()
{
    std::memset(swp_type, 0, sizeof swp_type);
    std::memset(swp_length, 0, sizeof swp_length);
    std::memset(swp_target, 0, sizeof swp_target);
    std::memset(swp_tick, 0, sizeof swp_tick);
}
