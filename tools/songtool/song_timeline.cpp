#include "song_timeline.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "song/tarq.h"

namespace {

bool is_rest_or_loop(Op op) { return op == Op::rest || op == Op::loop_start || op == Op::loop_end; }

uint64_t loop_count(uint8_t operand) { return operand == 0 ? 65536 : operand; }

// The index of the first event of the stream's closing hold, or the event
// count if it has none; with the ticks the hold lasts. The hold is the
// final run of rests and loops of rests, from its first loop when it has
// one (`r4 [ r1 ]255`: the r4 still ends the music), and takes time.
size_t hold_start(const Stream& s, uint64_t& ticks)
{
    const auto& ev = s.events;
    size_t start = ev.size();
    int depth = 0;
    for (size_t i = ev.size(); i-- > 0 && is_rest_or_loop(ev[i].event.op);) {
        depth += ev[i].event.op == Op::loop_end ? 1 : ev[i].event.op == Op::loop_start ? -1 : 0;
        if (depth < 0) break;  // a loop opened before the run
        if (depth == 0) start = i;
    }
    for (size_t i = start; i < ev.size(); ++i)
        if (ev[i].event.op == Op::loop_start) {
            start = i;
            break;
        }
    // Its length, each rest counted as often as its loops repeat it.
    std::vector<uint64_t> repeats{1};
    ticks = 0;
    for (size_t i = start; i < ev.size(); ++i) {
        const Event& e = ev[i].event;
        if (e.op == Op::loop_start) repeats.push_back(repeats.back() * loop_count(e.operand));
        else if (e.op == Op::loop_end) repeats.pop_back();
        else ticks += repeats.back() * length_ticks(nibble_low(e.byte));
    }
    if (ticks == 0) start = ev.size();
    return start;
}

bool has_notes(const Stream& s)
{
    return std::any_of(s.events.begin(), s.events.end(), [](const StreamEvent& se) { return se.event.op == Op::note; });
}

bool plays_notes(const ChannelStreams& streams)
{
    return has_notes(streams.own) || std::any_of(streams.patterns.begin(), streams.patterns.end(),
                                                 [](const auto& p) { return has_notes(p.second); });
}

// The last tempo set in the tick being played.
struct TempoSet {
    uint32_t tick = UINT32_MAX;
    int channel = -1;
    int value = 0;
    uint16_t pos = 0;
};

// What the run watches: each event as a channel reads it.
struct Watch {
    const uint8_t* block = nullptr;
    size_t size = 0;
    SongTimeline* timeline = nullptr;
    std::vector<SongWarning>* warnings = nullptr;
    uint32_t tick = 0;
    std::vector<int> bar_line_at;  // per offset: index of its `|`, or -1
    std::vector<bool> bar_line_missed;
    std::array<uint32_t, CHANNEL_COUNT> hold_pos{};
    std::array<int, CHANNEL_COUNT> pattern{};  // the pattern a channel plays, -1 = its own stream
    std::array<uint16_t, CHANNEL_COUNT> tie_pos{};
    std::set<uint16_t> ties_reported;
    std::set<std::pair<uint16_t, uint16_t>> tempo_clashes;
    TempoSet tempo_set;
    std::array<int64_t, CHANNEL_COUNT> first_miss{};  // tick of a channel's first bar line off the bar, or -1

