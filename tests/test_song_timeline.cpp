// Bars, time and warnings: where ticks fall in bars and seconds, the
// pick-up, bar checks on every pass, and each warning with its message and
// place. Expected times are worked by hand from the tick length: 701 frames
// at the start, the tick heard from the frame after the one it runs after.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "song_asm.h"
#include "song_timeline.h"

namespace {

// Channels not given rest a bar and hold.
std::string song_with(const std::map<int, std::string>& music, const std::string& extra = "")
{
    std::string text = extra;
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const auto given = music.find(c);
        text += "channel " + std::to_string(c) + "\n  " + (given == music.end() ? "r1 [ r1 ]255" : given->second) + "\n";
    }
    return text;
}

struct Assembled {
    bool valid = false;
    std::vector<uint8_t> block;
    SongMarks marks;
    std::vector<Finding> findings;
};

Assembled assembled(const std::string& text)
{
    Assembled a;
    SongSounds sounds;
    a.valid = assemble_song(text, "s.txt", a.block, sounds, a.marks, a.findings);
    return a;
}

// "LINE:COLUMN rule: message" of every finding, warnings marked.
std::vector<std::string> findings_of(const std::string& text)
{
    const Assembled a = assembled(text);
    std::vector<std::string> lines;
    for (const Finding& f : a.findings)
        lines.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) + (f.warning ? " warning " : " error ") +
                        f.error.rule + ": " + f.error.message);
    return lines;
}

SongTimeline timeline_with_pickup(uint32_t pickup)
{
    SongTimeline t;
    t.pickup = pickup;
    t.tempo.push_back({0, 0, 701, 50, 0});
    return t;
}

}  // namespace

TEST(SongTimeline, BarsBeatsAndTimesCountFromThePickup)
{
    const SongTimeline t = timeline_with_pickup(96);
    EXPECT_EQ(bar_text(t, 0), "bar 0.2");  // the pick-up is the last three beats of bar 0
    EXPECT_EQ(bar_text(t, 95), "bar 0.4 + 31 ticks");
    EXPECT_EQ(bar_text(t, 96), "bar 1");
    EXPECT_EQ(bar_text(t, 96 + 128 + 33), "bar 2.2 + 1 tick");
    EXPECT_EQ(bar_first_tick(t, 0), 0u);
    EXPECT_EQ(bar_first_tick(t, 3), 96u + 256u);
    EXPECT_EQ(bar_text(timeline_with_pickup(0), 0), "bar 1");
    EXPECT_EQ(clock_time(0), "0:00.00");
    EXPECT_EQ(clock_time(44099), "0:00.99");  // rounded down, never up to the next second
    EXPECT_EQ(clock_time(44100 * 61 + 441), "1:01.01");
    EXPECT_NEAR(beats_per_minute(603), 137.13, 0.005);
}

// Tempo 43 set in tick 0: tick 1 still runs 701 frames on, then every 603.
TEST(SongTimeline, TicksLandOnFramesAcrossTempoChanges)
{
    const Assembled a = assembled(song_with({{7, "t43 r4 r4 t63 r4 [ r1 ]255"}}, "pickup 32 ticks\n"));
    ASSERT_TRUE(a.valid);
    const SongTimeline t = song_timeline(a.block.data(), a.block.size(), a.marks);
    EXPECT_EQ(t.pickup, 32u);
    EXPECT_EQ(tick_frame(t, 1), 701u);
    EXPECT_EQ(tick_frame(t, 64), 701u + 63u * 603u);
    EXPECT_EQ(tick_frame(t, 66), 701u + 64u * 603u + 883u);  // t63 in tick 64 lengthens from tick 65 on
    EXPECT_EQ(tick_heard_frame(t, 66), tick_frame(t, 66) + 1);
    uint32_t end = 0;
    ASSERT_TRUE(song_end_tick(t, end));  // no channel plays a note: the song ends where they hold
    EXPECT_EQ(end, 128u);
    EXPECT_EQ(song_bars(t), 1u);  // 96 ticks after the pick-up make one bar, counted up
}

TEST(SongTimeline, PickupIsALengthOrTicksShorterThanABar)
{
    const std::pair<std::string, uint32_t> good[] = {{"pickup 2.", 96}, {"pickup 4 8", 48}, {"pickup 96 ticks", 96}};
    for (const auto& [line, ticks] : good) {
        const Assembled a = assembled(line + "\n" + song_with({}));
        EXPECT_TRUE(a.valid) << line;
        EXPECT_EQ(a.marks.pickup, ticks) << line;
    }
    const std::pair<std::string, std::string> bad[] = {
        {"pickup 1", "1:1 error notation: pickup needs a length shorter than a bar"},
        {"pickup 0 ticks", "1:1 error notation: pickup needs a length shorter than a bar"},
        {"pickup 3", "1:8 error notation: length 3 is not one of"},
        {"pickup 4\npickup 4", "2:1 error notation: pickup is given twice"}};
    for (const auto& [lines, message] : bad) {
        const std::vector<std::string> found = findings_of(lines + "\n" + song_with({}));
        ASSERT_EQ(found.size(), 1u) << lines;
        EXPECT_EQ(found[0].rfind(message, 0), 0u) << found[0];
    }
}

