// One oscillator channel's voice: the oscillator with its baked table, its
// LFO, envelopes and sweep. What the song does reaches a voice only through
// the events below; a voice knows nothing of the song that plays it.
#pragma once
#include <cstdint>

#include "voice/envelope.h"
#include "voice/instrument.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

struct Voice {
    Oscillator osc;
    Lfo lfo;
    Envelope env;
    Sweep swp;
};

// An untied note: the LFO starts from silence, the instrument reloads, the
// pitch (note table index) and its sweep goal are set, and the table is
// baked at the note's volume.
void voice_note_on(Voice& voice, const InstrumentRecord& record, int pitch_index);

// A note tied to the sounding one: only the pitch moves (sweeps of types 3
// and 4 keep gliding).
void voice_note_tied(Voice& voice, int pitch_index);

// A rest: the instrument reloads and the volume decays to 0 at the next
// envelope step.
void voice_rest(Voice& voice, const InstrumentRecord& record);

// The channel's volume (0 .. 1.875) and panning (percent) as the song sets
// them; they are heard from the next bake.
inline void voice_set_volume(Voice& voice, float volume) { voice.env.env_channel_volume = volume; }
inline void voice_set_panning(Voice& voice, int8_t panning) { voice.osc.osc_panning = panning; }

// The set-up before the song starts: a silent table and instrument record
// `record`.
void voice_setup(Voice& voice, const InstrumentRecord& record);
