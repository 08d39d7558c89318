#include "song_info.h"

#include <cstdio>
#include <set>
#include <vector>

#include "song_check.h"
#include "song_findings.h"

namespace {

std::string list(const std::set<int>& values, bool json)
{
    std::string text;
    for (int v : values) text += (text.empty() ? "" : json ? ", " : " ") + std::to_string(v);
    return json ? "[" + text + "]" : text.empty() ? "none" : text;
}

std::string decimal(double value, int places)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

struct ChannelUse {
    uint32_t bytes = 0;
    std::set<int> instruments, pattern_instruments, patterns, octaves;
};

void note_uses(const Stream& stream, std::set<int>& instruments, ChannelUse& use)
{
    for (const StreamEvent& se : stream.events) {
        if (se.event.op == Op::instrument) instruments.insert(se.event.operand);
        if (se.event.op == Op::octave) use.octaves.insert(nibble_low(se.event.byte));
        if (se.event.op == Op::pattern_call) use.patterns.insert(se.event.operand);
    }
}

ChannelUse channel_use(const uint8_t* block, size_t size, int c)
{
    const ChannelStreams streams = channel_streams(block, size, c);
    ChannelUse use;
    use.bytes = streams.own.end_pos + 1 - song_table_entry(block, static_cast<unsigned>(c));
    note_uses(streams.own, use.instruments, use);
    for (const auto& [p, body] : streams.patterns) note_uses(body, use.pattern_instruments, use);
    return use;
}

// A moment of the song: its tick, bar, heard frame and time.
struct Moment {
    const SongTimeline& tl;
    uint32_t tick;

    std::string text(bool with_bar = true) const
    {
        return "tick " + std::to_string(tick) + (with_bar ? ", " + bar_text(tl, tick) : "") + ", frame " +
               std::to_string(tick_heard_frame(tl, tick)) + ", " + clock_time(tick_heard_frame(tl, tick));
    }
    std::string json() const
    {
        const BarPosition at = bar_position(tl, tick);
        return "{\"tick\": " + std::to_string(tick) + ", \"bar\": " + std::to_string(at.bar) +
               ", \"beat\": " + std::to_string(at.beat) + ", \"frame\": " + std::to_string(tick_heard_frame(tl, tick)) +
               ", \"time\": " + json_string(clock_time(tick_heard_frame(tl, tick))) + "}";
    }
};

// The bars to list: from the pick-up (or bar 1) to the one the song ends
// in, or that the render cuts.
uint32_t last_listed_bar(const SongTimeline& tl)
{
    uint32_t end = 0;
    if (!song_end_tick(tl, end)) end = tl.ticks - 1;
    return bar_position(tl, end).bar;
}

std::string text_report(const uint8_t* block, size_t size, const SongTimeline& tl,
                        const std::array<std::string, CHANNEL_COUNT>& names)
{
    uint32_t end = 0;
    std::string text = "song: " + std::to_string(song_bars(tl)) + " bars";
    if (tl.pickup > 0) text += " after a pick-up of " + std::to_string(tl.pickup) + " ticks";
    if (song_end_tick(tl, end))
        text += ", ending at " + Moment{tl, end}.text() + "\n";
    else
        text += " when the render cuts it at " + clock_time(SONG_FRAMES) + ": a channel plays on\n";
    text += "tempo:\n";
    for (const TempoSpan& s : tl.tempo)
        text += "  " + (&s == &tl.tempo[0] ? std::string("start") : bar_text(tl, s.set_tick) + " (tick " + std::to_string(s.set_tick) + ")") + ": tempo " +
                std::to_string(s.tempo) + ", a tick every " + std::to_string(s.interval) + " frames, " +
                decimal(beats_per_minute(s.interval), 2) + " beats per minute\n";
    text += "bars:\n";
    for (uint32_t bar = tl.pickup > 0 ? 0 : 1; bar <= last_listed_bar(tl); ++bar)
        text += "  bar " + std::to_string(bar) + ": " + Moment{tl, static_cast<uint32_t>(bar_first_tick(tl, bar))}.text(false) + "\n";
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const ChannelUse use = channel_use(block, size, c);
        const ChannelTiming& ch = tl.channels[c];
        text += "channel " + std::to_string(c) + (names[c].empty() ? "" : " " + names[c]) + ": " +
                std::to_string(use.bytes) + " bytes, instruments " + list(use.instruments, false);
        if (!use.pattern_instruments.empty()) text += " (in patterns: " + list(use.pattern_instruments, false) + ")";
        text += ", patterns " + list(use.patterns, false) + ", octaves " + list(use.octaves, false) + ", ";
        if (!ch.has_hold) text += "no closing hold";
        else if (!ch.reached) text += "closing hold not reached within the render";
        else text += "closing hold at " + Moment{tl, ch.hold_tick}.text();
        if (ch.restarts) text += "; starts over at " + Moment{tl, ch.restart_tick}.text();
        text += '\n';
    }
    return text;
}

