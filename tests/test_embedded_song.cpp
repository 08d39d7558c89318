// The embedded song against the layout it must have: size, tables, byte
// budgets, verbatim excerpts, what each channel and pattern may contain,
// and when every channel reaches its closing hold as the interpreter plays it.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "song/bytecode.h"
#include "song_check.h"
#include "song_info.h"

namespace {

constexpr std::array<uint16_t, 8> CHANNEL_STARTS = {0x0070, 0x0230, 0x0384, 0x04A0,
                                                     0x061D, 0x088D, 0x0913, 0x0BF3};
constexpr std::array<uint32_t, 8> CHANNEL_BYTES = {448, 340, 284, 381, 624, 134, 736, 388};
constexpr uint8_t CLOSING_HOLD[] = {0xF0, 0xFF, 0x00, 0xF1, 0xFF};

uint16_t entry(unsigned k) { return song_table_entry(tarq_data, k); }

Stream decoded(uint16_t start)
{
    Stream s;
    decode_stream(tarq_data, tarq_data_size, start, s);
    return s;
}

uint32_t pattern_size(int p)
{
    const uint32_t next = p == 47 ? tarq_data_size - 1 : entry(SONG_CHANNELS + p + 1);
    return next - entry(SONG_CHANNELS + p);
}

struct Uses {
    std::set<int> instruments, patterns, octaves, pans, transposes;
    int loops = 0, max_depth = 0, tempos = 0, pattern_instruments = 0;
};

Uses uses_of(const Stream& s)
{
    Uses u;
    int depth = 0;
    for (const StreamEvent& se : s.events) {
        const Event& e = se.event;
        if (e.op == Op::instrument) u.instruments.insert(e.operand);
        if (e.op == Op::pattern_call) u.patterns.insert(e.operand);
        if (e.op == Op::octave) u.octaves.insert(nibble_low(e.byte));
        if (e.op == Op::panning) u.pans.insert(static_cast<int8_t>(e.operand));
        if (e.op == Op::transpose) u.transposes.insert(static_cast<int8_t>(e.operand));
        if (e.op == Op::tempo) ++u.tempos;
        if (e.op == Op::loop_start) { ++u.loops; u.max_depth = std::max(u.max_depth, ++depth); }
        if (e.op == Op::loop_end) --depth;
    }
    return u;
}

std::vector<uint8_t> bytes_at(uint32_t pos, uint32_t n)
{
    return {tarq_data + pos, tarq_data + pos + n};
}

}  // namespace

TEST(EmbeddedSong, SizeTablesAndTrailingZero)
{
    ASSERT_EQ(tarq_data_size, 4993u);
    for (unsigned c = 0; c < 8; ++c) EXPECT_EQ(entry(c), CHANNEL_STARTS[c]) << "channel " << c;
    EXPECT_EQ(entry(8), 0x0D77);
    EXPECT_EQ(entry(8 + 47), 0x136C);
    EXPECT_EQ(pattern_size(47), 20u);
    EXPECT_EQ(tarq_data[4992], 0);
    EXPECT_TRUE(check_song(tarq_data, tarq_data_size).empty());
}

TEST(EmbeddedSong, ChannelBudgetsAndClosingHold)
{
    for (unsigned c = 0; c < 8; ++c) {
        const Stream s = decoded(entry(c));
        EXPECT_EQ(s.end_pos + 1 - entry(c), CHANNEL_BYTES[c]) << "channel " << c;
        EXPECT_EQ(bytes_at(s.end_pos - 4, 5), std::vector<uint8_t>(CLOSING_HOLD, CLOSING_HOLD + 5))
            << "channel " << c;
    }
}

TEST(EmbeddedSong, VerbatimExcerpts)
{
    EXPECT_EQ(bytes_at(0, 16), (std::vector<uint8_t>{0x00, 0x70, 0x02, 0x30, 0x03, 0x84, 0x04, 0xA0,
                                                     0x06, 0x1D, 0x08, 0x8D, 0x09, 0x13, 0x0B, 0xF3}));
    EXPECT_EQ(bytes_at(0x0070, 16), (std::vector<uint8_t>{0x02, 0xD3, 0xF5, 0x05, 0xF7, 0xEC, 0xF4, 0xFF,
                                                          0x01, 0xE8, 0x83, 0xD4, 0x4C, 0x04, 0x06, 0xD3}));
    EXPECT_EQ(bytes_at(0x0BF3, 11), (std::vector<uint8_t>{0xF3, 0x2B, 0x02, 0xD3, 0xE1, 0x76, 0xE2, 0x76,
                                                          0xE3, 0x76, 0x76}));
    EXPECT_EQ(bytes_at(entry(8 + 44), 18),
              (std::vector<uint8_t>{0xF0, 0x02, 0xF5, 0x07, 0xD4, 0x40, 0xF6, 0x30, 0xF0, 0x05, 0x00,
                                    0xF1, 0xF5, 0x0A, 0xD5, 0x40, 0xF1, 0xFF}));
}

