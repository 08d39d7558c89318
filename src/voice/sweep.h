// Pitch sweep of channels 0..6: glides osc_pitch one unit at a time toward
// osc_target_pitch.
#pragma once
#include <cstdint>

#include "voice/oscillator.h"

extern uint8_t swp_type[OSC_CHANNELS];    // 0 none, 1/3 down, 2/4 up
extern uint8_t swp_length[OSC_CHANNELS];  // glide step, in 4-frame units
extern uint8_t swp_target[OSC_CHANNELS];  // glide distance, semitones
extern uint16_t swp_tick[OSC_CHANNELS];   // glide countdown, frames

void swp_step(int i);

// Frames from now in which swp_step only counts down or leaves the pitch as
// it is (UINT32_MAX: until something else changes the sweep), and the same
// steps taken at once.
uint32_t swp_quiet_frames(int i);
void swp_skip(int i, uint32_t frames);

void swp_reset();
