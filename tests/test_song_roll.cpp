// The piano roll's reading of a song as the interpreter plays it, and the `check --json` findings.
#include <gtest/gtest.h>

#include <algorithm>

#include "song_findings.h"
#include "song_roll.h"
#include "song_test_songs.h"

namespace {

const std::string HOLD = "[ r1 ]255";

std::string held_channels(int from, int to)
{
    std::string text;
    for (int c = from; c <= to; ++c) text += "channel " + std::to_string(c) + "\n  r1 " + HOLD + "\n";
    return text;
}

Roll roll_of(const std::string& text)
{
    const std::vector<uint8_t> block = assemble_ok(text);
    return observe_roll(block.data(), block.size());
}

// Quarters are 32 ticks, eighths 16; octave o's c is pitch 12 o + 1. c0 never sounds,
// a tie to the same pitch makes one note, a tie to g keeps e's pitch, a tied drum does not strike.
TEST(SongRoll, NotesTiesHitsAndCallsComeAtTheirTicks)
{
    const Roll roll = roll_of("channel 0\n  o3 l4 c d & d e & g8 r8 " + HOLD + "\nchannel 1\n  o2 c0 e4 *fill " +
                              HOLD + "\n" + held_channels(2, 6) + "channel 7\n  t43 o3 c8 & c8 d8 r8 " + HOLD +
                              "\npattern fill\n  a8 b8\n");
    const std::vector<std::array<int64_t, 5>> expected = {  // channel, start, end, pitch, tied from
        {0, 0, 32, 37, -1}, {1, 0, 32, 29, -1},  {0, 32, 96, 39, -1},   {1, 32, 48, 34, -1},
        {1, 48, 64, 36, -1}, {0, 96, 128, 41, -1}, {0, 128, 144, 44, 41}};
    std::vector<RollNote> notes = roll.notes;
    std::stable_sort(notes.begin(), notes.end(), [](const RollNote& a, const RollNote& b) { return a.start < b.start; });
    ASSERT_EQ(notes.size(), expected.size());
    for (size_t i = 0; i < notes.size(); ++i)
        EXPECT_EQ((std::array<int64_t, 5>{notes[i].channel, int64_t(notes[i].start), int64_t(notes[i].end),
                                          notes[i].pitch, notes[i].tied_from}), expected[i]) << i;
    ASSERT_EQ(roll.hits.size(), 2u);
    EXPECT_EQ(roll.hits[1].tick, 32u);
    EXPECT_EQ(roll.hits[1].sample, 2);
    ASSERT_EQ(roll.tempos.size(), 1u);  // the first tick's tempo replaces the start value
    EXPECT_EQ(roll.tempos[0].value, 43);
    ASSERT_EQ(roll.calls.size(), 1u);
    EXPECT_EQ(roll.calls[0].tick, 32u);
    EXPECT_EQ(roll.hold_tick, (std::array<int64_t, CHANNEL_COUNT>{160, 64, 128, 128, 128, 128, 128, 64}));
    EXPECT_EQ(roll.end_tick, 160u + 128u);  // one bar of the last hold
}

TEST(SongRoll, TempoChangesAndRollLength)
{
    const Roll roll = roll_of(held_channels(0, 6) + "channel 7\n  r4 t43 r4 t43 r4 t63 r4 " + HOLD + "\n");
    std::vector<std::pair<uint32_t, int>> tempos;  // start value 50 (701 frames); repeating 43 is no change
    for (const auto& t : roll.tempos) tempos.emplace_back(t.tick, t.value);
    EXPECT_EQ(tempos, (std::vector<std::pair<uint32_t, int>>{{0, 50}, {32, 43}, {96, 63}}));
    // When a channel that plays never holds, the roll runs as long as songrender plays.
    const Roll open = roll_of("channel 0\n  o3 c1 d1\n" + held_channels(1, 6) + "channel 7\n  t43 r4 " + HOLD + "\n");
    EXPECT_EQ(open.end_tick, 2u + (SONG_FRAMES - 1 - 701) / 603);
    EXPECT_EQ(open.hold_tick[0], -1);
    EXPECT_EQ(open.hold_tick[7], 32);
}

// Bars count from the pick-up up to the last closing hold, or over the whole roll when a channel never holds.
TEST(SongRoll, CountsTheBarsFromThePickUpToTheLastHold)
{
    Roll roll;
    roll.hold_tick = {96, 96, 96, 96, 96, 96, 96, 96 + 2 * 128 + 1};
    roll.end_tick = 96 + 4 * 128;
    EXPECT_EQ(counted_bars(roll), 3u);
    roll.pickup = 96;
    EXPECT_EQ(counted_bars(roll), 3u);
    roll.hold_tick[7] = 96 + 2 * 128;
    EXPECT_EQ(counted_bars(roll), 2u);
    roll.hold_tick[3] = -1;  // then the roll's own length
    EXPECT_EQ(counted_bars(roll), 4u);
    roll.pickup = 0;
    EXPECT_EQ(counted_bars(roll), 5u);
    // The embedded song: 72 bars after a 96-tick pick-up, all channels holding at its end.
    Roll song = observe_roll(tarq_data, tarq_data_size, tarq_sounds);
    EXPECT_EQ(counted_bars(song), 73u);
    song.pickup = 96;
    EXPECT_EQ(counted_bars(song), 72u);
}

// The texts of an SVG roll's labels of one class, in drawing order.
std::vector<std::string> labels(const std::string& svg, const std::string& role)
{
    std::vector<std::string> found;
    const std::string key = "class=\"" + role + "\" aria-label=\"";
    for (size_t at = svg.find(key); at != std::string::npos; at = svg.find(key, at)) {
        at += key.size();
        found.push_back(svg.substr(at, svg.find('"', at) - at));
    }
    return found;
}

std::string drawn_svg(const Roll& roll, const std::string& title)
{
    std::string svg, error;
    EXPECT_TRUE(draw_roll(roll, title, RollFormat::svg, svg, error)) << error;
    return svg;
}

// Bar 1 starts after the pick-up; every call keeps its label, even three at one tick; the legend
// and the drum lanes have names (a channel without one keeps its number); the title's text is escaped.
TEST(SongRoll, LabelsNameBarsCallsChannelsAndDrums)
{
    Roll roll;
    roll.hold_tick.fill(-1);
    roll.end_tick = 96 + 2 * 128;
    roll.pickup = 96;
    roll.tempos = {{0, 43}};
    roll.calls = {{0, 0, 3}, {0, 1, 4}, {0, 2, 5}, {200, 0, 6}};
    roll.hits = {{10, 6}, {20, 0}};
    roll.channel_names = {"lead", "", "inner", "counter", "bass", "effects", "bells", ""};
    const std::string svg = drawn_svg(roll, "a&b");
    EXPECT_EQ(labels(svg, "title"), std::vector<std::string>{"a&amp;b, 2 bars"});
    EXPECT_EQ(labels(svg, "bar-number"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(labels(svg, "pattern-label"), (std::vector<std::string>{"p3", "p4", "p5", "p6"}));
    EXPECT_EQ(labels(svg, "legend-label"), (std::vector<std::string>{"0 lead", "channel 1", "2 inner", "3 counter",
                                                                     "4 bass", "5 effects", "6 bells", "7 drums"}));
    EXPECT_EQ(labels(svg, "drum-label"), (std::vector<std::string>{"kick", "closed hat"}));
}

TEST(SongFindings, JsonEscapesAndLeavesAbsentValuesNull)
{
    const Finding slip{"a\"b\\c.txt", 3, 7, false, {{}, 0, "notation", "unexpected '\t'"}};
    const Finding rule{"s.bin", 0, 0, true, {{2, 5}, 0x1234, "pitch-range", "too high"}};
    EXPECT_EQ(findings_json({slip, rule}),
              "[\n  {\"file\": \"a\\\"b\\\\c.txt\", \"line\": 3, \"column\": 7, \"offset\": null, "
              "\"channel\": null, \"pattern\": null, \"severity\": \"error\", \"rule\": \"notation\", \"message\": \"unexpected '\\u0009'\"},\n"
              "  {\"file\": \"s.bin\", \"line\": null, \"column\": null, \"offset\": 4660, \"channel\": 2, "
              "\"pattern\": 5, \"severity\": \"error\", \"rule\": \"pitch-range\", \"message\": \"too high\"}\n]\n");
}

}  // namespace
