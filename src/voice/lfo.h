// The LFO of channels 0..6: a slow wave read from the wave bank whose output
// is added to the oscillator's phase increment (vibrato), with an amplitude
// that fades in step by step after every note-on.
#pragma once
#include <cstdint>

#include "voice/oscillator.h"

extern uint32_t lfo_accumulator[OSC_CHANNELS];  // never reset during a song
extern uint16_t lfo_pitch[OSC_CHANNELS];        // phase increment per frame
extern int8_t lfo_waveform[OSC_CHANNELS];       // read window start, in 4-entry units
extern int8_t lfo_intensity[OSC_CHANNELS];      // fade-in limit
extern int8_t lfo_amplitude[OSC_CHANNELS];
extern uint16_t lfo_length[OSC_CHANNELS];       // fade-in step, in 64-frame units
extern uint16_t lfo_tick[OSC_CHANNELS];         // fade-in countdown, frames
// lfo_output is declared with the oscillator, which reads it every frame.

// Advances channel i's LFO and computes the offset the next frame uses.
void lfo_step(int i);

// `frames` steps of channel i's LFO in a row while its pitch, waveform and
// amplitude stay as they are; offsets[j] is the offset frame j uses, the
// output before step j.
void lfo_run(int i, uint32_t frames, int16_t* offsets);

// Raises channel i's LFO amplitude by one every lfo_length * 64 + 1 frames
// until it passes the intensity.
void lfo_fade_step(int i);

// Frames from now in which lfo_fade_step only counts down or leaves
// everything as it is (UINT32_MAX: until something else changes the LFO),
// and the same steps taken at once.
uint32_t lfo_fade_quiet_frames(int i);
void lfo_fade_skip(int i, uint32_t frames);

void lfo_reset();
