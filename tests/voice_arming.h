// Voices and engines set up for driving the voice engine frame by frame
// without song data: notes start through the voice's own events.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>

#include "data/tables.h"
#include "driver/render.h"
#include "voice/drum.h"
#include "voice/voice.h"

// Pitch index of 440 (a, octave 1 plus 9).
constexpr int PITCH_440 = 21;

// A voice as a render starts it (a silent table, instrument 0) at the
// volume channel 0 starts with.
inline Voice fresh_voice()
{
    Voice voice;
    voice_setup(voice, default_sounds.instrument_bank[0]);
    voice_set_volume(voice, 0.5f);
    return voice;
}

// An untied note of the default instrument 1 at a pitch index; `adjust` edits the
// instrument record before the note loads it.
template <typename Adjust>
void start_note(Voice& voice, int pitch_index, Adjust adjust)
{
    InstrumentRecord record;
    std::copy(default_sounds.instrument_bank[1], default_sounds.instrument_bank[1] + INSTRUMENT_SIZE, record);
    adjust(record);
    voice_note_on(voice, record, pitch_index);
}

// An engine at the song's start whose interpreter never ticks (it has no
// song), so only the voices, the drum and the envelope clock run.
inline std::unique_ptr<Engine> engine_without_song()
{
    auto engine = std::make_unique<Engine>();
    for (Voice& voice : engine->voices) voice = fresh_voice();
    engine->tarq.tick_counter = UINT16_MAX;
    return engine;
}

// One frame of all eight channels; out[c] is channel c's.
inline void engine_all_channels(Engine& engine, int16_t (&out)[CHANNEL_COUNT][2])
{
    engine_frame(engine, 0, CHANNEL_COUNT - 1, out);
}
