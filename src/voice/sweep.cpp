#include "voice/sweep.h"

#include <cstring>

uint8_t swp_type[OSC_CHANNELS];
uint8_t swp_length[OSC_CHANNELS];
uint8_t swp_target[OSC_CHANNELS];
uint16_t swp_tick[OSC_CHANNELS];

// One pitch unit every swp_length * 4 + 1 frames, stopping on the target.
void swp_step(int i)
{
    if (swp_tick[i] != 0) {
        --swp_tick[i];
        return;
    }
    const uint8_t type = swp_type[i];
    const bool glides_down = type == 1 || type == 3;
    const bool glides_up = type == 2 || type == 4;
    if (glides_down && osc_target_pitch[i] < osc_pitch[i]) {
        --osc_pitch[i];
    } else if (glides_up && osc_target_pitch[i] > osc_pitch[i]) {
        ++osc_pitch[i];
    } else {
        return;
    }
    swp_tick[i] = static_cast<uint16_t>(swp_length[i] * 4u);
}

void swp_reset()
{
    std::memset(swp_type, 0, sizeof swp_type);
    std::memset(swp_length, 0, sizeof swp_length);
    std::memset(swp_target, 0, sizeof swp_target);
    std::memset(swp_tick, 0, sizeof swp_tick);
}
