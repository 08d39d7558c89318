// The LFO of one oscillator channel: a slow wave read from the wave bank
// whose output is added to the oscillator's phase increment (vibrato), with
// an amplitude that fades in step by step after every note-on.
#pragma once
#include <cstdint>

struct Lfo {
    uint32_t lfo_accumulator = 0;  // never reset during a song
    uint16_t lfo_pitch = 0;        // phase increment per frame
    int8_t lfo_waveform = 0;       // read window start, in 4-entry units
    int8_t lfo_intensity = 0;      // fade-in limit
    int8_t lfo_amplitude = 0;
    uint16_t lfo_length = 0;       // fade-in step, in 64-frame units
    uint16_t lfo_tick = 0;         // fade-in countdown, frames
    int16_t lfo_output = 0;        // the offset the oscillator's next frame uses
};

// Advances the LFO and computes the offset the next frame uses.
void lfo_step(Lfo& lfo);

// `frames` steps in a row while pitch, waveform and amplitude stay as they
// are; offsets[j] is the offset frame j uses, the output before step j.
void lfo_run(Lfo& lfo, uint32_t frames, int16_t* offsets);

// Raises the amplitude by one every lfo_length * 64 + 1 frames until it
// passes the intensity.
void lfo_fade_step(Lfo& lfo);

// Frames from now in which lfo_fade_step only counts down or leaves
// everything as it is (UINT32_MAX: until something else changes the LFO),
// and the same steps taken at once.
uint32_t lfo_fade_quiet_frames(const Lfo& lfo);
void lfo_fade_skip(Lfo& lfo, uint32_t frames);
