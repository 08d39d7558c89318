// The song interpreter: tick timing, lengths, loops, calls, operands, ties,
// pitch and sweep goals, rests and drum starts.
#include <gtest/gtest.h>

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
    void TearDown() override { render_reset(); }

    void load(const std::string& name) { block = assemble_ok(test_song(name)); load_song(block); }

    std::vector<uint8_t> block;
};

// Frames in which the interpreter ran a tick, for the first `count` ticks.
std::vector<uint32_t> tick_frames(int count)
{
    std::vector<uint32_t> frames;
    for (uint32_t f = 0; static_cast<int>(frames.size()) < count; ++f) {
        if (tick_counter == 0) frames.push_back(f);
        tarq();
    }
    return frames;
}

// A tempo command sets 14 x its operand for the interval after the one
// already begun; without one, ticks come every 701 frames.
TEST_F(SongInterpreter, TempoGovernsTheIntervalAfterTheOneBegun)
{
    struct Case { std::string song; std::vector<uint32_t> frames; uint16_t speed; };
    const Case cases[] = {
        {test_song("tempo43"), {0, 701, 1304, 1907}, 602},
        {test_song("code15"), {0, 701, 1402}, 700},
        {idle_channels(0, 6) + "channel 7\n  t63 r1\n", {0, 701, 1584}, 882},
    };
    for (const Case& c : cases) {
        block = assemble_ok(c.song);
        load_song(block);
        EXPECT_EQ(tick_frames(static_cast<int>(c.frames.size())), c.frames) << c.song;
        EXPECT_EQ(tick_speed, c.speed) << c.song;
    }
}

// The wait of every length code, from the table of note lengths: whole
// note 128 ticks, dotted codes 8..14, and code 15 taking no time.
TEST_F(SongInterpreter, LengthCodesLastTheirTicks)
{
    const unsigned expected[16] = {128, 64, 32, 16, 8, 4, 2, 1, 96, 48, 24, 12, 6, 3, 2, 0};
    for (unsigned code = 0; code < 16; ++code) EXPECT_EQ(length_ticks(code), expected[code]);
    for (unsigned code : {0u, 6u, 8u, 14u}) {
        // A rest of the code, then a note: the note comes that many ticks later.
        block = assemble_ok("channel 0\n  o3 $0" + std::string(1, "0123456789ABCDEF"[code]) +
                            " d1\n" + idle_channels(1, 7));
        load_song(block);
        run_ticks(static_cast<int>(expected[code]));
        EXPECT_EQ(tarq_note[0], 0) << "code " << code;
        run_ticks(1);
        EXPECT_EQ(tarq_note[0], 3) << "code " << code;
    }
}

TEST_F(SongInterpreter, LengthCode15ReadsOnInTheSameTick)
{
    load("code15");
    run_ticks(1);
    EXPECT_EQ(tarq_note[0], 3);       // d, read in the tick that played c
    EXPECT_EQ(tarq_length[0], 31);    // and waiting out its quarter
    // Instrument 0 glides up from a semitone below the note.
    EXPECT_EQ(osc_pitch[0], notes[38]);
    EXPECT_EQ(osc_target_pitch[0], notes[39]);
}

// Ticks until channel 0 reads its `d1` after a loop of 1-tick notes.
int ticks_until_d(const char* song)
{
    const std::vector<uint8_t> block = assemble_ok(test_song(song));
    load_song(block);
    int ticks = 0;
    while (tarq_note[0] != 3) {
        run_ticks(1);
        ++ticks;
    }
    return ticks;
}

TEST_F(SongInterpreter, LoopCountIsHowOftenTheBodyPlays)
{
    EXPECT_EQ(ticks_until_d("loop1"), 2);
    EXPECT_EQ(ticks_until_d("loop3"), 4);
    EXPECT_EQ(loops_active[0], 0);
    EXPECT_EQ(ticks_until_d("loop0"), 65537);
    EXPECT_EQ(loops_active[0], 0);
}

TEST_F(SongInterpreter, LoopLevelsAreStoredLevelMajor)
{
    load("nested");
    run_ticks(1);  // inside [ c8 ... : level 1 open, 3 passes
    EXPECT_EQ(loops_active[0], 1);
    EXPECT_EQ(loop_duration[0][0], 2);
    run_ticks(16);  // d16 inside level 2
    EXPECT_EQ(loops_active[0], 2);
    EXPECT_EQ(loop_duration[1][0], 1);
    EXPECT_EQ(loop_point[1][0], loop_point[0][0] + 3);  // after c8 and the second [
}

