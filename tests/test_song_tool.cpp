// The song tool: notation round trips, source errors, the song checks and
// the timing report.
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

std::string disasm(const std::vector<uint8_t>& block)
{
    std::string text, error;
    EXPECT_TRUE(disassemble_song(block.data(), block.size(), text, error)) << error;
    return text;
}

// Assembles notation without the song checks.
std::vector<uint8_t> notation_bytes(const std::string& text)
{
    std::vector<uint8_t> block;
    std::vector<std::string> errors;
    EXPECT_TRUE(assemble_notation(text, "t.txt", block, errors))
        << (errors.empty() ? "" : errors[0]) << "\n" << text;
    return block;
}

std::vector<std::string> asm_errors(const std::string& text)
{
    std::vector<uint8_t> block;
    std::vector<std::string> errors;
    EXPECT_FALSE(assemble_song(text, "t.txt", block, errors)) << text;
    return errors;
}

TEST(SongNotation, EveryTestSongRoundTrips)
{
    for (const TestSong& song : test_songs()) {
        const std::vector<uint8_t> block = assemble_ok(song.text);
        EXPECT_EQ(notation_bytes(disasm(block)), block) << song.name;
    }
}

TEST(SongNotation, SpellingsGiveTheirBytes)
{
    const std::vector<uint8_t> block = notation_bytes(
        "channel 0\n  o4 < > c d+ e- f# b  c1 c2. c128. r0 l16 c r v15 t43 k-1 p-20 @13 & "
        "[ c ]0 [ c ] *9 $F8\n" + idle_channels(1, 7));
    const std::vector<uint8_t> expected = {
        0xD4, 0xD3, 0xD4, 0x12, 0x42, 0x42, 0x72, 0xC2, 0x10, 0x18, 0x1E, 0x0F, 0x14, 0x04,
        0xEF, 0xF3, 43, 0xF4, 0xFF, 0xF7, 0xEC, 0xF5, 13, 0xF6, 0xF0, 0, 0x14, 0xF1,
        0xF0, 2, 0x14, 0xF1, 0xF2, 9, 0xF8, 0xFF};
    ASSERT_GE(block.size(), SONG_HEADER_SIZE + expected.size());
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + SONG_HEADER_SIZE,
                                   block.begin() + SONG_HEADER_SIZE + expected.size()),
              expected);
    EXPECT_EQ(song_table_entry(block.data(), 0), SONG_HEADER_SIZE);
    EXPECT_EQ(block.back(), 0);  // the trailing zero byte
}

TEST(SongNotation, PatternsAreNumberedInOrderOrExplicitly)
{
    const std::vector<uint8_t> block = assemble_ok(
        "channel 0\n  o3 *b *a *c r1\n" + idle_channels(1, 7) +
        "pattern a\n  c4\npattern b = 7\n  d4\npattern c\n  e4\n");
    const uint16_t start = song_table_entry(block.data(), 0);
    EXPECT_EQ(block[start + 2], 7);
    EXPECT_EQ(block[start + 4], 0);
    EXPECT_EQ(block[start + 6], 1);
    EXPECT_EQ(block[song_table_entry(block.data(), SONG_CHANNELS + 7)], 0x32);
}

// Layouts the shorthand cannot produce still come back byte for byte.
TEST(SongNotation, IrregularBlocksRoundTrip)
{
    std::vector<uint8_t> block = assemble_ok(test_song("nested"));
    // Two entries on one stream, garbage after a stream, no trailing zero,
    // a stray loop_end, an undefined byte and a cut-off operand.
    block[2 * 3] = block[2 * 2];
    block[2 * 3 + 1] = block[2 * 2 + 1];
    block[2 * 20 + 1] = 0x05;  // pattern 12 points into the header
    const std::vector<std::vector<uint8_t>> tails = {{}, {0xF1, 0xFB, 0x00, 0xF0}, {0, 0}};
    for (const auto& tail : tails) {
        std::vector<uint8_t> b = block;
        b.pop_back();
        b.insert(b.end(), tail.begin(), tail.end());
        EXPECT_EQ(notation_bytes(disasm(b)), b);
    }
    std::vector<uint8_t> header_only(SONG_HEADER_SIZE, 0x70);
    EXPECT_EQ(notation_bytes(disasm(header_only)), header_only);
}

