// The embedded song against the layout it must have: size, tables, byte budgets,
// verbatim excerpts, what each channel and pattern may contain, and its closing holds.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "song/bytecode.h"
#include "song_check.h"
#include "song_timeline.h"

namespace {

uint16_t entry(unsigned k) { return song_table_entry(tarq_data, k); }

Stream decoded(uint16_t start)
{
    Stream s;
    decode_stream(tarq_data, tarq_data_size, start, s);
    return s;
}

std::vector<uint8_t> bytes_at(uint32_t pos, uint32_t n) { return {tarq_data + pos, tarq_data + pos + n}; }

struct Uses {
    std::set<int> instruments, patterns, pans, transposes, octaves;
    int loops = 0, max_depth = 0, tempos = 0;
};

Uses uses_of(uint16_t start)
{
    Uses u;
    int depth = 0;
    for (const StreamEvent& se : decoded(start).events) {
        const Event& e = se.event;
        if (e.op == Op::instrument) u.instruments.insert(e.operand);
        if (e.op == Op::pattern_call) u.patterns.insert(e.operand);
        if (e.op == Op::octave) u.octaves.insert(nibble_low(e.byte));
        if (e.op == Op::panning) u.pans.insert(static_cast<int8_t>(e.operand));
        if (e.op == Op::transpose) u.transposes.insert(static_cast<int8_t>(e.operand));
        u.tempos += e.op == Op::tempo;
        if (e.op == Op::loop_start) u.max_depth = std::max(u.max_depth, ++depth), ++u.loops;
        if (e.op == Op::loop_end) --depth;
    }
    return u;
}

}  // namespace

// Every channel reaches its closing hold in tick 9,312 (96 ticks of opening rests and 72 bars
// of 128), run after frame 5,668,714 once the drums switch to tempo 63 in tick 9,120.
TEST(EmbeddedSong, SizeTablesBudgetsAndClosingHolds)
{
    const SongTimeline timeline = song_timeline(tarq_data, tarq_data_size, SongMarks{});
    const uint16_t starts[8] = {0x0070, 0x0230, 0x0384, 0x04A0, 0x061D, 0x088D, 0x0913, 0x0BF3};
    const uint32_t budgets[8] = {448, 340, 284, 381, 624, 134, 736, 388};
    ASSERT_EQ(tarq_data_size, 4993u);
    EXPECT_EQ(tarq_data[4992], 0);
    EXPECT_TRUE(check_song(tarq_data, tarq_data_size).empty());
    for (unsigned c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(entry(c), starts[c]);
        const Stream s = decoded(entry(c));
        EXPECT_EQ(s.end_pos + 1 - entry(c), budgets[c]);
        EXPECT_EQ(bytes_at(s.end_pos - 4, 5), (std::vector<uint8_t>{0xF0, 0xFF, 0x00, 0xF1, 0xFF}));
        ASSERT_TRUE(timeline.channels[c].reached);
        EXPECT_EQ(timeline.channels[c].hold_tick, 96u + 72u * 128u);
        EXPECT_EQ(tick_frame(timeline, timeline.channels[c].hold_tick), 5668714u);
    }
    EXPECT_EQ(entry(8), 0x0D77);
    EXPECT_EQ(entry(8 + 47), 0x136C);
    EXPECT_EQ(bytes_at(0x0070, 16), (std::vector<uint8_t>{0x02, 0xD3, 0xF5, 0x05, 0xF7, 0xEC, 0xF4, 0xFF,
                                                          0x01, 0xE8, 0x83, 0xD4, 0x4C, 0x04, 0x06, 0xD3}));
    EXPECT_EQ(bytes_at(0x0BF3, 11), (std::vector<uint8_t>{0xF3, 0x2B, 0x02, 0xD3, 0xE1, 0x76, 0xE2, 0x76, 0xE3, 0x76, 0x76}));
    EXPECT_EQ(bytes_at(entry(8 + 44), 18), (std::vector<uint8_t>{0xF0, 0x02, 0xF5, 0x07, 0xD4, 0x40, 0xF6, 0x30, 0xF0,
                                                                 0x05, 0x00, 0xF1, 0xF5, 0x0A, 0xD5, 0x40, 0xF1, 0xFF}));
}