TEST_F(SongInterpreter, PatternReturnsAfterItsCallAndTheChannelStartsOver)
{
    load("call");
    const uint16_t start = data_pointer[0];
    run_ticks(1);
    EXPECT_EQ(tarq_note[0], 1);
    run_ticks(32);
    EXPECT_EQ(tarq_note[0], 3);  // in the pattern
    EXPECT_EQ(pointer_location[0], start + 4);  // after o3 c4 and the call's operand
    run_ticks(32);
    EXPECT_EQ(tarq_note[0], 5);  // back after the call
    EXPECT_EQ(pointer_location[0], 0);
    run_ticks(32);
    EXPECT_EQ(tarq_note[0], 1);  // `end` with no call pending: from the top
    EXPECT_EQ(data_pointer[0], start + 2);
}

TEST_F(SongInterpreter, TransposeAndPanningOperandsAreSigned)
{
    load("signed");
    const uint16_t start = song_table_entry(block.data(), 0);
    EXPECT_EQ(block[start + 1], 0xFF);
    EXPECT_EQ(block[start + 3], 0xEC);
    run_ticks(1);
    EXPECT_EQ(tarq_transpose[0], -1);
    EXPECT_EQ(tarq_panning[0], -20);
    EXPECT_EQ(osc_target_pitch[0], notes[36]);  // octave 3, note 1, one semitone down
}

TEST_F(SongInterpreter, NewNoteReloadsTheInstrumentAndBakesTheTable)
{
    load("tie");
    lfo_amplitude[0] = 9;
    osc_mix[0] = 50;
    run_ticks(1);
    EXPECT_EQ(lfo_amplitude[0], 0);
    EXPECT_EQ(osc_mix[0], 0);
    EXPECT_EQ(env_vol_tick[0], 0);           // the note restarts the volume envelope
    EXPECT_EQ(env_wav_tick[0], 1);           // configure_instrument ran
    EXPECT_EQ(osc_sample_1_l[0], 10);        // instrument 1
    EXPECT_FLOAT_EQ(osc_volume[0], 0.5f);    // a decay starts at the channel volume
    EXPECT_EQ(osc_pitch[0], notes[37]);
}

TEST_F(SongInterpreter, RisingEnvelopeStartsSilent)
{
    block = assemble_ok("channel 0\n  @12 o3 c4 r1\n" + idle_channels(1, 7));
    load_song(block);
    osc_volume[0] = 1.0f;
    run_ticks(1);
    EXPECT_EQ(env_vol_type[0], 1);
    EXPECT_FLOAT_EQ(osc_volume[0], 0.0f);
}

// Marks the state a new note would reset, to see whether a note was tied.
void mark_voice()
{
    lfo_amplitude[0] = 9;
    env_wav_tick[0] = 77;
    osc_mix[0] = 42;
    osc_volume[0] = 0.25f;
}

bool voice_untouched()
{
    return lfo_amplitude[0] == 9 && env_wav_tick[0] == 77 && osc_mix[0] == 42 &&
           osc_volume[0] == 0.25f;
}

// A tied e at octave 3 (pitch index 41) on a channel whose sweep is set by
// hand, the way a tied note finds the previous note's instrument.
void play_tied_with_sweep(uint8_t type, uint8_t target)
{
    run_ticks(1);
    mark_voice();
    swp_type[0] = type;
    swp_target[0] = target;
    osc_pitch[0] = 1111;
    osc_target_pitch[0] = 2222;
    run_ticks(32);
}

// A tied note only retunes: the voice is not reloaded whatever the sweep.
TEST_F(SongInterpreter, TiedNoteFollowsEachSweepType)
{
    struct Case { uint8_t type; uint16_t pitch, target; };
    const Case cases[] = {
        {0, notes[41], 2222},
        {1, notes[41], notes[39]},
        {2, notes[39], notes[41]},
        {3, 1111, 2222},  // a running sweep is left alone
        {4, 1111, 2222},
        {5, 1111, 2222},
        {255, 1111, 2222},
    };
    for (const Case& c : cases) {
        load("tie");
        play_tied_with_sweep(c.type, 2);
        EXPECT_EQ(osc_pitch[0], c.pitch) << "swp_type " << int(c.type);
        EXPECT_EQ(osc_target_pitch[0], c.target) << "swp_type " << int(c.type);
        EXPECT_TRUE(voice_untouched()) << "swp_type " << int(c.type);
        EXPECT_EQ(tarq_tie_flag[0], 0);
        EXPECT_EQ(tarq_note[0], 5);
    }
}