TEST(SongNotation, SourceErrorsNameLineAndColumn)
{
    const std::string ok = idle_channels(1, 7);
    struct Case { std::string text, expected; };
    const Case cases[] = {
        {"channel 0\n  o3 c4 x\n" + ok, "t.txt:2:9: error: unexpected 'x'"},
        {"channel 0\n  c3\n" + ok, "t.txt:2:4: error: length 3 is not one of"},
        {"channel 0\n  > c4\n" + ok, "t.txt:2:3: error: > needs an o earlier in this section"},
        {"channel 0\n  o15 > c4\n" + ok, "t.txt:2:7: error: octave 16 is outside 0..15"},
        {"channel 0\n  c- r1\n" + ok, "t.txt:2:3: error: c- leaves the octave"},
        {"channel 0\n  c4 ]3\n" + ok, "t.txt:2:6: error: ] without an open ["},
        {"channel 0\n  [ c4\n" + ok, "t.txt:2:3: error: [ is not closed in this section"},
        {"channel 0\n  *missing\n" + ok, "t.txt:2:3: error: unknown pattern missing"},
        {"channel 0\n  k128\n" + ok, "t.txt:2:4: error: transpose 128 is outside -128..127"},
        {"c4\nchannel 0\n  r1\n" + ok,
         "t.txt:1:1: error: music before the first channel, pattern or data section"},
        {ok, "error: channel 0 is not defined"},
        {"channel 0\n  r1\nchannel 0\n  r1\n" + ok, "t.txt:3:1: error: channel 0 is defined twice"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> errors = asm_errors(c.text);
        ASSERT_FALSE(errors.empty());
        EXPECT_NE(errors[0].find(c.expected), std::string::npos)
            << errors[0] << "\nexpected: " << c.expected;
    }
}

// One song per rule of song data, with the message that names it.
TEST(SongCheck, RejectsEachBrokenRule)
{
    const std::string rest = idle_channels(1, 7);
    struct Case { std::string text, expected; };
    const Case cases[] = {
        {"channel 0\n  [[[[[[ c4 ]]]]]]\n" + rest, "channel 0, offset 0x007A: loops nest deeper than 5"},
        {"channel 0\n  [[[ *deep ]]]\n" + rest + "pattern deep\n  [[[ c4 ]]]\n",
         "channel 0, offset 0x0076: loops nest deeper than 5 counting those of pattern 0"},
        {"channel 0\n  c4 $F1\n" + rest, "channel 0, offset 0x0071: loop_end without an open loop"},
        {"channel 0\n  $F0 $02 c4\n" + rest, "channel 0, offset 0x0070: loop is not closed before end"},
        {"channel 0\n  *a\n" + rest + "pattern a\n  *b\npattern b\n  c4\n",
         "pattern 0, offset 0x0081: pattern_call inside a pattern (calls do not nest)"},
        {"channel 0\n  o6 b4\n" + rest, "channel 0, offset 0x0071: pitch index 84 is outside 0..71"},
        {"channel 0\n  o0 k-2 c4\n" + rest, "pitch index -1 is outside 0..71 (octave 0, note 1, transpose -2)"},
        {"channel 0\n  *hi\n" + rest + "pattern hi\n  o6 b4\n",
         "pattern 0 (called from channel 0), offset 0x0082: pitch index 84"},
        {idle_channels(0, 6) + "channel 7\n  @1 c4\n", "channel 7, offset 0x007E: instrument on the drum channel"},
        {idle_channels(0, 6) + "channel 7\n  o7 c4\n", "channel 7, offset 0x007E: drum octave 7 is outside 0..6"},
        {"channel 0\n  @14 c4\n" + rest, "channel 0, offset 0x0070: instrument 14 does not exist"},
        {"channel 0\n  *48 c4\n" + rest, "channel 0, offset 0x0070: pattern 48 does not exist"},
        {"channel 0\n  *5 c4\n" + rest, "calls pattern 5, which starts at 0x0000, outside the streams"},
        {"channel 0\n  c4 $F8\n" + rest, "channel 0, offset 0x0071: undefined command byte 0xF8"},
        {"channel 0\n  c4 [ v3 ]3\n" + rest, "channel 0, offset 0x0071: loop body takes no time"},
        {"channel 0\n  c4 [ *quiet ]2\n" + rest + "pattern quiet\n  r0\n", "loop body takes no time"},
        {"channel 0\n  v3 c0\n" + rest, "channel 0, offset 0x0070: channel stream takes no time"},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> errors = asm_errors(c.text);
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_NE(errors[0].find(c.expected), std::string::npos)
            << errors[0] << "\nexpected: " << c.expected;
    }
    // [ c4 ]1 never comes back, so its body needs no time; an empty loop
    // that repeats does.
    assemble_ok("channel 0\n  [ v3 ]1 c4\n" + rest);
}

TEST(SongCheck, PitchRangeFollowsOctavesThroughLoopsAndRestarts)
{
    // The second pass of the loop plays c at octave 6 with transposition 12.
    const std::vector<std::string> errors =
        asm_errors("channel 0\n  o1 [ c4 k12 o5 ]2 r1\n" + idle_channels(1, 7));
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("t.txt:2:8: error: channel 0, offset 0x0073: pitch index 73"),
              std::string::npos)
        << errors[0];
    // Channel restart: the transposition set at the end holds at the top,
    // so the a+ that fits on the first pass is 2 too high on the next.
    const std::vector<std::string> restart =
        asm_errors("channel 0\n  o5 a+4 o0 c4 k2\n" + idle_channels(1, 7));
    ASSERT_FALSE(restart.empty());
    EXPECT_NE(restart[0].find("offset 0x0071: pitch index 73 is outside 0..71 (octave 5, note 11, "
                              "transpose 2)"),
              std::string::npos)
        << restart[0];
}

