// Starts and stops notes the way the interpreter does, so the voice engine
// can be driven frame by frame without song data.
#pragma once
#include <cstdint>

#include "data/tables.h"
#include "driver/render.h"
#include "song/instrument.h"
#include "song/tarq.h"
#include "voice/drum.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"

// Program-start state, with the interpreter's tick held off for 65,535
// frames so render_frame runs only the voice engine.
inline void reset_voices()
{
    render_reset();
    tick_counter = UINT16_MAX;
}

// An untied note on oscillator channel c at a fixed pitch (no sweep goal).
// `adjust` runs right after the instrument is loaded, so a test can play an
// instrument that differs from the bank's in the fields it cares about.
template <typename Adjust>
void start_note(int c, uint8_t instrument, uint16_t pitch, Adjust adjust)
{
    lfo_amplitude[c] = 0;
    configure_instrument(static_cast<uint8_t>(c), instrument);
    adjust(c);
    osc_pitch[c] = pitch;
    osc_mix[c] = 0;
    osc_volume[c] = env_vol_type[c] == 0 ? tarq_volume[c] : 0.0f;
    env_vol_tick[c] = 0;
    osc_rebake(c);
}

inline void start_note(int c, uint8_t instrument, uint16_t pitch)
{
    start_note(c, instrument, pitch, [](int) {});
}

// A rest on oscillator channel c: reloads the instrument and turns the
// volume envelope into a one-step decay.
inline void start_rest(int c, uint8_t instrument)
{
    configure_instrument(static_cast<uint8_t>(c), instrument);
    env_vol_length[c] = 1;
    env_vol_type[c] = 0;
}

// An untied drum note n (1..12).
inline void start_drum(int n)
{
    const int k = (n - 1) % DRUM_SAMPLE_COUNT;
    sample_start = sample_index[k];
    sample_end = sample_index[k + 1];
    sample_mute = 0;
    sample_accumulator = 0;
}

// A rest on the drum channel.
inline void stop_drum() { sample_mute = 1; }
