#include "song/tarq.h"

#include "data/tables.h"

namespace {

const InstrumentRecord& instrument_of(const Tarq& t, int c) { return t.tarq_instruments[t.osc_instrument[c]]; }

void oscillator_note(Tarq& t, Voice* voice, int c, uint8_t n)
{
    t.tarq_note[c] = n;
    const int pitch_index = 12 * t.tarq_octave[c] + n + t.tarq_transpose[c];
    const bool tied = t.tarq_tie_flag[c] != 0;
    t.tarq_tie_flag[c] = 0;
    if (voice == nullptr) return;
    if (tied) voice_note_tied(*voice, pitch_index);
    else voice_note_on(*voice, instrument_of(t, c), pitch_index);
}

// Drum notes 1..12 select samples 0..9, 11 and 12 folding onto 0 and 1.
void drum_note(Tarq& t, Drum* drum, uint8_t n)
{
    const bool tied = t.tarq_tie_flag[DRUM_CHANNEL] != 0;
    t.tarq_tie_flag[DRUM_CHANNEL] = 0;
    if (!tied && drum != nullptr) drum_hit(*drum, (n - 1) % DRUM_SAMPLE_COUNT);
}

void oscillator_rest(Tarq& t, Voice* voice, int c)
{
    t.tarq_tie_flag[c] = 0;
    if (voice != nullptr) voice_rest(*voice, instrument_of(t, c));
}

void drum_rest(Tarq& t, Drum* drum)
{
    t.tarq_tie_flag[DRUM_CHANNEL] = 0;
    if (drum != nullptr) drum_rest(*drum);
}

// The channel's volume, panning and octave as far as its voice hears them.
void tell_volume(const Tarq& t, const TarqListeners& to, int c)
{
    if (c == DRUM_CHANNEL) {
        if (to.drum != nullptr) to.drum->sample_volume = t.tarq_volume[c];
    } else if (to.voice[c] != nullptr) {
        voice_set_volume(*to.voice[c], t.tarq_volume[c]);
    }
}

void tell_panning(const Tarq& t, const TarqListeners& to, int c)
{
    if (c != DRUM_CHANNEL && to.voice[c] != nullptr) voice_set_panning(*to.voice[c], t.tarq_panning[c]);
}

void tell_octave(const Tarq& t, const TarqListeners& to, int c)
{
    if (c == DRUM_CHANNEL && to.drum != nullptr) to.drum->sample_octave = t.tarq_octave[c];
}

// Waits out a note or rest; false for length code 15, which takes no time.
bool set_length(Tarq& t, int c, uint8_t code)
{
    if (code == LENGTH_CODE_TIMELESS) return false;
    t.tarq_length[c] = length_wait(code);
    return true;
}

// Reads channel c's events until one takes time. The data rules (loop depth,
// pattern and instrument numbers, pitch range, time on every path) are
// checked when the song is assembled, so nothing is checked here.
void read_channel(Tarq& t, const TarqListeners& to, int c)
{
    const uint8_t* const song = t.tarq_song;
    for (;;) {
        const uint16_t at = t.data_pointer[c];
        if (t.tarq_event_hook) t.tarq_event_hook(t.tarq_event_context, t, c, at);
        const uint8_t b = song[at];
        const Op op = event_op(b);
        const uint16_t next = static_cast<uint16_t>(at + op_size(op));
        t.data_pointer[c] = next;
        switch (op) {
        case Op::loop_start: {
            const int d = t.loops_active[c]++;
            t.loop_duration[d][c] = static_cast<uint16_t>(song[at + 1] - 1);
            t.loop_point[d][c] = next;
            break;
        }
        case Op::loop_end: {
            const int d = t.loops_active[c] - 1;
            if (t.loop_duration[d][c] == 0) {
                --t.loops_active[c];
            } else {
                --t.loop_duration[d][c];
                t.data_pointer[c] = t.loop_point[d][c];
            }
            break;
        }
        case Op::pattern_call:
            t.pointer_location[c] = next;
            t.data_pointer[c] = song_table_entry(song, CHANNEL_COUNT + song[at + 1]);
            break;
        case Op::tempo:
            t.tick_speed = static_cast<uint16_t>(14 * song[at + 1]);
            break;
        case Op::transpose:
            t.tarq_transpose[c] = operand_signed(song[at + 1]);
            break;
        case Op::instrument:
            t.osc_instrument[c] = song[at + 1];
            break;
        case Op::tie:
            t.tarq_tie_flag[c] = 1;
            break;
        case Op::panning:
            t.tarq_panning[c] = operand_signed(song[at + 1]);
            tell_panning(t, to, c);
            break;
        case Op::end:
            if (t.pointer_location[c] != 0) {
                t.data_pointer[c] = t.pointer_location[c];
                t.pointer_location[c] = 0;
            } else {
                t.data_pointer[c] = song_table_entry(song, static_cast<unsigned>(c));
            }
            break;
        case Op::octave:
            t.tarq_octave[c] = nibble_low(b);
            tell_octave(t, to, c);
            break;
        case Op::volume:
            t.tarq_volume[c] = static_cast<float>(nibble_low(b)) * 0.125f;
            tell_volume(t, to, c);
            break;
        case Op::note:
            if (c == DRUM_CHANNEL) drum_note(t, to.drum, nibble_high(b));
            else oscillator_note(t, to.voice[c], c, nibble_high(b));
            if (set_length(t, c, nibble_low(b))) return;
            break;
        case Op::rest:
            if (c == DRUM_CHANNEL) drum_rest(t, to.drum);
            else oscillator_rest(t, to.voice[c], c);
            if (set_length(t, c, nibble_low(b))) return;
            break;
        case Op::undefined:  // never in checked song data
            break;
        }
    }
}

void tick(Tarq& t, const TarqListeners& to)
{
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        if (t.tarq_length[c] != 0) {
            --t.tarq_length[c];
            continue;
        }
        read_channel(t, to, c);
    }
}

}  // namespace

void tarq(Tarq& t, const TarqListeners& listeners)
{
    if (t.tick_counter != 0) {
        --t.tick_counter;
        return;
    }
    t.tick_counter = t.tick_speed;
    tick(t, listeners);
}

void tarq_start(Tarq& t, const uint8_t* song, const InstrumentRecord* bank)
{
    t = Tarq{};
    t.tarq_song = song;
    t.tarq_instruments = bank;
    for (int c = 0; c < CHANNEL_COUNT; ++c) t.data_pointer[c] = song_table_entry(song, static_cast<unsigned>(c));
}

void tarq_announce(const Tarq& t, const TarqListeners& listeners)
{
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        tell_volume(t, listeners, c);
        tell_panning(t, listeners, c);
        tell_octave(t, listeners, c);
    }
}
