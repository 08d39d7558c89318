#include "song/tarq.h"

#include <cstring>

#include "data/tables.h"
#include "song/bytecode.h"
#include "song/instrument.h"
#include "voice/drum.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

static_assert(TARQ_CHANNELS == SONG_CHANNELS && TARQ_LOOP_LEVELS == SONG_LOOP_LEVELS);

uint16_t data_pointer[TARQ_CHANNELS];
uint16_t tarq_length[TARQ_CHANNELS];
uint16_t tarq_octave[TARQ_CHANNELS] = {TARQ_START_OCTAVE[0]};
float tarq_volume[TARQ_CHANNELS] = {0.5f};
uint16_t tarq_note[TARQ_CHANNELS];
int8_t tarq_transpose[TARQ_CHANNELS];
int8_t tarq_panning[TARQ_CHANNELS];
uint16_t tarq_tie_flag[TARQ_CHANNELS];
uint16_t pointer_location[TARQ_CHANNELS];
uint8_t loops_active[TARQ_CHANNELS];
uint16_t loop_point[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
uint16_t loop_duration[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
uint8_t osc_instrument[7];

const uint8_t* tarq_song = tarq_data;
TarqEventHook tarq_event_hook = nullptr;

uint16_t tick_counter = 0;
uint16_t tick_speed = 700;

namespace {

// Sweep goal `below` semitones under pitch index i; silence below the table.
uint16_t note_below(int i, int below)
{
    const int lower = i - below;
    return lower >= 0 ? notes[lower] : 0;
}

// Pitch and sweep goal of a note at pitch index i. Types 3 and 4 leave a
// running sweep alone when the note is tied; other types retune anyway.
void set_note_pitch(int c, int i, bool tied)
{
    switch (swp_type[c]) {
    case 0:
        osc_pitch[c] = notes[i];
        break;
    case 3:
        if (tied) break;
        [[fallthrough]];
    case 1:
        osc_pitch[c] = notes[i];
        osc_target_pitch[c] = note_below(i, swp_target[c]);
        break;
    case 4:
        if (tied) break;
        [[fallthrough]];
    case 2:
        osc_pitch[c] = note_below(i, swp_target[c]);
        osc_target_pitch[c] = notes[i];
        break;
    default:
        break;
    }
}

void oscillator_note(int c, uint8_t n)
{
    tarq_note[c] = n;
    const bool tied = tarq_tie_flag[c] != 0;
    if (!tied) {
        lfo_amplitude[c] = 0;
        configure_instrument(static_cast<uint8_t>(c), osc_instrument[c]);
    }
    set_note_pitch(c, 12 * tarq_octave[c] + n + tarq_transpose[c], tied);
    if (tied) {
        tarq_tie_flag[c] = 0;
        return;
    }
    osc_mix[c] = 0;
    osc_volume[c] = env_vol_type[c] == 0 ? tarq_volume[c] : 0.0f;
    env_vol_tick[c] = 0;
    update_wavetable(static_cast<uint8_t>(c), osc_sample_1_l[c], osc_sample_2_l[c],
                     osc_sample_1_r[c], osc_sample_2_r[c], 0, osc_phase[c], osc_volume[c],
                     osc_stereo_mix[c]);
}

// Drum notes 1..12 select samples 0..9, 11 and 12 folding onto 0 and 1.
void drum_note(uint8_t n)
{
    if (tarq_tie_flag[TARQ_DRUM_CHANNEL] != 0) {
        tarq_tie_flag[TARQ_DRUM_CHANNEL] = 0;
        return;
    }
    const int k = (n - 1) % DRUM_SAMPLE_COUNT;
    sample_start = sample_index[k];
    sample_end = sample_index[k + 1];
    sample_mute = 0;
    sample_accumulator = 0;
}

// The instrument reload restarts the volume envelope, and a decay of one
// step takes the volume to 0 at the next envelope step.
void oscillator_rest(int c)
{
    configure_instrument(static_cast<uint8_t>(c), osc_instrument[c]);
    env_vol_length[c] = 1;
    env_vol_type[c] = 0;
    tarq_tie_flag[c] = 0;
}

void drum_rest()
{
    sample_mute = 1;
    tarq_tie_flag[TARQ_DRUM_CHANNEL] = 0;
}

// Waits out a note or rest; false for length code 15, which takes no time.
bool set_length(int c, uint8_t code)
{
    if (code == LENGTH_CODE_TIMELESS) return false;
    tarq_length[c] = length_wait(code);
    return true;
}

// Reads channel c's events until one takes time. The data rules (loop depth,
// pattern and instrument numbers, pitch range, time on every path) are
// checked when the song is assembled, so nothing is checked here.
void read_channel(int c)
{
    for (;;) {
        const uint16_t at = data_pointer[c];
        if (tarq_event_hook) tarq_event_hook(c, at);
        const uint8_t b = tarq_song[at];
        const Op op = event_op(b);
        const uint16_t next = static_cast<uint16_t>(at + op_size(op));
        data_pointer[c] = next;
        switch (op) {
        case Op::loop_start: {
            const int d = loops_active[c]++;
            loop_duration[d][c] = static_cast<uint16_t>(tarq_song[at + 1] - 1);
            loop_point[d][c] = next;
            break;
        }
        case Op::loop_end: {
            const int d = loops_active[c] - 1;
            if (loop_duration[d][c] == 0) {
                --loops_active[c];
            } else {
                --loop_duration[d][c];
                data_pointer[c] = loop_point[d][c];
            }
            break;
        }
        case Op::pattern_call:
            pointer_location[c] = next;
            data_pointer[c] = song_table_entry(tarq_song, SONG_CHANNELS + tarq_song[at + 1]);
            break;
        case Op::tempo:
            tick_speed = static_cast<uint16_t>(14 * tarq_song[at + 1]);
            break;
        case Op::transpose:
            tarq_transpose[c] = operand_signed(tarq_song[at + 1]);
            break;
        case Op::instrument:
            osc_instrument[c] = tarq_song[at + 1];
            break;
        case Op::tie:
            tarq_tie_flag[c] = 1;
            break;
        case Op::panning:
            tarq_panning[c] = operand_signed(tarq_song[at + 1]);
            break;
        case Op::end:
            if (pointer_location[c] != 0) {
                data_pointer[c] = pointer_location[c];
                pointer_location[c] = 0;
            } else {
                data_pointer[c] = song_table_entry(tarq_song, static_cast<unsigned>(c));
            }
            break;
        case Op::octave:
            tarq_octave[c] = nibble_low(b);
            break;
        case Op::volume:
            tarq_volume[c] = static_cast<float>(nibble_low(b)) * 0.125f;
            break;
        case Op::note:
            if (c == TARQ_DRUM_CHANNEL) drum_note(nibble_high(b));
            else oscillator_note(c, nibble_high(b));
            if (set_length(c, nibble_low(b))) return;
            break;
        case Op::rest:
            if (c == TARQ_DRUM_CHANNEL) drum_rest();
            else oscillator_rest(c);
            if (set_length(c, nibble_low(b))) return;
            break;
        case Op::undefined:  // never in checked song data
            break;
        }
    }
}

void tick()
{
    for (int c = 0; c < TARQ_CHANNELS; ++c) {
        if (tarq_length[c] != 0) {
            --tarq_length[c];
            continue;
        }
        read_channel(c);
    }
}

}  // namespace

void tarq()
{
    if (tick_counter != 0) {
        --tick_counter;
        return;
    }
    tick_counter = tick_speed;
    tick();
}

void tarq_start()
{
    for (int c = 0; c < TARQ_CHANNELS; ++c)
        data_pointer[c] = song_table_entry(tarq_song, static_cast<unsigned>(c));
}

void tarq_load(const uint8_t* song)
{
    tarq_song = song;
    tarq_start();
}

void tarq_reset()
{
    std::memset(data_pointer, 0, sizeof data_pointer);
    std::memset(tarq_length, 0, sizeof tarq_length);
    std::memcpy(tarq_octave, TARQ_START_OCTAVE, sizeof tarq_octave);
    std::memset(tarq_volume, 0, sizeof tarq_volume);
    tarq_volume[0] = 0.5f;
    std::memset(tarq_note, 0, sizeof tarq_note);
    std::memset(tarq_transpose, 0, sizeof tarq_transpose);
    std::memset(tarq_panning, 0, sizeof tarq_panning);
    std::memset(tarq_tie_flag, 0, sizeof tarq_tie_flag);
    std::memset(pointer_location, 0, sizeof pointer_location);
    std::memset(loops_active, 0, sizeof loops_active);
    std::memset(loop_point, 0, sizeof loop_point);
    std::memset(loop_duration, 0, sizeof loop_duration);
    std::memset(osc_instrument, 0, sizeof osc_instrument);
    tarq_song = tarq_data;
    tarq_event_hook = nullptr;
    tick_counter = 0;
    tick_speed = 700;
}
