// The song tool: notation round trips, source errors, the song checks and the timing report.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "song_asm.h"
#include "song_check.h"
#include "song_disasm.h"
#include "song_info.h"
#include "song_test_songs.h"
#include "songtool.h"

namespace {

// Every test song comes back byte for byte (the fuzz test covers irregular blocks).
TEST(SongNotation, TestSongsRoundTrip)
{
    for (const auto& [name, text] : test_songs()) {
        const std::vector<uint8_t> block = assemble_ok(text);
        std::string notation, error;
        EXPECT_TRUE(disassemble_song(block.data(), block.size(), notation, error)) << error;
        EXPECT_EQ(assemble_ok(notation), block) << name;
    }
}

// One song per notation slip and per rule of song data, with the message that names it.
TEST(SongCheck, RejectsEachBrokenRuleWithItsMessage)
{
    const std::string ok = idle_channels(1, 7), drums = idle_channels(0, 6) + "channel 7\n";
    const std::pair<std::string, std::string> cases[] = {
        {"channel 0\n  o3 c4 x\n" + ok, "t.txt:2:9: error: unexpected 'x'"},
        {"channel 0\n  c3\n" + ok, "t.txt:2:4: error: length 3 is not one of"},
        {"channel 0\n  o15 > c4\n" + ok, "t.txt:2:7: error: octave 16 is outside 0..15"},
        {"channel 0\n  c4 ]3\n" + ok, "t.txt:2:6: error: ] without an open ["},
        {ok, "error: channel 0 is not defined"},
        {"channel 0\n  r1\nchannel 0\n  r1\n" + ok, "t.txt:3:1: error: channel 0 is defined twice"},
        {"channel 0\n  [[[[[[ c4 ]]]]]]\n" + ok, "channel 0, offset 0x007A: loops nest deeper than 5"},
        {"channel 0\n  [[[ *deep ]]]\n" + ok + "pattern deep\n  [[[ c4 ]]]\n",
         "channel 0, offset 0x0076: loops nest deeper than 5 counting those of pattern 0"},
        {"channel 0\n  c4 $F1\n" + ok, "channel 0, offset 0x0071: loop_end without an open loop"},
        {"channel 0\n  $F0 $02 c4\n" + ok, "channel 0, offset 0x0070: loop is not closed before end"},
        {"channel 0\n  *a\n" + ok + "pattern a\n  *b\npattern b\n  c4\n",
         "pattern 0, offset 0x0081: pattern_call inside a pattern (calls do not nest)"},
        {"channel 0\n  o6 b4\n" + ok, "channel 0, offset 0x0071: pitch index 84 is outside 0..71"},
        {"channel 0\n  o0 k-2 c4\n" + ok, "pitch index -1 is outside 0..71 (octave 0, note 1, transpose -2)"},
        // The loop's second pass plays c at octave 6 with transposition 12.
        {"channel 0\n  o1 [ c4 k12 o5 ]2 r1\n" + ok, "t.txt:2:8: error: channel 0, offset 0x0073: pitch index 73"},
        {drums + "  @1 c4\n", "channel 7, offset 0x007E: instrument on the drum channel"},
        {drums + "  o7 c4\n", "channel 7, offset 0x007E: drum octave 7 is outside 0..6"},
        {"channel 0\n  @14 c4\n" + ok, "channel 0, offset 0x0070: instrument 14 does not exist"},
        {"channel 0\n  *48 c4\n" + ok, "channel 0, offset 0x0070: pattern 48 does not exist"},
        {"channel 0\n  *5 c4\n" + ok, "calls pattern 5, which starts at 0x0000, outside the streams"},
        {"channel 0\n  c4 $F8\n" + ok, "channel 0, offset 0x0071: undefined command byte 0xF8"},
        {"channel 0\n  c4 [ v3 ]3\n" + ok, "channel 0, offset 0x0071: loop body takes no time"},
        {"channel 0\n  v3 c0\n" + ok, "channel 0, offset 0x0070: channel stream takes no time"},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<uint8_t> block;
        std::vector<std::string> errors;
        EXPECT_FALSE(assemble_song(text, "t.txt", block, errors)) << text;
        ASSERT_FALSE(errors.empty()) << text;
        EXPECT_NE(errors[0].find(expected), std::string::npos) << errors[0] << "\nexpected: " << expected;
    }
    assemble_ok("channel 0\n  [ v3 ]1 c4\n" + ok);  // a body that never repeats needs no time
}

TEST(SongCheck, RejectsBrokenLayouts)
{
    const std::vector<uint8_t> block = assemble_ok(test_song("call"));  // a short block: integration
    std::vector<uint8_t> b = block;
    b[6] = 0xFF;
    b[7] = 0x00;
    char last[8];
    std::snprintf(last, sizeof last, "%04X", unsigned(b.size() - 1));
    EXPECT_EQ(format_song_error(check_song(b.data(), b.size()).at(0)),
              "channel 3, offset 0x0006: starts at 0xFF00, outside the streams 0x0070..0x" + std::string(last));
    b = block;
    b.resize(b.size() - 2);  // the last channel cut off before its end
    EXPECT_NE(format_song_error(check_song(b.data(), b.size()).at(0)).find("stream runs off the end of the block without end"),
              std::string::npos);
    const std::vector<uint8_t> huge(70000, 0);
    EXPECT_NE(check_song(huge.data(), huge.size())[0].message.find("larger than the 65536"), std::string::npos);
}

// Ticks at frame 0, 701, then 603 apart until tick 32 sets tempo 63: then 883 apart.
// Channel 0 holds at tick 96, heard from the frame after the one its tick runs
// after; channel 7 at tick 64, where its loop of rests begins.
TEST(SongInfo, ReportsTheClosingHoldAtItsTickAndFrame)
{
    const std::vector<uint8_t> block = assemble_ok(test_song("closing"));
    const SongTimeline timeline = song_timeline(block.data(), block.size(), SongMarks{});
    const ChannelTiming& lead = timeline.channels[0];
    EXPECT_TRUE(lead.reached);
    EXPECT_EQ(lead.hold_tick, 96u);
    EXPECT_EQ(tick_frame(timeline, 96), 701u + 31u * 603u + 603u + 63u * 883u);
    EXPECT_EQ(tick_heard_frame(timeline, 96), 701u + 31u * 603u + 603u + 63u * 883u + 1);
    std::array<std::string, CHANNEL_COUNT> names{};
    names[7] = "drums";
    const std::string info = song_info(block.data(), block.size(), SongMarks{}, names, false);
    EXPECT_NE(info.find("channel 7 drums: 11 bytes, instruments none, patterns none, octaves none, "
                        "closing hold at tick 64, bar 1.3, frame 47371, 0:01.07"),
              std::string::npos)
        << info;
}

// Exit status 2 for usage, 1 for invalid data, 0 for success (check, render and roll: integration).
TEST(SongToolCommand, ExitStatusTellsUsageFromInvalidData)
{
    const std::string dir = ::testing::TempDir(), good = dir + "songtool_good.txt", bin = dir + "songtool_good.bin",
                      junk = dir + "songtool_junk.bin";
    std::ofstream(junk, std::ios::binary) << std::string(50, '\x01');
    std::ofstream(good) << test_song("call");
    struct Row { std::vector<std::string> args; int status; std::string text; };
    const Row rows[] = {{{}, 2, ""}, {{"play", bin}, 2, ""}, {{"asm", good}, 2, ""},  // no -o
                        {{"asm", good, "-o", bin}, 0, ""}, {{"info", bin}, 0, ""}, {{"disasm", bin}, 0, "*p0"},
                        {{"disasm", junk}, 1, "shorter than its 112-byte offset table"}};
    for (const Row& r : rows) {
        std::ostringstream out, err;
        EXPECT_EQ(songtool_main(r.args, out, err), r.status) << (r.args.empty() ? "" : r.args[0]);
        EXPECT_NE((out.str() + err.str()).find(r.text), std::string::npos) << out.str() + err.str();
    }
}

// The version alone on standard output; anything after it is a usage error.
TEST(SongToolCommand, VersionPrintsTheProjectVersion)
{
    std::ostringstream out, err, extra_out, extra_err;
    EXPECT_EQ(songtool_main({"--version"}, out, err), 0);
    EXPECT_EQ(out.str(), "songtool " SONGTOOL_VERSION "\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(songtool_main({"--version", "data/song.txt"}, extra_out, extra_err), 2);
    EXPECT_EQ(extra_err.str().rfind("usage: songtool", 0), 0u) << extra_err.str();
}

}  // namespace
