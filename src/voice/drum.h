// The sampled drum channel: plays one of ten 8-bit PCM sounds, at a rate
// set by the channel's octave and a gain set by its volume.
#pragma once
#include <cstdint>

#include "base/timeline.h"

struct Drum {
    uint16_t sample_start = 0;        // first position of the current sample
    uint16_t sample_end = 0;          // one past its last position
    uint16_t sample_accumulator = 0;  // frames since the sample started
    uint8_t sample_mute = 0;          // 1 = hold the last value
    int16_t sample_output = 0;        // the value stored on both sides this frame
    uint16_t sample_octave = 0;       // the channel's octave as the song last set it
    float sample_volume = 0.0f;       // the channel's volume as the song last set it
};

// Starts drum sample k (0..9) from its first position.
void drum_hit(Drum& drum, int k);

// One frame: advances the position and updates or holds sample_output.
int16_t drum_step(Drum& drum);

// `frames` frames in a row while the octave, the volume and the sample stay
// as they are; each value on both sides of out[j].
void drum_run(Drum& drum, uint32_t frames, int16_t (*out)[2]);

// A rest: the drum holds its last value.
inline void drum_rest(Drum& drum) { drum.sample_mute = 1; }
