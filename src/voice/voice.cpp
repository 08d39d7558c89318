#include "voice/voice.h"

#include "data/tables.h"

namespace {

// Sweep goal `below` semitones under pitch index i; silence below the table.
uint16_t note_below(int i, int below)
{
    const int lower = i - below;
    return lower >= 0 ? notes[lower] : 0;
}

// Pitch and sweep goal of a note at pitch index i. Types 3 and 4 leave a
// running sweep alone when the note is tied; other types retune anyway.
void set_note_pitch(Voice& voice, int i, bool tied)
{
    Oscillator& osc = voice.osc;
    switch (voice.swp.swp_type) {
    case 0:
        osc.osc_pitch = notes[i];
        break;
    case 3:
        if (tied) break;
        [[fallthrough]];
    case 1:
        osc.osc_pitch = notes[i];
        osc.osc_target_pitch = note_below(i, voice.swp.swp_target);
        break;
    case 4:
        if (tied) break;
        [[fallthrough]];
    case 2:
        osc.osc_pitch = note_below(i, voice.swp.swp_target);
        osc.osc_target_pitch = notes[i];
        break;
    default:
        break;
    }
}

}  // namespace

void voice_note_on(Voice& voice, const InstrumentRecord& record, int pitch_index)
{
    voice.lfo.lfo_amplitude = 0;
    configure_instrument(voice, record);
    set_note_pitch(voice, pitch_index, false);
    Oscillator& osc = voice.osc;
    osc.osc_mix = 0;
    osc.osc_volume = voice.env.env_vol_type == 0 ? voice.env.env_channel_volume : 0.0f;
    voice.env.env_vol_tick = 0;
    osc_rebake(osc);
}

void voice_note_tied(Voice& voice, int pitch_index) { set_note_pitch(voice, pitch_index, true); }

// A decay of one step takes the volume to 0 at the next envelope step.
void voice_rest(Voice& voice, const InstrumentRecord& record)
{
    configure_instrument(voice, record);
    voice.env.env_vol_length = 1;
    voice.env.env_vol_type = 0;
}

void voice_setup(Voice& voice, const InstrumentRecord& record)
{
    osc_rebake(voice.osc);
    configure_instrument(voice, record);
}
