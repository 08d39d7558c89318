// The sampled drum channel (channel 7): plays one of ten 8-bit PCM sounds,
// at a rate set by the channel octave and a gain set by the channel volume.
#pragma once
#include <cstdint>

constexpr int DRUM_CHANNEL = 7;  // the song channel that drives the drums

extern uint16_t sample_start;        // first position of the current sample
extern uint16_t sample_end;          // one past its last position
extern uint16_t sample_accumulator;  // frames since the sample started
extern uint8_t sample_mute;          // 1 = hold the last value
extern int16_t sample_output;        // the value stored on both sides this frame

// One frame: advances the position and updates or holds sample_output.
int16_t drum_step();

// `frames` frames in a row while the octave, the volume and the sample stay
// as they are; each value on both sides of out[j].
void drum_run(uint32_t frames, int16_t (*out)[2]);

void drum_reset();
