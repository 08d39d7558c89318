#include "song_check.h"

#include <array>
#include <cstdio>
#include <set>
#include <tuple>

#include "data/tables.h"
#include "song/bytecode.h"

namespace {

std::string hex4(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
    return text;
}

std::string hex2(uint8_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}


// Every (octave, transpose) pair a channel can have at one point of its
// stream. Octave and transposition are only ever set to absolute values, so
// the set stays small and exact up to the joins of loops and restarts.
struct PitchStates {
    std::array<std::array<uint64_t, 4>, 16> rows{};  // [octave][transpose + 128]

    void add(int octave, int transpose)
    {
        const unsigned t = static_cast<unsigned>(transpose + 128);
        rows[octave][t >> 6] |= uint64_t{1} << (t & 63);
    }
    bool has(int octave, unsigned t) const { return rows[octave][t >> 6] >> (t & 63) & 1; }
    bool empty_row(int octave) const
    {
        return (rows[octave][0] | rows[octave][1] | rows[octave][2] | rows[octave][3]) == 0;
    }
    void set_octave(int octave)
    {
        std::array<uint64_t, 4> any{};
        for (const auto& row : rows)
            for (int w = 0; w < 4; ++w) any[w] |= row[w];
        rows = {};
        rows[octave] = any;
    }
    void set_transpose(int transpose)
    {
        for (int o = 0; o < 16; ++o) {
            if (empty_row(o)) continue;
            rows[o] = {};
            add(o, transpose);
        }
    }
    // Adds `other`; true if that added anything.
    bool merge(const PitchStates& other)
    {
        bool grown = false;
        for (int o = 0; o < 16; ++o)
            for (int w = 0; w < 4; ++w) {
                const uint64_t joined = rows[o][w] | other.rows[o][w];
                grown |= joined != rows[o][w];
                rows[o][w] = joined;
            }
        return grown;
    }
};

struct ParsedStream {
    bool sound = false;          // decoded and structurally valid
    Stream stream;
    std::vector<int> match;      // index of the matching loop bracket, per event
    int max_depth = 0;
};

struct Checker {
    const uint8_t* block;
    size_t size;
    std::vector<SongError> errors;
    std::set<std::tuple<int, int, uint32_t, std::string>> reported;
    std::array<ParsedStream, SONG_PATTERNS> patterns;
    std::array<ParsedStream, CHANNEL_COUNT> channels;

    void report(SongPlace place, uint32_t offset, const char* rule, const std::string& message)
    {
        if (reported.emplace(place.channel, place.pattern, offset, message).second)
            errors.push_back({place, offset, rule, message});
    }

    bool entry_inside(uint16_t entry) const
    {
        return entry >= SONG_HEADER_SIZE && entry < size;
    }

    std::string outside_message(uint16_t entry) const
    {
        return "starts at " + hex4(entry) + ", outside the streams " +
               hex4(SONG_HEADER_SIZE) + ".." + hex4(static_cast<uint32_t>(size - 1));
    }

    // Decoding and the rules a stream obeys on its own. Returns the parsed
    // stream; `sound` is false if any rule is broken.
    ParsedStream parse(SongPlace context, uint32_t start, bool is_pattern)
    {
        ParsedStream parsed;
        const size_t errors_before = errors.size();
        if (!decode_stream(block, size, start, parsed.stream)) {
            const uint32_t at = parsed.stream.end_pos;
            if (at < size && event_op(block[at]) == Op::undefined) {
                report(context, at, "undefined-byte", "undefined command byte " + hex2(block[at]));
            } else {
                report(context, at, "missing-end", "stream runs off the end of the block without end");
            }
            return parsed;
        }
        const auto& events = parsed.stream.events;
        parsed.match.assign(events.size(), -1);
        std::vector<int> open;
        for (size_t i = 0; i < events.size(); ++i) {
            const Event& e = events[i].event;
            const uint32_t at = events[i].pos;
            switch (e.op) {
            case Op::loop_start:
                open.push_back(static_cast<int>(i));
                if (static_cast<int>(open.size()) > parsed.max_depth)
                    parsed.max_depth = static_cast<int>(open.size());
                if (open.size() == SONG_LOOP_LEVELS + 1)
                    report(context, at, "loop-depth", "loops nest deeper than 5");
                break;
            case Op::loop_end:
                if (open.empty()) {
                    report(context, at, "loop-unopened", "loop_end without an open loop");
                } else {
                    parsed.match[open.back()] = static_cast<int>(i);
                    parsed.match[i] = open.back();
                    open.pop_back();
                }
                break;
            case Op::pattern_call:
                if (is_pattern)
                    report(context, at, "call-in-pattern", "pattern_call inside a pattern (calls do not nest)");
                else if (e.operand >= SONG_PATTERNS)
                    report(context, at, "unknown-pattern",
                           "pattern " + std::to_string(e.operand) + " does not exist (patterns are 0..47)");
                break;
            case Op::instrument:
                if (e.operand >= INSTRUMENT_COUNT)
                    report(context, at, "unknown-instrument", unknown_instrument_message(std::to_string(e.operand)));
                break;
            default:
                break;
            }
        }
        for (int i : open) report(context, events[i].pos, "loop-unclosed", "loop is not closed before end");
        parsed.sound = errors.size() == errors_before;
        return parsed;
    }