// Each warning: its place, rule and message; the song stays valid.
TEST(SongWarnings, EachWithItsPlaceAndMessage)
{
    struct Case {
        std::string song, finding;
    };
    const Case cases[] = {
        // tick 96 is heard from frame 96 x 701 + 1 = 67297, 1.526 s.
        {song_with({{0, "o3 c4 c4 c4 | c4 [ r1 ]255"}}),
         "2:15 warning bar-check: the channel reaches this bar line 32 ticks before bar 2 (0:01.52)"},
        // The second pass through the loop, at tick 96, misses.
        {song_with({{0, "o3 [ | c4 c4 c4 ]2 r4 [ r1 ]255"}}),
         "2:8 warning bar-check: the channel reaches this bar line 32 ticks before bar 2 (0:01.52)"},
        // The second call, at tick 136 (frame 95337), misses.
        {song_with({{0, "o3 *bar c16 *bar r2. r16 [ r1 ]255"}}) + "pattern bar\n  | c4 c4 c4 c4\n",
         "18:3 warning bar-check: the channel reaches this bar line 8 ticks into bar 2 (0:02.16)"},
        {song_with({{0, "o3 c1"}}),
         "1:1 warning no-closing-hold: the channel has no closing hold and starts over at bar 2 (0:02.03); "
         "end it with [ r1 ]255 to keep it silent"},
        {song_with({{0, "o3 c1 [ r1 ]2"}}),
         "1:1 warning short-closing-hold: the channel starts over at bar 4 (0:06.10), where its closing hold of 256 "
         "ticks runs out; a longer hold keeps it silent to the render's end"},
        // Ticks 0..8178 run within the render (8178 x 701 < 5733000); 8179 is 115 ticks into bar 64.
        {song_with({{0, "o3 [ c1 ]0 [ r1 ]255"}}),
         "1:1 warning cut-by-render: the song runs past the render's end: channel 0 still plays when the render "
         "cuts it at bar 64.4 + 19 ticks (2:10.00)"},
        {song_with({{0, "o3 c1 [ r1 ]255"}, {1, "o3 c2 | c2 c4 [ r1 ]255"}}),
         "4:9 warning bar-check: the channel reaches this bar line 64 ticks into bar 1 (0:01.01)"},
        {song_with({{0, "o3 p101 c1 [ r1 ]255"}}),
         "2:6 warning panning-range: panning 101 is beyond -100..100: the left side plays polarity-inverted"},
        {song_with({{0, "o3 p-128 c1 [ r1 ]255"}}),
         "2:6 warning panning-range: panning -128 is beyond -100..100: the right side plays polarity-inverted"},
        {song_with({{7, "o3 k2 c4 r2. [ r1 ]255"}}),
         "16:6 warning drum-no-effect: transpose on the drum channel has no effect"},
        {song_with({{0, "o3 c4 & r4 c4 & r0 c4 r4 [ r1 ]255"}}),
         "2:9 warning tie-into-rest: a tie into a rest has no effect (the rest ends the note)"},
        {song_with({{0, "t40 o3 c1 [ r1 ]255"}, {7, "t43 r1 [ r1 ]255"}}),
         "2:3 warning tempo-clash: tempo 40 is set in the tick where channel 7 sets tempo 43, at bar 1 (0:00.00): "
         "channel 7's, read later, wins"},
        {song_with({}) + "pattern spare\n  c4\n",
         "17:1 warning unused-pattern: pattern 0 is defined but no channel calls it"},
        {"instrument 9 spare\n  phase = 3\n" + song_with({}),
         "1:1 warning unused-instrument: instrument 9 (spare) is defined but no channel plays it"},
    };
    for (const Case& c : cases) {
        const Assembled a = assembled(c.song);
        EXPECT_TRUE(a.valid) << c.song;
        std::vector<std::string> found = findings_of(c.song);
        EXPECT_NE(std::find(found.begin(), found.end(), c.finding), found.end())
            << c.song << "\nfound:\n" << ::testing::PrintToString(found);
    }
}

// Apart, the holds name both groups and where the drift begins.
TEST(SongWarnings, HoldsApartNameTheChannelsAndTheFirstBarLineMissed)
{
    const std::vector<std::string> found =
        findings_of(song_with({{0, "o3 c1 [ r1 ]255"}, {1, "o3 c2 | c2 c4 [ r1 ]255"}, {2, "o3 c1 c4 [ r1 ]255"}}));
    EXPECT_NE(std::find(found.begin(), found.end(),
                        "1:1 warning holds-apart: channels reach their closing holds at different ticks: channel 0 at "
                        "bar 2 (tick 128); channels 1, 2 at bar 2.2 (tick 160); they part by bar 1.3, where channel "
                        "1 first misses a bar line"),
              found.end())
        << ::testing::PrintToString(found);
}

// What is meant stays quiet: a bar line on the bar (after a pick-up), r0
// clearing a tie, one tempo set twice, a used pattern and instrument, a
// silent channel that never holds, and the embedded song.
TEST(SongWarnings, NoneWhereNothingIsAmiss)
{
    const std::string quiet[] = {
        "pickup 2.\n" + song_with({{0, "o3 c4 c4 c4 | c1 | [ r1 ]255"}}),
        song_with({{0, "o3 [ c16 & e16 & ]2 r0 c4 r2. [ r1 ]255"}}),
        song_with({{0, "t43 o3 c1 [ r1 ]255"}, {7, "t43 r1 [ r1 ]255"}}),
        "instrument 5 bright\n  phase = 3\n" + song_with({{0, "@bright o3 *fill r2. [ r1 ]255"}}) + "pattern fill\n  c4\n",
        song_with({{0, "o3 c1 [ r1 ]255"}, {6, "[ r1 v3 ]0"}}),
    };
    for (const std::string& text : quiet) EXPECT_EQ(findings_of(text), std::vector<std::string>{}) << text;
    std::ifstream in(std::string(SONGRENDER_TEST_SONGS) + "/../../data/song.txt");
    const std::string embedded{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(embedded.empty());
    const Assembled a = assembled(embedded);
    EXPECT_EQ(findings_of(embedded), std::vector<std::string>{});
    EXPECT_EQ(a.marks.pickup, 96u);
    EXPECT_GT(a.marks.bar_lines.size(), 100u);  // the bar checks have something to check
}