TEST(EmbeddedSong, OscillatorChannelsOpenWithRestSetUpRest)
{
    for (unsigned c = 0; c < 7; ++c) {
        const Stream s = decoded(entry(c));
        EXPECT_EQ(s.events.front().event.byte, 0x02) << "channel " << c;
        size_t i = 1;
        while (s.events[i].event.op != Op::rest) ++i;
        EXPECT_EQ(s.events[i].event.byte, 0x01) << "channel " << c;
        EXPECT_GE(i, 3u) << "channel " << c << " has set-up commands";
    }
}

TEST(EmbeddedSong, PatternsStayWithinTheirRules)
{
    uint32_t total = 0;
    for (int p = 0; p < 48; ++p) {
        const uint32_t n = pattern_size(p);
        total += n;
        EXPECT_GE(n, 9u) << "pattern " << p;
        EXPECT_LE(n, 91u) << "pattern " << p;
        const Uses u = uses_of(decoded(entry(SONG_CHANNELS + p)));
        EXPECT_EQ(u.loops > 0, p == 28 || p == 29 || p == 44) << "pattern " << p;
        EXPECT_EQ(!u.instruments.empty(), p == 28 || p == 44) << "pattern " << p;
        EXPECT_TRUE(u.patterns.empty() && u.tempos == 0 && u.pans.empty() && u.transposes.empty())
            << "pattern " << p;
    }
    EXPECT_EQ(total, 1545u);
    EXPECT_EQ(uses_of(decoded(entry(SONG_CHANNELS + 44))).max_depth, 2);
}

TEST(EmbeddedSong, EachChannelCallsItsOwnPatternsAndInstruments)
{
    const std::array<std::set<int>, 8> patterns = {{{5, 11, 16, 22, 31, 36, 46},
                                                    {6, 12, 17, 23, 32, 37, 47},
                                                    {7, 13, 18, 24, 33, 38},
                                                    {8, 14, 19, 25, 34, 39},
                                                    {1, 9, 15, 20, 26, 35, 40, 41, 42, 43},
                                                    {44},
                                                    {0, 4, 28, 29, 45},
                                                    {2, 3, 10, 21, 27, 30}}};
    const std::array<std::set<int>, 8> instruments = {{{5, 12, 13}, {5, 12, 13}, {5, 12, 13},
                                                       {1, 5, 12, 13}, {0, 3, 13}, {2, 7, 8, 9},
                                                       {2, 4, 6, 13}, {}}};
    const std::array<std::set<int>, 8> pans = {{{-20}, {20}, {-40}, {40}, {}, {}, {}, {}}};
    const std::array<std::set<int>, 8> octaves = {{{1, 2, 3, 4}, {2, 3}, {2, 3}, {1, 2, 3},
                                                   {0, 1, 2, 3}, {}, {}, {2, 3, 4, 5}}};
    std::set<int> all_instruments;
    for (int c = 0; c < 8; ++c) {
        const Uses u = uses_of(decoded(entry(static_cast<unsigned>(c))));
        EXPECT_EQ(u.patterns, patterns[c]) << "channel " << c;
        EXPECT_EQ(u.instruments, instruments[c]) << "channel " << c;
        EXPECT_EQ(u.pans, pans[c]) << "channel " << c;
        std::set<int> octs = u.octaves;
        for (int p : u.patterns) {
            const Uses pu = uses_of(decoded(entry(SONG_CHANNELS + p)));
            octs.insert(pu.octaves.begin(), pu.octaves.end());
            all_instruments.insert(pu.instruments.begin(), pu.instruments.end());
        }
        if (!octaves[c].empty()) {
            EXPECT_EQ(octs, octaves[c]) << "channel " << c;
        }
        all_instruments.insert(u.instruments.begin(), u.instruments.end());
    }
    EXPECT_EQ(all_instruments.size(), 14u);
    EXPECT_EQ(uses_of(decoded(entry(6))).transposes, (std::set<int>{-1, 0}));
    EXPECT_EQ(uses_of(decoded(entry(6))).max_depth, 2);
    EXPECT_EQ(uses_of(decoded(entry(7))).tempos, 2);
}

// 96 ticks of opening rests and 72 bars of 128 ticks; the interpreter runs
// tick 9,312 after frame 5,668,714 once the drums switch to tempo 63 in
// tick 9,120.
TEST(EmbeddedSong, EveryChannelReachesItsClosingHoldInTheSameTick)
{
    const auto times = closing_hold_times(tarq_data, tarq_data_size, SONG_FRAMES);
    for (int c = 0; c < 8; ++c) {
        ASSERT_TRUE(times[c].reached) << "channel " << c;
        EXPECT_EQ(times[c].tick, 96u + 72u * 128u) << "channel " << c;
        EXPECT_EQ(times[c].frame, 5668714u) << "channel " << c;
    }
}
