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

// Program-start state with the interpreter's tick held off, so only the voices run.
inline void reset_voices()
{
    render_reset();
    tick_counter = UINT16_MAX;
}

// An untied note on channel c; `adjust` edits the freshly loaded instrument.
template <typename Adjust>
void start_note(int c, uint16_t pitch, Adjust adjust)
{
    lfo_amplitude[c] = 0;
    configure_instrument(static_cast<uint8_t>(c), 1);
    adjust(c);
    osc_pitch[c] = pitch;
    osc_mix[c] = 0;
    osc_volume[c] = env_vol_type[c] == 0 ? tarq_volume[c] : 0.0f;
    env_vol_tick[c] = 0;
    osc_rebake(c);
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
