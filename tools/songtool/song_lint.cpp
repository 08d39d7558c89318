#include "song_lint.h"

#include <string>

namespace {

constexpr int PANNING_SIDE = 100;

Stream stream_at(const uint8_t* block, size_t size, unsigned entry)
{
    Stream s;
    decode_stream(block, size, song_table_entry(block, entry), s);
    return s;
}

// The pan law turns past a quarter beyond a side: the other side's gain
// changes sign.
void check_panning(SongPlace place, const StreamEvent& se, std::vector<SongWarning>& out)
{
    const int panning = operand_signed(se.event.operand);
    if (panning >= -PANNING_SIDE && panning <= PANNING_SIDE) return;
    const char* inverted = panning > 0 ? "left" : "right";
    out.push_back({{place, se.pos, "panning-range",
                    "panning " + std::to_string(panning) + " is beyond -100..100: the " + inverted +
                        " side plays polarity-inverted"}});
}

void check_drum_command(SongPlace place, const StreamEvent& se, std::vector<SongWarning>& out)
{
    const char* name = se.event.op == Op::panning ? "panning" : "transpose";
    out.push_back({{place, se.pos, "drum-no-effect",
                    std::string(name) + " on the drum channel has no effect"}});
}

void lint_stream(const Stream& s, SongPlace place, bool drum, std::vector<SongWarning>& out)
{
    for (const StreamEvent& se : s.events) {
        if (se.event.op == Op::panning) check_panning(place, se, out);
        if (drum && (se.event.op == Op::panning || se.event.op == Op::transpose)) check_drum_command(place, se, out);
    }
}

// Patterns channel c calls (any channel's when c is -1).
std::array<bool, SONG_PATTERNS> called_patterns(const uint8_t* block, size_t size, int only)
{
    std::array<bool, SONG_PATTERNS> called{};
    for (int c = 0; c < CHANNEL_COUNT; ++c)
        if (only < 0 || c == only)
            for (const auto& [p, body] : channel_streams(block, size, c).patterns) called[p] = true;
    return called;
}

}  // namespace

std::vector<SongWarning> lint_song(const uint8_t* block, size_t size, const SongMarks& marks)
{
    std::vector<SongWarning> out;
    const auto drum_calls = called_patterns(block, size, DRUM_CHANNEL);
    for (int c = 0; c < CHANNEL_COUNT; ++c)
        lint_stream(stream_at(block, size, static_cast<unsigned>(c)), {c, -1}, c == DRUM_CHANNEL, out);
    const auto called = called_patterns(block, size, -1);
    for (int p = 0; p < SONG_PATTERNS; ++p) {
        if (song_table_entry(block, CHANNEL_COUNT + p) == 0) continue;  // not defined
        const uint32_t entry = 2 * static_cast<uint32_t>(CHANNEL_COUNT + p);
        if (!called[p]) {
            out.push_back({{{-1, p}, entry, "unused-pattern",
                            "pattern " + std::to_string(p) + " is defined but no channel calls it"}});
            continue;
        }
        lint_stream(stream_at(block, size, CHANNEL_COUNT + p), {drum_calls[p] ? DRUM_CHANNEL : -1, p},
                    drum_calls[p], out);
    }
    song_timeline(block, size, marks, &out);
    return out;
}

std::array<bool, INSTRUMENT_COUNT> instruments_played(const uint8_t* block, size_t size)
{
    std::array<bool, INSTRUMENT_COUNT> played{};
    played[0] = true;
    const auto note = [&](const Stream& s) {
        for (const StreamEvent& se : s.events)
            if (se.event.op == Op::instrument && se.event.operand < INSTRUMENT_COUNT) played[se.event.operand] = true;
    };
    for (int c = 0; c < OSC_CHANNELS; ++c) {
        const ChannelStreams streams = channel_streams(block, size, c);
        note(streams.own);
        for (const auto& [p, body] : streams.patterns) note(body);
    }
    return played;
}