    void warn(int channel, uint32_t offset, const char* rule, const std::string& message, int bar_line = -1)
    {
        warnings->push_back({{{channel, pattern[channel]}, offset, rule, message}, bar_line});
    }
};

std::string where(const SongTimeline& t, uint32_t tick)
{
    return bar_text(t, tick) + " (" + clock_time(tick_heard_frame(t, tick)) + ")";
}

void check_bar_line(Watch& w, int c, uint16_t pos)
{
    const int line = w.bar_line_at[pos];
    if (line < 0 || w.bar_line_missed[line]) return;
    const SongTimeline& t = *w.timeline;
    const BarPosition at = bar_position(t, w.tick);
    const uint32_t into = (at.beat - 1) * TICKS_PER_BEAT + at.tick;
    if (into == 0) return;
    w.bar_line_missed[line] = true;
    if (w.first_miss[c] < 0) w.first_miss[c] = w.tick;
    const std::string off =
        into <= TICKS_PER_BAR / 2
            ? std::to_string(into) + " ticks into bar " + std::to_string(at.bar)
            : std::to_string(TICKS_PER_BAR - into) + " ticks before bar " + std::to_string(at.bar + 1);
    w.warn(c, pos, "bar-check",
           "the channel reaches this bar line " + off + " (" + clock_time(tick_heard_frame(t, w.tick)) + ")", line);
}

void check_tempo(Watch& w, int c, uint16_t pos, int value)
{
    TempoSet& last = w.tempo_set;
    if (last.tick == w.tick && last.channel != c && last.value != value &&
        w.tempo_clashes.emplace(last.pos, pos).second) {
        w.warn(last.channel, last.pos, "tempo-clash",
               "tempo " + std::to_string(last.value) + " is set in the tick where channel " + std::to_string(c) +
                   " sets tempo " + std::to_string(value) +
                   ", at " + where(*w.timeline, w.tick) + ": channel " + std::to_string(c) +
                   "'s, read later, wins");
    }
    last = {w.tick, c, value, pos};
}

void on_event(void* context, const Tarq& t, int c, uint16_t pos)
{
    Watch& w = *static_cast<Watch*>(context);
    Event e;
    if (!decode_event(w.block, w.size, pos, e)) return;
    ChannelTiming& ch = w.timeline->channels[c];
    if (w.warnings) check_bar_line(w, c, pos);
    if (pos == w.hold_pos[c] && ch.has_hold && !ch.reached) {
        ch.reached = true;
        ch.hold_tick = w.tick;
    }
    switch (e.op) {
    case Op::end:
        if (t.pointer_location[c] != 0) {
            w.pattern[c] = -1;
        } else if (!ch.restarts) {
            ch.restarts = true;
            ch.restart_tick = w.tick;
        }
        break;
    case Op::pattern_call:
        w.pattern[c] = e.operand;
        break;
    case Op::tie:
        w.tie_pos[c] = pos;
        break;
    case Op::rest:  // r0 takes no time: the way to clear a pending tie
        if (w.warnings && t.tarq_tie_flag[c] != 0 && nibble_low(e.byte) != LENGTH_CODE_TIMELESS &&
            w.ties_reported.insert(w.tie_pos[c]).second)
            w.warn(c, w.tie_pos[c], "tie-into-rest", "a tie into a rest has no effect (the rest ends the note)");
        break;
    case Op::tempo:
        if (w.warnings) check_tempo(w, c, pos, e.operand);
        break;
    default:
        break;
    }
}

void prepare_channels(Watch& w)
{
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const ChannelStreams streams = channel_streams(w.block, w.size, c);
        const Stream& s = streams.own;
        ChannelTiming& ch = w.timeline->channels[c];
        const size_t first = hold_start(s, ch.hold_ticks);
        ch.has_hold = first < s.events.size();
        w.hold_pos[c] = ch.has_hold ? s.events[first].pos : UINT32_MAX;
        ch.has_notes = plays_notes(streams);
        w.pattern[c] = -1;
    }
}

void play(Watch& w)
{
    SongTimeline& tl = *w.timeline;
    Tarq t;
    tarq_start(t, w.block, nullptr);  // nobody listens, so no instrument is loaded
    t.tarq_event_hook = on_event;
    t.tarq_event_context = &w;
    tl.tempo.push_back({0, 0, t.tick_speed + 1u, t.tick_speed / 14, 0});
    const TarqListeners nobody;
    uint64_t frame = 0;
    uint32_t tick = 0;
    while (frame < SONG_FRAMES) {
        w.tick = tick;
        const uint32_t interval = t.tick_speed + 1u;
        t.tick_counter = 0;  // the frames between ticks only count down
        tarq(t, nobody);
        frame += interval;
        ++tick;
        if (t.tick_speed + 1u != tl.tempo.back().interval)
            tl.tempo.push_back({tick, frame, t.tick_speed + 1u, t.tick_speed / 14, tick - 1});
    }
    tl.ticks = tick;
}

std::string channel_list(const std::vector<int>& channels)
{
    std::string text = channels.size() == 1 ? "channel " : "channels ";
    for (size_t i = 0; i < channels.size(); ++i) text += (i ? ", " : "") + std::to_string(channels[i]);
    return text;
}

// Channels that play notes and reach their closing holds in different
// ticks have drifted apart; the first bar line missed shows where.
void check_holds_together(Watch& w, const std::vector<int>& held)
{
    const SongTimeline& tl = *w.timeline;
    std::vector<std::pair<uint32_t, int>> by_tick;
    for (int c : held) by_tick.push_back({tl.channels[c].hold_tick, c});
    std::sort(by_tick.begin(), by_tick.end());
    if (by_tick.empty() || by_tick.front().first == by_tick.back().first) return;
    std::string groups;
    int64_t first_miss = -1;
    int missed_by = -1;
    for (size_t i = 0; i < by_tick.size();) {
        std::vector<int> group;
        const uint32_t tick = by_tick[i].first;
        for (; i < by_tick.size() && by_tick[i].first == tick; ++i) {
            const int c = by_tick[i].second;
            group.push_back(c);
            if (w.first_miss[c] >= 0 && (first_miss < 0 || w.first_miss[c] < first_miss))
                first_miss = w.first_miss[c], missed_by = c;
        }
        groups += (groups.empty() ? "" : "; ") + channel_list(group) + " at " + bar_text(tl, tick) +
                  " (tick " + std::to_string(tick) + ")";
    }
    const std::string parting =
        first_miss < 0 ? "; bar lines (|) in their music show where they part"
                       : "; they part by " + bar_text(tl, static_cast<uint32_t>(first_miss)) + ", where channel " +
                             std::to_string(missed_by) + " first misses a bar line";
    const int early = by_tick.front().second;
    w.pattern[early] = -1;
    w.warn(early, 2 * static_cast<uint32_t>(early), "holds-apart",
           "channels reach their closing holds at different ticks: " + groups + parting);
}

