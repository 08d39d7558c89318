// Small songs in the song notation, shared by the interpreter, tool and
// fuzz tests, and helpers to assemble and play them.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/render.h"
#include "song/tarq.h"
#include "song_asm.h"

// Channels from..to that only rest, for songs that exercise the others.
inline std::string idle_channels(int from, int to)
{
    std::string text;
    for (int c = from; c <= to; ++c) text += "channel " + std::to_string(c) + "\n  r1\n";
    return text;
}

struct TestSong {
    const char* name;
    std::string text;
};

inline const std::vector<TestSong>& test_songs()
{
    static const std::vector<TestSong> songs = {
        {"tempo43", idle_channels(0, 6) + "channel 7\n  t43 r4 [ r1 ]255\n"},
        {"code15", "channel 0\n  o3 c0 d4 r1\n" + idle_channels(1, 7)},
        {"loop1", "channel 0\n  o3 [ c128 ]1 d1\n" + idle_channels(1, 6) + "channel 7\n  t0 r1\n"},
        {"loop3", "channel 0\n  o3 [ c128 ]3 d1\n" + idle_channels(1, 6) + "channel 7\n  t0 r1\n"},
        {"loop0", "channel 0\n  o3 [ c128 ]0 d1\n" + idle_channels(1, 6) + "channel 7\n  t0 r1\n"},
        {"call", "channel 0\n  o3 c4 *middle e4\n" + idle_channels(1, 7) +
                     "pattern middle\n  d4\n"},
        {"signed", "channel 0\n  k-1 p-20 o3 c4\n" + idle_channels(1, 7)},
        {"tie", "channel 0\n  @1 o3 c4 & e4 & f4 r1\n" + idle_channels(1, 7)},
        {"tie_rest", "channel 0\n  @1 o3 c4 & r4 d4 & r0 e4 r1\n" + idle_channels(1, 7)},
        {"drums", idle_channels(0, 6) + "channel 7\n  o3 a+4 b4 & c4 r4 e4 r1\n"},
        {"closing", "channel 0\n  r4 c2 [ r1 ]255\n" + idle_channels(1, 6) +
                        "channel 7\n  t43 r4 t63 r4 [ r1 ]255\n"},
        {"nested", "channel 0\n  o2 [ c8 [ d16 *inner ]2 ]3 r1\n" + idle_channels(1, 7) +
                       "pattern inner\n  [ e32 ]2\npattern spare = 5\n  f4\n"},
    };
    return songs;
}

inline const std::string& test_song(const std::string& name)
{
    for (const TestSong& s : test_songs())
        if (name == s.name) return s.text;
    static const std::string none;
    ADD_FAILURE() << "no test song " << name;
    return none;
}

// Assembles a valid song; fails the test with the assembler's messages.
inline std::vector<uint8_t> assemble_ok(const std::string& text)
{
    std::vector<uint8_t> block;
    std::vector<std::string> errors;
    const bool ok = assemble_song(text, "test.txt", block, errors);
    std::string all;
    for (const std::string& e : errors) all += e + "\n";
    EXPECT_TRUE(ok) << all;
    return block;
}

// Program-start state playing `block`.
inline void load_song(const std::vector<uint8_t>& block)
{
    render_reset();
    tarq_load(block.data());
}

// Runs interpreter calls until `ticks` ticks have run.
inline void run_ticks(int ticks)
{
    for (int done = 0; done < ticks;) {
        done += tick_counter == 0;
        tarq();
    }
}
