// Pitch sweep of one oscillator channel: glides osc_pitch one unit at a
// time toward osc_target_pitch.
#pragma once
#include <cstdint>

#include "voice/oscillator.h"

struct Sweep {
    uint8_t swp_type = 0;    // 0 none, 1/3 down, 2/4 up
    uint8_t swp_length = 0;  // glide step, in 4-frame units
    uint8_t swp_target = 0;  // glide distance, semitones
    uint16_t swp_tick = 0;   // glide countdown, frames
};

void swp_step(Sweep& swp, Oscillator& osc);

// Frames from now in which swp_step only counts down or leaves the pitch as
// it is (UINT32_MAX: until something else changes the sweep), and the same
// steps taken at once.
uint32_t swp_quiet_frames(const Sweep& swp, const Oscillator& osc);
void swp_skip(Sweep& swp, uint32_t frames);