std::string json_report(const uint8_t* block, size_t size, const SongTimeline& tl,
                        const std::array<std::string, CHANNEL_COUNT>& names)
{
    uint32_t end = 0;
    const bool ends = song_end_tick(tl, end);
    std::string json = "{\n  \"pickup\": " + std::to_string(tl.pickup) + ",\n  \"bars\": " +
                       std::to_string(song_bars(tl)) + ",\n  \"end\": " + (ends ? Moment{tl, end}.json() : "null") +
                       ",\n  \"tempo\": [";
    for (size_t i = 0; i < tl.tempo.size(); ++i) {
        const TempoSpan& s = tl.tempo[i];
        const BarPosition at = bar_position(tl, s.set_tick);
        json += std::string(i ? "," : "") + "\n    {\"tick\": " + std::to_string(s.set_tick) +
                ", \"bar\": " + std::to_string(at.bar) + ", \"beat\": " + std::to_string(at.beat) +
                ", \"tempo\": " + std::to_string(s.tempo) + ", \"frames_per_tick\": " + std::to_string(s.interval) +
                ", \"beats_per_minute\": " + decimal(beats_per_minute(s.interval), 4) + "}";
    }
    json += "\n  ],\n  \"bar_starts\": [";
    for (uint32_t bar = tl.pickup > 0 ? 0 : 1; bar <= last_listed_bar(tl); ++bar)
        json += std::string(bar > (tl.pickup > 0 ? 0u : 1u) ? "," : "") + "\n    " +
                Moment{tl, static_cast<uint32_t>(bar_first_tick(tl, bar))}.json();
    json += "\n  ],\n  \"channels\": [";
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const ChannelUse use = channel_use(block, size, c);
        const ChannelTiming& ch = tl.channels[c];
        json += std::string(c ? "," : "") + "\n    {\"channel\": " + std::to_string(c) +
                ", \"name\": " + (names[c].empty() ? "null" : json_string(names[c])) +
                ", \"bytes\": " + std::to_string(use.bytes) + ", \"instruments\": " + list(use.instruments, true) +
                ", \"pattern_instruments\": " + list(use.pattern_instruments, true) +
                ", \"patterns\": " + list(use.patterns, true) + ", \"octaves\": " + list(use.octaves, true) +
                ", \"has_closing_hold\": " + (ch.has_hold ? "true" : "false") +
                ", \"closing_hold\": " + (ch.reached ? Moment{tl, ch.hold_tick}.json() : "null") +
                ", \"starts_over\": " + (ch.restarts ? Moment{tl, ch.restart_tick}.json() : "null") + "}";
    }
    return json + "\n  ]\n}\n";
}

}  // namespace

std::string song_info(const uint8_t* block, size_t size, const SongMarks& marks,
                      const std::array<std::string, CHANNEL_COUNT>& names, bool json)
{
    const SongTimeline tl = song_timeline(block, size, marks);
    return json ? json_report(block, size, tl, names) : text_report(block, size, tl, names);
}