// Channels 0..6 open with a rest of code 2, their set-up, then a rest of code 1.
TEST(EmbeddedSong, OscillatorChannelsOpenWithRestSetUpRest)
{
    for (unsigned c = 0; c < 7; ++c) {
        SCOPED_TRACE(c);
        const auto& events = decoded(entry(c)).events;
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(tarq_data[entry(c)], 0x02);
        size_t next = 1;
        while (next < events.size() && events[next].event.op != Op::rest && events[next].event.op != Op::note) ++next;
        ASSERT_LT(next, events.size());
        EXPECT_GT(next, 1u);  // some set-up between the rests
        EXPECT_EQ(tarq_data[events[next].pos], 0x01);
    }
}

TEST(EmbeddedSong, PatternsStayWithinTheirRules)
{
    uint32_t total = 0;
    for (int p = 0; p < 48; ++p) {
        SCOPED_TRACE(p);
        const uint32_t n = (p == 47 ? tarq_data_size - 1 : entry(CHANNEL_COUNT + p + 1)) - entry(CHANNEL_COUNT + p);
        total += n;
        EXPECT_GE(n, 9u);
        EXPECT_LE(n, 91u);
        const Uses u = uses_of(entry(CHANNEL_COUNT + p));
        EXPECT_EQ(u.loops > 0, p == 28 || p == 29 || p == 44);
        EXPECT_EQ(!u.instruments.empty(), p == 28 || p == 44);
        EXPECT_TRUE(u.patterns.empty() && u.tempos == 0 && u.pans.empty() && u.transposes.empty());
    }
    EXPECT_EQ(total, 1545u);
    EXPECT_EQ(uses_of(entry(CHANNEL_COUNT + 44)).max_depth, 2);
}

TEST(EmbeddedSong, EachChannelCallsItsOwnPatternsAndInstruments)
{
    const std::set<int> patterns[8] = {{5, 11, 16, 22, 31, 36, 46}, {6, 12, 17, 23, 32, 37, 47},
                                       {7, 13, 18, 24, 33, 38}, {8, 14, 19, 25, 34, 39},
                                       {1, 9, 15, 20, 26, 35, 40, 41, 42, 43}, {44}, {0, 4, 28, 29, 45},
                                       {2, 3, 10, 21, 27, 30}};
    const std::set<int> instruments[8] = {{5, 12, 13}, {5, 12, 13}, {5, 12, 13}, {1, 5, 12, 13},
                                          {0, 3, 13}, {2, 7, 8, 9}, {2, 4, 6, 13}, {}};
    const std::set<int> pans[8] = {{-20}, {20}, {-40}, {40}, {}, {}, {}, {}};
    const std::set<int> octaves[8] = {{1, 2, 3, 4}, {2, 3}, {2, 3}, {1, 2, 3}, {0, 1, 2, 3}, {}, {}, {2, 3, 4, 5}};
    std::set<int> all_instruments;
    for (unsigned c = 0; c < 8; ++c) {
        SCOPED_TRACE(c);
        const Uses u = uses_of(entry(c));
        EXPECT_EQ(u.patterns, patterns[c]);
        EXPECT_EQ(u.instruments, instruments[c]);
        EXPECT_EQ(u.pans, pans[c]);
        all_instruments.insert(u.instruments.begin(), u.instruments.end());
        std::set<int> reached = u.octaves;
        for (int p : u.patterns) {
            const Uses in_pattern = uses_of(entry(CHANNEL_COUNT + p));
            all_instruments.insert(in_pattern.instruments.begin(), in_pattern.instruments.end());
            reached.insert(in_pattern.octaves.begin(), in_pattern.octaves.end());
        }
        if (c != 5 && c != 6) {
            EXPECT_EQ(reached, octaves[c]);
        }
    }
    EXPECT_EQ(all_instruments.size(), 14u);
    EXPECT_EQ(uses_of(entry(6)).transposes, (std::set<int>{-1, 0}));
    EXPECT_EQ(uses_of(entry(6)).max_depth, 2);
    EXPECT_EQ(uses_of(entry(7)).tempos, 2);
}
