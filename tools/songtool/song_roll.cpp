#include "song_roll.h"

#include <algorithm>
#include <optional>

#include "data/tables.h"
#include "song/tarq.h"
#include "song_timeline.h"

namespace {

// The run being watched.
struct Watch {
    const uint8_t* block = nullptr;
    size_t size = 0;
    uint32_t tick = 0;
    Roll* roll = nullptr;
    std::array<std::optional<size_t>, CHANNEL_COUNT> sounding;  // index into roll->notes
};

void close_note(Watch& watch, int c)
{
    if (!watch.sounding[c]) return;
    watch.roll->notes[*watch.sounding[c]].end = watch.tick;
    watch.sounding[c].reset();
}

void oscillator_note(Watch& watch, const Tarq& t, int c, const Event& e, uint16_t pos)
{
    const int pitch = 12 * t.tarq_octave[c] + nibble_high(e.byte) + t.tarq_transpose[c];
    int tied_from = -1;
    if (t.tarq_tie_flag[c] != 0 && watch.sounding[c]) {
        tied_from = watch.roll->notes[*watch.sounding[c]].pitch;
        if (tied_from == pitch) return;  // one longer note
    }
    close_note(watch, c);
    watch.sounding[c] = watch.roll->notes.size();
    watch.roll->notes.push_back({c, watch.tick, watch.tick, pitch, tied_from, pos});
}

// Sees each event before the interpreter acts on it, with the channel's
// state (octave, transposition, pending tie) as the event will find it.
void on_event(void* context, const Tarq& t, int c, uint16_t pos)
{
    Watch& watch = *static_cast<Watch*>(context);
    Event e;
    if (!decode_event(watch.block, watch.size, pos, e)) return;
    Roll& roll = *watch.roll;
    switch (e.op) {
    case Op::note:
        if (c != DRUM_CHANNEL) oscillator_note(watch, t, c, e, pos);
        else if (t.tarq_tie_flag[c] == 0)  // a tied drum note does not strike
            roll.hits.push_back({watch.tick, (nibble_high(e.byte) - 1) % DRUM_SAMPLE_COUNT, pos});
        break;
    case Op::rest:
        close_note(watch, c);
        break;
    case Op::tempo:
        if (roll.tempos.back().tick == watch.tick) roll.tempos.back().value = e.operand;
        else if (roll.tempos.back().value != e.operand) roll.tempos.push_back({watch.tick, e.operand});
        break;
    case Op::pattern_call:
        roll.calls.push_back({watch.tick, c, e.operand});
        break;
    default:
        break;
    }
}

// Ticks the roll covers: through one bar of the last closing hold when
// every channel reaches one, else as far as songrender plays.
uint32_t roll_length(const SongTimeline& timeline, uint32_t ticks_played)
{
    uint32_t last = 0;
    if (!song_end_tick(timeline, last)) return ticks_played;
    return std::min(ticks_played, last + ROLL_TICKS_PER_BAR);
}

}  // namespace

uint32_t counted_bars(const Roll& roll)
{
    int64_t last = 0;
    for (int64_t t : roll.hold_tick) last = t < 0 || last < 0 ? -1 : std::max(last, t);
    const int64_t end = last < 0 ? roll.end_tick : last;
    const int64_t ticks = std::max<int64_t>(0, end - roll.pickup);
    return static_cast<uint32_t>((ticks + ROLL_TICKS_PER_BAR - 1) / ROLL_TICKS_PER_BAR);
}

Roll observe_roll(const uint8_t* block, size_t size, const Sounds& sounds)
{
    Roll roll;
    const SongTimeline timeline = song_timeline(block, size, SongMarks{});
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const ChannelTiming& ch = timeline.channels[c];
        roll.hold_tick[c] = ch.reached ? static_cast<int64_t>(ch.hold_tick) : -1;
    }

    Tarq t;
    tarq_start(t, block, sounds.instrument_bank);
    roll.tempos.push_back({0, t.tick_speed / 14});
    Watch watch{block, size, 0, &roll, {}};
    t.tarq_event_hook = on_event;
    t.tarq_event_context = &watch;
    const TarqListeners nobody;
    uint32_t ticks = 0;
    for (uint64_t frame = 0; frame < SONG_FRAMES && !roll.cut;) {
        frame += t.tick_speed + 1u;  // the interval before this tick, which may change it
        t.tick_counter = 0;          // the frames between ticks only count down
        tarq(t, nobody);
        watch.tick = ++ticks;
        roll.cut = ticks >= ROLL_MAX_TICKS ||
                   roll.notes.size() + roll.hits.size() + roll.calls.size() + roll.tempos.size() >= ROLL_MAX_EVENTS;
    }
    roll.end_tick = roll_length(timeline, ticks);
    roll.cut = roll.cut && roll.end_tick == ticks;  // cut before it would have ended
    for (int c = 0; c < CHANNEL_COUNT; ++c) close_note(watch, c);
    // Drop what lies past the end, and notes replaced within their own tick
    // (length 0), which are never heard.
    for (RollNote& n : roll.notes) n.end = std::min(n.end, roll.end_tick);
    std::erase_if(roll.notes, [](const RollNote& n) { return n.end <= n.start; });
    std::erase_if(roll.hits, [&](const RollHit& h) { return h.tick >= roll.end_tick; });
    std::erase_if(roll.tempos, [&](const RollTempo& t) { return t.tick >= roll.end_tick && t.tick > 0; });
    std::erase_if(roll.calls, [&](const RollCall& c) { return c.tick >= roll.end_tick; });
    return roll;
}

Roll observe_song_roll(const std::vector<uint8_t>& block, const SongSounds& sounds, const SongMarks& marks)
{
    Roll roll = observe_roll(block.data(), block.size(), sounds.sounds);
    roll.channel_names = sounds.channel_names;
    roll.pickup = marks.pickup;
    roll.byte_places = marks.byte_places;
    return roll;
}
