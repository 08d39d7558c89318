// Small songs in the song notation shared by the song tests, and helpers to play them.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "song/tarq.h"
#include "song_asm.h"

// Channels from..to that only rest.
inline std::string idle_channels(int from, int to)
{
    std::string text;
    for (int c = from; c <= to; ++c) text += "channel " + std::to_string(c) + "\n  r1\n";
    return text;
}

inline const std::map<std::string, std::string>& test_songs()
{
    const std::string idle = idle_channels(1, 7), loop_tail = idle_channels(1, 6) + "channel 7\n  t0 r1\n";
    static const std::map<std::string, std::string> songs = {
        {"tempo43", idle_channels(0, 6) + "channel 7\n  t43 r4 [ r1 ]255\n"},
        {"code15", "channel 0\n  o3 c0 d4 r1\n" + idle},
        {"loop1", "channel 0\n  o3 [ c128 ]1 d1\n" + loop_tail},
        {"loop3", "channel 0\n  o3 [ c128 ]3 d1\n" + loop_tail},
        {"loop0", "channel 0\n  o3 [ c128 ]0 d1\n" + loop_tail},
        {"call", "channel 0\n  o3 c4 *middle e4\n" + idle + "pattern middle\n  d4\n"},
        {"signed", "channel 0\n  k-1 p-20 v12 o3 c4\n" + idle},
        {"tie", "channel 0\n  @1 o3 c4 & e4 & f4 r1\n" + idle},
        {"tie_rest", "channel 0\n  @1 o3 c4 & r4 d4 & r0 e4 r1\n" + idle},
        {"drums", idle_channels(0, 6) + "channel 7\n  o3 a+4 b4 & c4 r4 e4 r1\n"},
        {"closing", "channel 0\n  r4 c2 [ r1 ]255\n" + idle_channels(1, 6) + "channel 7\n  t43 r4 t63 r4 [ r1 ]255\n"},
        {"nested", "channel 0\n  o2 [ c8 [ d16 *inner ]2 ]3 r1\n" + idle +
                       "pattern inner\n  [ e32 ]2\npattern spare = 5\n  f4\n"},
    };
    return songs;
}

inline const std::string& test_song(const std::string& name) { return test_songs().at(name); }

// Assembles a valid song; fails the test with the assembler's messages.
inline std::vector<uint8_t> assemble_ok(const std::string& text)
{
    std::vector<uint8_t> block;
    std::vector<std::string> errors;
    EXPECT_TRUE(assemble_song(text, "test.txt", block, errors)) << (errors.empty() ? "" : errors[0]);
    return block;
}

// An engine at the start of `block` (which must outlive it), every channel heard, notes loading
// from the default sounds' instrument bank.
inline std::unique_ptr<Engine> engine_playing(const std::vector<uint8_t>& block)
{
    auto engine = std::make_unique<Engine>();
    engine_start(*engine, block.data(), default_sounds.instrument_bank, EVERY_CHANNEL);
    return engine;
}

// The engine's voices and drum as the interpreter's listeners.
inline TarqListeners every_voice(Engine& engine)
{
    TarqListeners to;
    for (int c = 0; c < OSC_CHANNELS; ++c) to.voice[c] = &engine.voices[c];
    to.drum = &engine.drum;
    return to;
}

// Runs interpreter calls (and nothing else of the frame) until `ticks` ticks have run.
inline void run_ticks(Engine& engine, int ticks)
{
    const TarqListeners to = every_voice(engine);
    for (int done = 0; done < ticks; tarq(engine.tarq, to)) done += engine.tarq.tick_counter == 0;
}
