// The song interpreter: tick timing, lengths, loops, calls, operands, ties,
// pitch and sweep goals, rests and drum starts.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "data/tables.h"
#include "song/bytecode.h"
#include "song/tarq.h"
#include "song_test_songs.h"
#include "voice/drum.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

namespace {

class SongInterpreter : public ::testing::Test {
protected:
    void play(const std::string& text)
    {
        block = assemble_ok(text);
        engine = engine_playing(block);
    }
    void run_ticks(int ticks) { ::run_ticks(*engine, ticks); }
    Tarq& tq() { return engine->tarq; }
    Voice& voice() { return engine->voices[0]; }
    Drum& drum() { return engine->drum; }
    std::vector<uint8_t> block;
    std::unique_ptr<Engine> engine;
};

// A tempo command sets 14 x its operand for the interval after the one begun; by default 701.
TEST_F(SongInterpreter, TempoGovernsTheIntervalAfterTheOneBegun)
{
    struct Case { std::string song; std::vector<uint32_t> frames; uint16_t speed; };
    const Case cases[] = {
        {test_song("tempo43"), {0, 701, 1304, 1907}, 602},
        {test_song("code15"), {0, 701, 1402}, 700},
    };
    for (const Case& c : cases) {
        play(c.song);
        std::vector<uint32_t> frames;
        const TarqListeners to = every_voice(*engine);
        for (uint32_t f = 0; frames.size() < c.frames.size(); ++f, tarq(tq(), to))
            if (tq().tick_counter == 0) frames.push_back(f);
        EXPECT_EQ(frames, c.frames) << c.song;
        EXPECT_EQ(tq().tick_speed, c.speed) << c.song;
    }
}

// Ticks until channel 0 reads d: a rest of each length code (whole 128, dotted 8..14, code 15
// none) plus the tick that reads it, or a loop of 1-tick notes that plays its body count times.
TEST_F(SongInterpreter, LengthCodesAndLoopCountsTakeTheirTicks)
{
    const auto rest = [](const char* code) { return "channel 0\n  o3 $0" + std::string(code) + " d1\n" + idle_channels(1, 7); };
    const std::pair<std::string, int> cases[] = {{rest("0"), 129}, {rest("6"), 3}, {rest("8"), 97}, {rest("E"), 3},
                                                 {test_song("code15"), 1}, {test_song("loop1"), 2},
                                                 {test_song("loop3"), 4}, {test_song("loop0"), 65537}};
    for (const auto& [song, ticks] : cases) {
        play(song);
        int n = 0;
        for (; tq().tarq_note[0] != 3; ++n) run_ticks(1);
        EXPECT_EQ(n, ticks) << song;
        EXPECT_EQ(tq().loops_active[0], 0) << song;
    }
    play(test_song("code15"));  // o3 c0 d4: d read in the tick that played c, then its quarter
    run_ticks(1);
    EXPECT_EQ(tq().tarq_length[0], 31);
}

TEST_F(SongInterpreter, PatternReturnsAfterItsCallAndTheChannelStartsOver)
{
    play(test_song("call"));
    const uint16_t start = tq().data_pointer[0];
    // c4, d4 in the pattern, e4 after the call, c4 from the top
    for (auto [ticks, note] : {std::pair{1, 1}, {32, 3}, {32, 5}, {32, 1}}) {
        run_ticks(ticks);
        EXPECT_EQ(tq().tarq_note[0], note);
        EXPECT_EQ(tq().pointer_location[0], note == 3 ? start + 4 : 0);  // after o3 c4 and the call
    }
    EXPECT_EQ(tq().data_pointer[0], start + 2);
}

TEST_F(SongInterpreter, TransposePanningAndVolumeOperands)
{
    play(test_song("signed"));  // k-1 p-20 v12 o3 c4
    const uint16_t start = song_table_entry(block.data(), 0);
    EXPECT_EQ(block[start + 1], 0xFF);
    EXPECT_EQ(block[start + 3], 0xEC);
    run_ticks(1);
    EXPECT_EQ(tq().tarq_transpose[0], -1);
    EXPECT_EQ(tq().tarq_panning[0], -20);
    EXPECT_FLOAT_EQ(tq().tarq_volume[0], 1.5f);
    EXPECT_EQ(voice().osc.osc_target_pitch, notes[36]);  // octave 3, note 1, one semitone down
}

// A tied e (pitch index 41) only retunes by the sweep type found on the channel.
TEST_F(SongInterpreter, TiedNoteFollowsEachSweepType)
{
    struct Case { uint8_t type; uint16_t pitch, target; };
    const Case cases[] = {{0, notes[41], 2222}, {1, notes[41], notes[39]}, {2, notes[39], notes[41]},
                          {3, 1111, 2222}, {4, 1111, 2222}, {5, 1111, 2222}, {255, 1111, 2222}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        play(test_song("tie"));
        run_ticks(1);
        voice().lfo.lfo_amplitude = 9;
        voice().swp.swp_type = c.type;
        voice().swp.swp_target = 2;
        voice().osc.osc_pitch = 1111;
        voice().osc.osc_target_pitch = 2222;
        run_ticks(32);
        EXPECT_EQ(voice().osc.osc_pitch, c.pitch);
        EXPECT_EQ(voice().osc.osc_target_pitch, c.target);
        EXPECT_EQ(voice().lfo.lfo_amplitude, 9);  // the voice is not reloaded
    }
}

// Instrument 0 sweeps up by 1 (type 2), 6 down by 24 (type 3), 9 up from 48 below (type 4).
TEST_F(SongInterpreter, NewNoteSetsPitchAndSweepGoal)
{
    struct Case { const char* set_up; uint16_t pitch, target; };
    const Case cases[] = {
        {"@0 o3", notes[36], notes[37]}, {"@6 o3", notes[37], notes[13]}, {"@9 o5", notes[13], notes[61]},
        {"@9 o3", 0, notes[37]}, {"@0 o0 k-1", 0, notes[0]}, {"@6 o1", notes[13], 0},  // below index 0
    };
    for (const Case& c : cases) {
        play(std::string("channel 0\n  ") + c.set_up + " c4 r1\n" + idle_channels(1, 7));
        run_ticks(1);
        EXPECT_EQ(voice().osc.osc_pitch, c.pitch) << c.set_up;
        EXPECT_EQ(voice().osc.osc_target_pitch, c.target) << c.set_up;
    }
}

TEST_F(SongInterpreter, RestClearsAPendingTieAndNewNotesReloadTheInstrument)
{
    play(test_song("tie_rest"));  // c4 & r4 d4 & r0 e4
    run_ticks(1);
    voice().env.env_wav_tick = 77;
    run_ticks(32);
    EXPECT_EQ(tq().tarq_tie_flag[0], 0);
    EXPECT_EQ(voice().env.env_wav_tick, 1);
    EXPECT_EQ(voice().osc.osc_pitch, notes[37]);  // the pitch stays
    run_ticks(32);
    voice().lfo.lfo_amplitude = 9;
    run_ticks(32);  // r0 clears d's tie and e starts afresh
    EXPECT_EQ(voice().lfo.lfo_amplitude, 0);
    EXPECT_EQ(tq().tarq_note[0], 5);
    EXPECT_FLOAT_EQ(voice().osc.osc_volume, 0.5f);  // a decay starts at the channel volume
}

TEST_F(SongInterpreter, DrumNotesStartSamplesAndFoldAbove10)
{
    play(test_song("drums"));  // o3 a+4 b4 & c4 r4 e4
    drum().sample_mute = 1;
    drum().sample_accumulator = 500;
    run_ticks(1);
    EXPECT_EQ(drum().sample_start, sample_index[0]);  // note 11 plays sample 0
    EXPECT_EQ(drum().sample_mute, 0);
    EXPECT_EQ(drum().sample_accumulator, 0);
    run_ticks(32);
    EXPECT_EQ(drum().sample_start, sample_index[1]);  // note 12 plays sample 1
    drum().sample_accumulator = 300;
    run_ticks(32);  // tied c: the sample goes on
    EXPECT_EQ(drum().sample_accumulator, 300);
    run_ticks(32);
    EXPECT_EQ(drum().sample_mute, 1);
}

}  // namespace