    bool pattern_takes_time(int p) const
    {
        // A broken pattern has its own error; do not pile a second one on.
        return !patterns[p].sound || takes_time(patterns[p], 0, patterns[p].stream.events.size());
    }

    // Whether events [begin, end) always take at least one tick. Loops run
    // their body at least once, so time anywhere inside counts.
    bool takes_time(const ParsedStream& s, size_t begin, size_t end) const
    {
        for (size_t i = begin; i < end; ++i) {
            const Event& e = s.stream.events[i].event;
            if ((e.op == Op::note || e.op == Op::rest) &&
                nibble_low(e.byte) != LENGTH_CODE_TIMELESS)
                return true;
            if (e.op == Op::pattern_call && e.operand < SONG_PATTERNS &&
                pattern_takes_time(e.operand))
                return true;
        }
        return false;
    }

    // A loop that repeats must take time on every pass, or the channel
    // never leaves the tick.
    void check_loop_times(SongPlace context, const ParsedStream& s)
    {
        for (size_t i = 0; i < s.stream.events.size(); ++i) {
            const Event& e = s.stream.events[i].event;
            if (e.op != Op::loop_start || e.operand == 1) continue;
            if (!takes_time(s, i + 1, static_cast<size_t>(s.match[i])))
                report(context, s.stream.events[i].pos, "timeless-loop",
                       "loop body takes no time, so the channel would never leave the tick");
        }
    }

    void check_pitch(SongPlace w, const StreamEvent& se, const PitchStates& states)
    {
        const int n = nibble_high(se.event.byte);
        for (int o = 0; o < 16; ++o) {
            if (states.empty_row(o)) continue;
            for (unsigned t = 0; t < 256; ++t) {
                if (!states.has(o, t)) continue;
                const int transpose = static_cast<int>(t) - 128;
                const int index = 12 * o + n + transpose;
                if (index >= 0 && index < NOTE_COUNT) continue;
                report(w, se.pos, "pitch-range",
                       "pitch index " + std::to_string(index) + " is outside 0..71 (octave " +
                           std::to_string(o) + ", note " + std::to_string(n) + ", transpose " +
                           std::to_string(transpose) + ")");
                return;
            }
        }
    }

    // Plays events [begin, end) of a stream on the states, checking the
    // rules that depend on the channel: pitch range, the drum channel's
    // octave and instrument, and loop depth through pattern calls.
    void walk(SongPlace w, const ParsedStream& s, size_t begin, size_t end, int depth,
              PitchStates& states)
    {
        for (size_t i = begin; i < end; ++i) {
            const StreamEvent& se = s.stream.events[i];
            const Event& e = se.event;
            switch (e.op) {
            case Op::octave:
                if (w.channel == DRUM_CHANNEL && nibble_low(e.byte) > 6)
                    report(w, se.pos, "drum-octave",
                           "drum octave " + std::to_string(nibble_low(e.byte)) +
                               " is outside 0..6");
                states.set_octave(nibble_low(e.byte));
                break;
            case Op::transpose:
                states.set_transpose(operand_signed(e.operand));
                break;
            case Op::note:
                if (w.channel != DRUM_CHANNEL) check_pitch(w, se, states);
                break;
            case Op::instrument:
                if (w.channel == DRUM_CHANNEL)
                    report(w, se.pos, "drum-instrument", "instrument on the drum channel");
                break;
            case Op::loop_start: {
                const size_t close = static_cast<size_t>(s.match[i]);
                PitchStates entry = states;
                walk(w, s, i + 1, close, depth + 1, states);
                // A repeating body starts again from any state it can end in.
                while (e.operand != 1 && entry.merge(states)) {
                    states = entry;
                    walk(w, s, i + 1, close, depth + 1, states);
                }
                i = close;
                break;
            }
            case Op::pattern_call: {
                const ParsedStream& called = patterns[e.operand];
                if (!called.sound) break;
                if (depth + called.max_depth > SONG_LOOP_LEVELS)
                    report(w, se.pos, "loop-depth",
                           "loops nest deeper than 5 counting those of pattern " +
                               std::to_string(e.operand));
                walk({w.channel, e.operand}, called, 0, called.stream.events.size(), depth,
                     states);
                break;
            }
            default:
                break;
            }
        }
    }

