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
        {"channel 0\n  *5 c4\n" + ok, "t.txt:2:3: error: channel 0, offset 0x0070: calls pattern 5, which is not defined"},
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

// The first finding for a song that starts with `channel0` and has idle channels 1..7, as printed, and its rule.
std::pair<std::string, std::string> first_slip(const std::string& channel0, const std::string& after = "")
{
    std::vector<uint8_t> block;
    SongSounds sounds;  // the defaults, with their instrument names
    std::vector<Finding> findings;
    EXPECT_FALSE(assemble_song(channel0 + idle_channels(1, 7) + after, "t.txt", block, sounds, findings)) << channel0;
    if (findings.empty()) return {};
    return {format_finding(findings[0]), findings[0].error.rule};
}

TEST(SongNotation, MessagesQuoteTheSourceAndPointAtIt)
{
    using Slip = std::pair<std::string, std::string>;
    const auto name_rule = [](const std::string& name) {
        return "error: name " + name + " may hold only letters a-z and A-Z, digits and _, and starts with a letter or _";
    };
    // Numbers as written, however large; hex too.
    EXPECT_EQ(first_slip("channel 0\n  [ c4 ]99999999999999999999\n").first,
              "t.txt:2:9: error: loop count 99999999999999999999 is outside 0..255");
    EXPECT_EQ(first_slip("channel 0\n  k-0200 c4\n").first, "t.txt:2:4: error: transpose -0200 is outside -128..127");
    EXPECT_EQ(first_slip("channel 0\n  c4\n", "entry 13 = 0x10000\n").first,
              "t.txt:17:12: error: offset 0x10000 is outside 0..65535");
    // Any instrument past 13, at the @, under the block check's rule.
    EXPECT_EQ(first_slip("channel 0\n  c4 @300 c4\n"),
              Slip("t.txt:2:6: error: instrument 300 does not exist (instruments are 0..13)", "unknown-instrument"));
    EXPECT_EQ(first_slip("channel 0\n  c4 @99999999999 c4\n").first,
              "t.txt:2:6: error: instrument 99999999999 does not exist (instruments are 0..13)");
    EXPECT_EQ(first_slip("channel 0\n  c4 @14 c4\n"),
              Slip("t.txt:2:6: error: channel 0, offset 0x0071: instrument 14 does not exist (instruments are 0..13)",
                   "unknown-instrument"));
    // Names with a stray character, each at its first column.
    EXPECT_EQ(first_slip("channel 0 lead-2 gain = 90\n  c4\n").first, "t.txt:1:11: " + name_rule("lead-2"));
    EXPECT_EQ(first_slip("channel 0 l\xC3\xA9" "ad\n  c4\n").first, "t.txt:1:11: " + name_rule("l\xC3\xA9" "ad"));
    EXPECT_EQ(first_slip("channel 0\n  c4\n", "pattern 2fill = 3\n  c4\n").first, "t.txt:17:9: " + name_rule("2fill"));
    EXPECT_EQ(first_slip("channel 0\n  c4\n", "instrument 3 my.pluck\n").first, "t.txt:17:14: " + name_rule("my.pluck"));
    EXPECT_EQ(first_slip("channel 0\n  c4 *fill-2 c4\n").first, "t.txt:2:7: " + name_rule("fill-2"));
    EXPECT_EQ(first_slip("channel 0\n  c4 @bass-2 c4\n").first, "t.txt:2:7: " + name_rule("bass-2"));
    // A near miss suggests the defined name (the defaults' instruments count); a far one does not.
    EXPECT_EQ(first_slip("channel 0\n  *fil c4\n", "pattern fill\n  c4\npattern other\n  c4\n").first,
              "t.txt:2:3: error: unknown pattern fil (did you mean fill?)");
    EXPECT_EQ(first_slip("channel 0\n  *xyz c4\n", "pattern fill\n  c4\n").first, "t.txt:2:3: error: unknown pattern xyz");
    EXPECT_EQ(first_slip("channel 0\n  @plack c4\n").first,
              "t.txt:2:3: error: unknown instrument plack (did you mean pluck?)");
    EXPECT_EQ(first_slip("channel 0\n  @glock c4\n", "instrument 4 glockenspiel\n").first,
              "t.txt:2:3: error: unknown instrument glock");
}