// Channels that never rest for good, start over, are cut or end apart.
void check_holds(Watch& w)
{
    const SongTimeline& tl = *w.timeline;
    std::vector<int> cut;
    std::vector<int> held;
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const ChannelTiming& ch = tl.channels[c];
        if (!ch.has_notes) continue;  // silent throughout
        const uint32_t header = 2 * static_cast<uint32_t>(c);
        w.pattern[c] = -1;
        if (ch.restarts && !ch.has_hold)
            w.warn(c, header, "no-closing-hold",
                   "the channel has no closing hold and starts over at " +
                       where(tl, ch.restart_tick) + "; end it with [ r1 ]255 to keep it silent");
        else if (ch.restarts)
            w.warn(c, header, "short-closing-hold",
                   "the channel starts over at " + where(tl, ch.restart_tick) +
                       ", where its closing hold of " + std::to_string(ch.hold_ticks) +
                       " ticks runs out; a longer hold keeps it silent to the render's end");
        else if (!ch.reached)
            cut.push_back(c);
        if (ch.reached) held.push_back(c);
    }
    if (!cut.empty())
        w.warn(cut[0], 2 * static_cast<uint32_t>(cut[0]), "cut-by-render",
               "the song runs past the render's end: " + channel_list(cut) +
                   (cut.size() == 1 ? " still plays" : " still play") + " when the render cuts it at " +
                   bar_text(tl, tl.ticks) + " (" + clock_time(SONG_FRAMES) + ")");
    check_holds_together(w, held);
}

}  // namespace

SongTimeline song_timeline(const uint8_t* block, size_t size, const SongMarks& marks,
                           std::vector<SongWarning>* warnings)
{
    SongTimeline timeline;
    timeline.pickup = marks.pickup;
    Watch w;
    w.block = block;
    w.size = size;
    w.timeline = &timeline;
    w.warnings = warnings;
    w.bar_line_at.assign(size, -1);
    w.bar_line_missed.assign(marks.bar_lines.size(), false);
    w.first_miss.fill(-1);
    for (size_t i = marks.bar_lines.size(); i-- > 0;)
        if (marks.bar_lines[i].offset < size) w.bar_line_at[marks.bar_lines[i].offset] = static_cast<int>(i);
    prepare_channels(w);
    play(w);
    if (warnings) check_holds(w);
    return timeline;
}

uint64_t tick_frame(const SongTimeline& timeline, uint32_t tick)
{
    const auto after = std::upper_bound(timeline.tempo.begin(), timeline.tempo.end(), tick,
                                        [](uint32_t t, const TempoSpan& span) { return t < span.tick; });
    const TempoSpan& span = *(after - 1);
    return span.frame + uint64_t{tick - span.tick} * span.interval;
}

uint64_t tick_heard_frame(const SongTimeline& timeline, uint32_t tick) { return tick_frame(timeline, tick) + 1; }

uint64_t bar_first_tick(const SongTimeline& timeline, uint32_t bar)
{
    return bar == 0 ? 0 : timeline.pickup + uint64_t{bar - 1} * TICKS_PER_BAR;
}

BarPosition bar_position(const SongTimeline& timeline, uint32_t tick)
{
    const uint64_t from_bar_0 = uint64_t{tick} + TICKS_PER_BAR - timeline.pickup;
    const uint32_t into = static_cast<uint32_t>(from_bar_0 % TICKS_PER_BAR);
    return {static_cast<uint32_t>(from_bar_0 / TICKS_PER_BAR), 1 + into / TICKS_PER_BEAT, into % TICKS_PER_BEAT};
}

std::string bar_text(const SongTimeline& timeline, uint32_t tick)
{
    const BarPosition at = bar_position(timeline, tick);
    std::string text = "bar " + std::to_string(at.bar);
    if (at.beat == 1 && at.tick == 0) return text;
    text += "." + std::to_string(at.beat);
    return at.tick == 0 ? text : text + " + " + std::to_string(at.tick) + (at.tick == 1 ? " tick" : " ticks");
}

bool song_end_tick(const SongTimeline& timeline, uint32_t& tick)
{
    tick = 0;
    for (const ChannelTiming& ch : timeline.channels) {
        if (ch.has_notes && !ch.reached) return false;
        if (ch.reached) tick = std::max(tick, ch.hold_tick);
    }
    return true;
}

uint32_t song_bars(const SongTimeline& timeline)
{
    uint32_t end = 0;
    if (!song_end_tick(timeline, end)) end = timeline.ticks;
    return end <= timeline.pickup ? 0 : (end - timeline.pickup + TICKS_PER_BAR - 1) / TICKS_PER_BAR;
}

std::string clock_time(uint64_t frame)
{
    const uint64_t hundredths = frame * 100 / SAMPLE_RATE;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02u.%02u", static_cast<unsigned long long>(hundredths / 6000),
                  static_cast<unsigned>(hundredths % 6000 / 100), static_cast<unsigned>(hundredths % 100));
    return text;
}

double beats_per_minute(uint32_t interval)
{
    return 60.0 * SAMPLE_RATE / (static_cast<double>(TICKS_PER_BEAT) * interval);
}