    void check_patterns()
    {
        for (int p = 0; p < SONG_PATTERNS; ++p) {
            const uint16_t entry = song_table_entry(block, CHANNEL_COUNT + p);
            if (entry == 0) continue;  // not defined
            if (!entry_inside(entry)) {
                report({-1, p}, 2 * (CHANNEL_COUNT + p), "outside-streams", outside_message(entry));
                continue;
            }
            patterns[p] = parse({-1, p}, entry, true);
        }
        for (int p = 0; p < SONG_PATTERNS; ++p)
            if (patterns[p].sound) check_loop_times({-1, p}, patterns[p]);
    }

    // Calls must reach a defined pattern.
    void check_calls(int c)
    {
        for (const StreamEvent& se : channels[c].stream.events) {
            if (se.event.op != Op::pattern_call || se.event.operand >= SONG_PATTERNS) continue;
            const uint16_t entry = song_table_entry(block, CHANNEL_COUNT + se.event.operand);
            const std::string called = "calls pattern " + std::to_string(se.event.operand) + ", which ";
            if (entry == 0)  // no table entry
                report({c, -1}, se.pos, "undefined-pattern", called + "is not defined");
            else if (!entry_inside(entry))
                report({c, -1}, se.pos, "undefined-pattern", called + outside_message(entry));
        }
    }

    void check_channel(int c)
    {
        const SongPlace context{c, -1};
        const uint16_t entry = song_table_entry(block, static_cast<unsigned>(c));
        if (!entry_inside(entry)) {
            report(context, 2 * static_cast<uint32_t>(c), "outside-streams", outside_message(entry));
            return;
        }
        channels[c] = parse(context, entry, false);
        if (!channels[c].sound) return;
        check_calls(c);
        const ParsedStream& s = channels[c];
        check_loop_times(context, s);
        if (!takes_time(s, 0, s.stream.events.size()))
            report(context, entry, "timeless-channel", "channel stream takes no time before it starts over");

        // The channel starts over with the octave and transposition it ended
        // with, so play it until no new state turns up at its start.
        PitchStates start;
        start.add(TARQ_START_OCTAVE[c], 0);
        for (;;) {
            PitchStates states = start;
            walk({c, -1}, s, 0, s.stream.events.size(), 0, states);
            if (!start.merge(states)) break;
        }
    }
};

}  // namespace

std::string unknown_instrument_message(const std::string& number)
{
    return "instrument " + number + " does not exist (instruments are 0.." + std::to_string(INSTRUMENT_COUNT - 1) + ")";
}

std::string song_place_name(const SongPlace& place)
{
    const std::string channel = "channel " + std::to_string(place.channel);
    const std::string pattern = "pattern " + std::to_string(place.pattern);
    if (place.pattern < 0) return place.channel < 0 ? "song" : channel;
    return place.channel < 0 ? pattern : pattern + " (called from " + channel + ")";
}

std::string format_song_error(const SongError& error)
{
    return song_place_name(error.place) + ", offset " + hex4(error.offset) + ": " + error.message;
}

bool decode_stream(const uint8_t* block, size_t size, uint32_t start, Stream& stream)
{
    stream.events.clear();
    size_t pos = start;
    Event e;
    while (decode_event(block, size, pos, e)) {
        if (e.op == Op::undefined) break;
        if (e.op == Op::end) {
            stream.end_pos = static_cast<uint32_t>(pos);
            return true;
        }
        stream.events.push_back({static_cast<uint32_t>(pos), e});
        pos += e.size;
    }
    stream.end_pos = static_cast<uint32_t>(pos);  // where decoding stopped
    return false;
}

ChannelStreams channel_streams(const uint8_t* block, size_t size, int channel)
{
    ChannelStreams streams;
    decode_stream(block, size, song_table_entry(block, static_cast<unsigned>(channel)), streams.own);
    std::set<int> called;
    for (const StreamEvent& se : streams.own.events)
        if (se.event.op == Op::pattern_call) called.insert(se.event.operand);
    for (const int p : called) {
        streams.patterns.push_back({p, {}});
        decode_stream(block, size, song_table_entry(block, CHANNEL_COUNT + static_cast<unsigned>(p)),
                      streams.patterns.back().second);
    }
    return streams;
}

std::vector<SongError> check_song(const uint8_t* block, size_t size)
{
    if (size < SONG_HEADER_SIZE)
        return {{{}, 0, "block-size",
                 "block of " + std::to_string(size) +
                     " bytes is shorter than its 112-byte offset table"}};
    if (size > SONG_MAX_SIZE)
        return {{{}, static_cast<uint32_t>(SONG_MAX_SIZE), "block-size",
                 "block of " + std::to_string(size) +
                     " bytes is larger than the 65536 bytes that 16-bit offsets reach"}};
    Checker checker{block, size, {}, {}, {}, {}};
    checker.check_patterns();
    for (int c = 0; c < CHANNEL_COUNT; ++c) checker.check_channel(c);
    return checker.errors;
}