// An editor's byte-order mark is skipped: the song is the same, and line 1's columns count after it.
TEST(SongNotation, ByteOrderMarkIsIgnored)
{
    const std::string song = test_song("call"), mark = "\xEF\xBB\xBF";
    EXPECT_EQ(assemble_ok(mark + song), assemble_ok(song));
    EXPECT_EQ(first_slip(mark + "channel 0 a-b\n  c4\n").first,
              "t.txt:1:11: error: name a-b may hold only letters a-z and A-Z, digits and _, and starts with a letter or _");
    std::vector<uint8_t> block;
    std::vector<std::string> errors;
    EXPECT_FALSE(assemble_song("channel 0\n" + mark + "c4\n" + idle_channels(1, 7), "t.txt", block, errors));  // only at the start
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
    // A pattern entry that points past the block: the entry and the call report it.
    std::vector<std::string> errors;
    EXPECT_FALSE(assemble_song("channel 0\n  *5 c4\n" + idle_channels(1, 7) + "entry 13 = 0x7000\n", "t.txt", b, errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "t.txt:17:1: error: pattern 5, offset 0x001A: starts at 0x7000, outside the streams 0x0070..0x0082");
    EXPECT_EQ(errors[1], "t.txt:2:3: error: channel 0, offset 0x0070: calls pattern 5, which starts at 0x7000, "
                         "outside the streams 0x0070..0x0082");
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
    const Row rows[] = {{{}, 2, ""}, {{"play", bin}, 2, ""},
                        {{"asm", good}, 2, "songtool: asm: -o OUT is missing\nusage: songtool"},
                        {{"sounds", good, "--werror"}, 2, "songtool: sounds: unexpected '--werror'\nusage: songtool"},
                        {{"asm", good, "-o", bin}, 0, ""}, {{"info", bin}, 0, ""}, {{"disasm", bin}, 0, "*p0"},
                        {{"disasm", junk}, 1, "shorter than its 112-byte offset table"}};
    for (const Row& r : rows) {
        std::ostringstream out, err;
        EXPECT_EQ(songtool_main(r.args, out, err), r.status) << (r.args.empty() ? "" : r.args[0]);
        EXPECT_NE((out.str() + err.str()).find(r.text), std::string::npos) << out.str() + err.str();
    }
}

// Asked for, the usage goes to standard output with status 0; after a command, only that command's lines.
TEST(SongToolCommand, HelpPrintsTheUsageOnStandardOutput)
{
    std::ostringstream none_out, none_err;
    EXPECT_EQ(songtool_main({}, none_out, none_err), 2);
    const std::string usage = none_err.str();
    for (const char* ask : {"--help", "-h", "help"}) {
        std::ostringstream out, err;
        EXPECT_EQ(songtool_main({ask}, out, err), 0) << ask;
        EXPECT_EQ(out.str(), usage) << ask;
        EXPECT_EQ(err.str(), "") << ask;
    }
    const std::pair<std::string, std::string> commands[] = {
        {"asm", "-o OUT [--cpp]"}, {"disasm", "SONG"}, {"check", "(--json: findings as a JSON list on"},
        {"info", "the timeline"}, {"sounds", "equaliser, with what they mean in time"},
        {"roll", "-o ROLL.svg|.png"}, {"render", "[--frames N | --seconds S | --from A --to B]"}};
    for (const auto& [command, part] : commands) {
        std::ostringstream out, err;
        EXPECT_EQ(songtool_main({command, "x.txt", command == "asm" ? "-h" : "--help"}, out, err), 0) << command;
        const std::string text = out.str();
        EXPECT_EQ(text.rfind("usage: songtool " + command + " ", 0), 0u) << text;
        EXPECT_NE(text.find(part), std::string::npos) << text;
        EXPECT_EQ(text.find("songtool", 8), std::string::npos) << "another command's lines:\n" << text;
        // Each of its lines is a line of the full usage.
        std::istringstream lines(text.substr(7));
        for (std::string line; std::getline(lines, line);) EXPECT_NE(usage.find(line + "\n"), std::string::npos) << line;
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