TEST(SongCheck, RejectsBrokenLayouts)
{
    std::vector<uint8_t> block = assemble_ok(test_song("call"));
    EXPECT_EQ(format_song_error(check_song(block.data(), 100)[0]),
              "song, offset 0x0000: block of 100 bytes is shorter than its 112-byte offset table");
    std::vector<uint8_t> b = block;
    b[2 * 3] = 0xFF;
    b[2 * 3 + 1] = 0x00;
    const std::vector<SongError> outside = check_song(b.data(), b.size());
    ASSERT_FALSE(outside.empty());
    EXPECT_EQ(format_song_error(outside[0]),
              "channel 3, offset 0x0006: starts at 0xFF00, outside the streams 0x0070..0x" +
                  [&] { char t[8]; std::snprintf(t, sizeof t, "%04X", unsigned(b.size() - 1)); return std::string(t); }());
    // The last channel cut off before its end.
    b = block;
    b.resize(b.size() - 2);
    const std::vector<SongError> cut = check_song(b.data(), b.size());
    ASSERT_FALSE(cut.empty());
    EXPECT_NE(format_song_error(cut[0]).find("stream runs off the end of the block without end"),
              std::string::npos);
    std::vector<uint8_t> huge(70000, 0);
    EXPECT_NE(check_song(huge.data(), huge.size())[0].message.find("larger than the 65536"),
              std::string::npos);
}

// Channel 0 holds after r4 c2 (96 ticks), channel 7 after two quarter rests
// with tempo 63 from tick 32. Ticks run at frame 0, 701, then every 603
// frames until tick 32 sets 882: ticks 33.. come 603 and then 883 apart.
TEST(SongInfo, ReportsUsesAndTheClosingHoldAtItsTickAndFrame)
{
    const std::vector<uint8_t> block = assemble_ok(test_song("closing"));
    const auto times = closing_hold_times(block.data(), block.size(), 1000000);
    EXPECT_TRUE(times[0].reached);
    EXPECT_EQ(times[7].tick, 64u);
    EXPECT_EQ(times[7].frame, 701u + 31u * 603u + 603u + 31u * 883u);
    EXPECT_EQ(times[0].tick, 96u);
    EXPECT_EQ(times[0].frame, 701u + 31u * 603u + 603u + 63u * 883u);
    EXPECT_FALSE(times[1].has_hold);
    const std::string report = song_info(block.data(), block.size());
    EXPECT_NE(report.find("channel 7: 11 bytes, instruments none, patterns none, octaves none, "
                          "closing hold at tick 64 (frame 47370)"),
              std::string::npos)
        << report;

    const std::vector<uint8_t> other = assemble_ok(
        "channel 0\n  @5 o2 *a @12 o4 *b r1\n" + idle_channels(1, 7) +
        "pattern a\n  @7 o3 c4\npattern b\n  c4\n");
    const std::string listing = song_info(other.data(), other.size());
    EXPECT_NE(listing.find("channel 0: 12 bytes, instruments 5 12 (in patterns: 7), patterns 0 1, "
                          "octaves 2 3 4, no closing hold"),
              std::string::npos)
        << listing;
    render_reset();
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun run_tool(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int status = songtool_main(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(SongToolCommand, ExitStatusTellsUsageFromInvalidData)
{
    const std::string dir = ::testing::TempDir();
    const std::string good = dir + "songtool_good.txt", bad = dir + "songtool_bad.txt";
    std::ofstream(good) << test_song("call");
    std::ofstream(bad) << "channel 0\n  o9 c4\n" + idle_channels(1, 7);
    const std::string bin = dir + "songtool_good.bin";

    EXPECT_EQ(run_tool({}).status, 2);
    EXPECT_EQ(run_tool({"play", bin}).status, 2);
    EXPECT_EQ(run_tool({"asm", good}).status, 2);  // no -o
    EXPECT_EQ(run_tool({"check", dir + "no_such_file.bin"}).status, 2);

    const ToolRun bad_asm = run_tool({"asm", bad, "-o", bin + ".bad"});
    EXPECT_EQ(bad_asm.status, 1);
    EXPECT_EQ(bad_asm.err.rfind(bad + ":2:6: error: channel 0, offset 0x0071: pitch index 109", 0), 0u)
        << bad_asm.err;

    ASSERT_EQ(run_tool({"asm", good, "-o", bin}).status, 0);
    EXPECT_EQ(run_tool({"check", bin}).status, 0);
    EXPECT_EQ(run_tool({"info", bin}).status, 0);
    const ToolRun listing = run_tool({"disasm", bin});
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("*p0"), std::string::npos);

    std::ofstream(bin, std::ios::binary | std::ios::trunc) << std::string(50, '\x01');
    const ToolRun short_block = run_tool({"check", bin});
    EXPECT_EQ(short_block.status, 1);
    EXPECT_NE(short_block.err.find("shorter than its 112-byte offset table"), std::string::npos);
    EXPECT_EQ(run_tool({"disasm", bin}).status, 1);
    render_reset();
}

}  // namespace