// Untied notes load the instrument's sweep first: instrument 0 sweeps up
// by 1 (type 2), 6 down by 24 (type 3), 9 up from 48 below (type 4).
TEST_F(SongInterpreter, NewNoteSetsPitchAndSweepGoal)
{
    struct Case { const char* set_up; uint16_t pitch, target; };
    const Case cases[] = {
        {"@0 o3", notes[36], notes[37]},
        {"@6 o3", notes[37], notes[13]},
        {"@9 o5", notes[13], notes[61]},
        {"@9 o3", 0, notes[37]},       // 48 below index 37 is below the table
        {"@0 o0 k-1", 0, notes[0]},    // type 2 with the goal below index 0
        {"@6 o1", notes[13], 0},       // type 3 sweeping down below index 0
    };
    for (const Case& c : cases) {
        block = assemble_ok(std::string("channel 0\n  ") + c.set_up + " c4 r1\n" +
                            idle_channels(1, 7));
        load_song(block);
        run_ticks(1);
        EXPECT_EQ(osc_pitch[0], c.pitch) << c.set_up;
        EXPECT_EQ(osc_target_pitch[0], c.target) << c.set_up;
    }
}

TEST_F(SongInterpreter, RestClearsAPendingTieAndReloadsTheInstrument)
{
    load("tie_rest");  // c4 & r4 d4 & r0 e4
    run_ticks(1);
    mark_voice();
    run_ticks(32);  // the rest
    EXPECT_EQ(tarq_tie_flag[0], 0);
    EXPECT_EQ(env_wav_tick[0], 1);
    EXPECT_EQ(env_vol_length[0], 1);
    EXPECT_EQ(env_vol_type[0], 0);
    EXPECT_EQ(osc_pitch[0], notes[37]);  // the pitch stays
    mark_voice();
    run_ticks(32);  // d4: a new note, not tied
    EXPECT_FALSE(voice_untouched());
    EXPECT_EQ(lfo_amplitude[0], 0);
    mark_voice();
    run_ticks(32);  // & r0 e4: the timeless rest clears the tie, e starts afresh
    EXPECT_EQ(tarq_note[0], 5);
    EXPECT_EQ(lfo_amplitude[0], 0);
    EXPECT_EQ(osc_mix[0], 0);
}

TEST_F(SongInterpreter, DrumNotesStartSamplesAndFoldAbove10)
{
    load("drums");  // o3 a+4 b4 & c4 r4 e4
    sample_mute = 1;
    sample_accumulator = 500;
    run_ticks(1);
    EXPECT_EQ(sample_start, sample_index[0]);  // note 11 plays sample 0
    EXPECT_EQ(sample_end, sample_index[1]);
    EXPECT_EQ(sample_mute, 0);
    EXPECT_EQ(sample_accumulator, 0);
    EXPECT_EQ(tarq_note[7], 0);
    run_ticks(32);
    EXPECT_EQ(sample_start, sample_index[1]);  // note 12 plays sample 1
    EXPECT_EQ(sample_end, sample_index[2]);
    sample_accumulator = 300;
    run_ticks(32);  // tied c: the sample goes on
    EXPECT_EQ(sample_start, sample_index[1]);
    EXPECT_EQ(sample_accumulator, 300);
    EXPECT_EQ(tarq_tie_flag[7], 0);
    run_ticks(32);
    EXPECT_EQ(sample_mute, 1);
    run_ticks(32);
    EXPECT_EQ(sample_start, sample_index[4]);
    EXPECT_EQ(sample_end, sample_index[5]);
}

TEST_F(SongInterpreter, VolumeAndOctaveCommands)
{
    block = assemble_ok("channel 0\n  v12 o5 r1\n" + idle_channels(1, 6) +
                        "channel 7\n  v15 o6 r1\n");
    load_song(block);
    run_ticks(1);
    EXPECT_FLOAT_EQ(tarq_volume[0], 1.5f);
    EXPECT_FLOAT_EQ(tarq_volume[7], 1.875f);
    EXPECT_EQ(tarq_octave[0], 5);
    EXPECT_EQ(tarq_octave[7], 6);
}

}  // namespace
