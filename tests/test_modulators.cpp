// The oscillator channels' modulators: LFO and its fade-in, the volume and
// wave envelopes on the 201-frame clock, and the pitch sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "voice/sweep.h"
#include "voice_arming.h"

namespace {

class Modulators : public ::testing::Test {
protected:
    void SetUp() override { reset_voices(); }
};

bool table_is_silent(int c)
{
    for (int side = 0; side < 2; ++side)
        for (int k = 0; k < OSC_TABLE_LENGTH; ++k)
            if (osc_wavetable[c][side][k] != 0) return false;
    return true;
}

// Sine first, square second on both sides: any change of mix shows.
void distinct_waves(int c)
{
    osc_sample_1_l[c] = osc_sample_1_r[c] = 0;
    osc_sample_2_l[c] = osc_sample_2_r[c] = 2;
}

bool tables_equal(int a, int b)
{
    return std::memcmp(osc_wavetable[a], osc_wavetable[b], sizeof osc_wavetable[a]) == 0;
}

// ---- LFO fade-in -------------------------------------------------------

// Amplitudes after each of `steps` fade-in steps of channel 0.
std::vector<int> fade_in(int steps)
{
    std::vector<int> amplitudes;
    for (int s = 0; s < steps; ++s) {
        lfo_fade_step(0);
        amplitudes.push_back(lfo_amplitude[0]);
    }
    return amplitudes;
}

TEST_F(Modulators, FadeInSettlesOneAboveTheIntensity)
{
    start_note(0, 1, 440, [](int c) { lfo_intensity[c] = 3; lfo_length[c] = 0; });
    // The note leaves the countdown at 1: the first step only counts down.
    EXPECT_EQ(fade_in(8), (std::vector<int>{0, 1, 2, 3, 4, 4, 4, 4}));
}

TEST_F(Modulators, ZeroIntensityStillGivesAmplitudeOne)
{
    start_note(0, 1, 440, [](int c) { lfo_intensity[c] = 0; lfo_length[c] = 0; });
    EXPECT_EQ(fade_in(5), (std::vector<int>{0, 1, 1, 1, 1}));
}

TEST_F(Modulators, NegativeIntensityNeverFadesIn)
{
    start_note(0, 1, 440, [](int c) { lfo_intensity[c] = static_cast<int8_t>(200); lfo_length[c] = 0; });
    for (int amplitude : fade_in(1000)) ASSERT_EQ(amplitude, 0);
}

TEST_F(Modulators, IntensityOf127WrapsTheAmplitudeAndKeepsClimbing)
{
    start_note(0, 1, 440, [](int c) { lfo_intensity[c] = 127; lfo_length[c] = 0; });
    const std::vector<int> a = fade_in(131);
    EXPECT_EQ(a[127], 127);
    EXPECT_EQ(a[128], -128);
    EXPECT_EQ(a[129], -127);
    EXPECT_EQ(a[130], -126);
}

TEST_F(Modulators, FadeInReloadIsTruncatedTo16Bits)
{
    struct Case { uint16_t length; uint16_t reload; };
    for (const Case c : {Case{1200, 11264}, Case{2000, 62464}, Case{2550, 32128}, Case{350, 22400}}) {
        lfo_length[0] = c.length;
        lfo_intensity[0] = 5;
        lfo_amplitude[0] = 0;
        lfo_tick[0] = 0;
        lfo_fade_step(0);
        EXPECT_EQ(lfo_tick[0], c.reload) << "lfo_length " << c.length;
    }
}

// A note armed at the end of frame f reaches amplitude 1 in frame f + 2 and
// climbs one step every reload + 1 frames.
TEST_F(Modulators, FadeInTimingInFrames)
{
    for (uint32_t f = 0; f <= 10; ++f) render_frame(f);
    start_note(0, 1, 440, [](int c) { lfo_intensity[c] = 5; lfo_length[c] = 1; });
    render_frame(11);
    EXPECT_EQ(lfo_amplitude[0], 0);
    render_frame(12);
    EXPECT_EQ(lfo_amplitude[0], 1);
    for (uint32_t f = 13; f < 12 + 65; ++f) render_frame(f);
    EXPECT_EQ(lfo_amplitude[0], 1);
    render_frame(12 + 65);
    EXPECT_EQ(lfo_amplitude[0], 2);
}

// ---- LFO output --------------------------------------------------------

TEST_F(Modulators, AmplitudeOneGivesOffsetsFromMinus4To3)
{
    lfo_amplitude[0] = 1;
    lfo_pitch[0] = 512;  // one wave entry per frame
    int low = 0, high = 0;
    for (int k = 0; k < 256; ++k) {
        lfo_step(0);
        low = std::min<int>(low, lfo_output[0]);
        high = std::max<int>(high, lfo_output[0]);
    }
    // Division by 32 rounding down: -127 gives -4, 127 gives 3.
    EXPECT_EQ(low, -4);
    EXPECT_EQ(high, 3);
}

TEST_F(Modulators, StandingLfoAtPhaseZeroGivesNoOffset)
{
    lfo_amplitude[0] = 1;
    lfo_step(0);
    EXPECT_EQ(lfo_output[0], 0);
}

TEST_F(Modulators, LfoPitch14CyclesEvery9362Point3Frames)
{
    lfo_amplitude[0] = 32;  // offset = wave value
    lfo_pitch[0] = 14;
    std::vector<int> rises;  // frames where the sine turns from negative to non-negative
    int previous = 0;
    for (int f = 0; rises.size() < 11; ++f) {
        lfo_step(0);
        if (previous < 0 && lfo_output[0] >= 0) rises.push_back(f);
        previous = lfo_output[0];
    }
    for (size_t k = 1; k < rises.size(); ++k) {
        const int period = rises[k] - rises[k - 1];
        EXPECT_TRUE(period == 9362 || period == 9363) << period;
    }
    // Ten cycles of 131,072 / 14 = 9,362.29 frames: 4.71 Hz.
    const int ten = rises[10] - rises[0];
    EXPECT_TRUE(ten == 93622 || ten == 93623) << ten;
}

TEST_F(Modulators, WaveformMovesTheWindowByFourEntriesPerUnit)
{
    lfo_amplitude[0] = 32;
    lfo_waveform[0] = 2;                         // bank entries 8 .. 263
    lfo_accumulator[0] = (250u << 9) - 1;        // next step reads window entry 250
    lfo_pitch[0] = 1;
    lfo_step(0);
    EXPECT_EQ(lfo_output[0], wavetable_data[WAVE_LENGTH + 2]);  // wave 1, entry 2
}

TEST_F(Modulators, LargestOffsetIs508)
{
    lfo_amplitude[0] = -128;                     // a wrapped amplitude
    lfo_accumulator[0] = 64u << 9;               // the sine's peak, 127
    lfo_step(0);
    EXPECT_EQ(lfo_output[0], -508);
}

TEST_F(Modulators, NegativeWaveformReadsFromTheBankStart)
{
    lfo_amplitude[0] = 32;
    lfo_waveform[0] = -5;
    lfo_accumulator[0] = 64u << 9;
    lfo_step(0);
    EXPECT_EQ(lfo_output[0], wavetable_data[64]);
}

// The offset computed in frame f moves the phase in frame f + 1.
TEST_F(Modulators, LfoOffsetReachesTheOscillatorNextFrame)
{
    osc_pitch[0] = 1000;
    lfo_amplitude[0] = 32;
    lfo_accumulator[0] = 64u << 9;  // offset 127 with a standing LFO
    render_frame(0);
    EXPECT_EQ(osc_accumulator[0], 1000u);
    render_frame(1);
    EXPECT_EQ(osc_accumulator[0], 1000u + 1127u);
}

// ---- Envelopes ---------------------------------------------------------

// Frame in which channel 0's first envelope step after a note armed at the
// end of frame `note_frame` runs.
uint32_t first_envelope_frame(uint32_t note_frame)
{
    uint32_t f = 0;
    for (; f <= note_frame; ++f) render_frame(f);
    start_note(0, 1, 440, [](int c) { env_vol_type[c] = 0; });
    for (; env_vol_tick[0] == 0 && f < 1000; ++f) render_frame(f);
    return f - 1;
}

TEST_F(Modulators, FirstEnvelopeStepComes1To201FramesAfterTheNote)
{
    EXPECT_EQ(first_envelope_frame(199), 200u);  // clock fires at 200, 401, ...
    reset_voices();
    EXPECT_EQ(first_envelope_frame(200), 401u);  // just missed it
    reset_voices();
    EXPECT_EQ(first_envelope_frame(300), 401u);
}

void set_volume_envelope(uint8_t type, uint16_t length, float volume)
{
    start_note(0, 1, 440, [&](int c) {
        env_vol_type[c] = type;
        env_vol_length[c] = length;
        tarq_volume[c] = volume;
    });
}

TEST_F(Modulators, DecayReachesExactlyZeroAtStepNPlusOne)
{
    for (uint16_t n : {6, 30, 720}) {
        for (int eighths = 1; eighths <= 15; ++eighths) {
            const float v = eighths * 0.125f;
            set_volume_envelope(0, n, v);
            for (int s = 0; s < n; ++s) env_step(0);
            ASSERT_GT(osc_volume[0], 0.0f) << "n " << n << " v " << v;
            env_step(0);
            ASSERT_EQ(osc_volume[0], 0.0f) << "n " << n << " v " << v;
            env_step(0);
            EXPECT_EQ(env_vol_tick[0], n + 1);
        }
    }
}

TEST_F(Modulators, AttackReachesTheChannelVolumeExactly)
{
    for (uint16_t n : {6, 30, 720}) {
        for (int eighths = 1; eighths <= 15; ++eighths) {
            const float v = eighths * 0.125f;
            set_volume_envelope(1, n, v);
            ASSERT_EQ(osc_volume[0], 0.0f);  // an attack starts silent
            for (int s = 0; s < n; ++s) env_step(0);
            ASSERT_LT(osc_volume[0], v);
            env_step(0);
            ASSERT_EQ(osc_volume[0], v) << "n " << n << " v " << v;
        }
    }
}

// Worked values where another order of the same operations rounds
// differently in single precision.
TEST_F(Modulators, EnvelopeOrderOfOperations)
{
    set_volume_envelope(0, 30, 0.875f);
    env_step(0);
    env_step(0);  // t = 1: (1 * -0.875) / 30 + 0.875
    EXPECT_EQ(osc_volume[0], 0.8458333611488342f);  // not 0.8458333015441895

    set_volume_envelope(1, 120, 1.875f);
    for (int s = 0; s <= 63; ++s) env_step(0);  // t = 63: (63 * 1.875) / 120
    EXPECT_EQ(osc_volume[0], 0.984375f);          // not 0.98437494

    start_note(0, 1, 440, [](int c) { env_wav_length[c] = 300; });
    for (int s = 0; s < 159; ++s) env_step(0);  // t = 159: (159 * 100) / 300
    EXPECT_EQ(osc_mix[0], 53);                   // (159 / 300) * 100 would give 52
}

TEST_F(Modulators, WaveEnvelopeClimbsTo100AndStays)
{
    start_note(0, 1, 440, [](int c) { env_wav_length[c] = 30; });
    env_step(0);
    EXPECT_EQ(osc_mix[0], 3);  // 100 / 30, truncated
    for (int s = 1; s < 30; ++s) env_step(0);
    EXPECT_EQ(osc_mix[0], 100);
    env_step(0);
    EXPECT_EQ(osc_mix[0], 100);
    EXPECT_EQ(env_wav_tick[0], 31);
}

// A rest at the end of frame 500 changes nothing audible until the envelope
// step of frame 602; from frame 603 the channel is silent.
TEST_F(Modulators, RestSilencesAtTheNextEnvelopeStep)
{
    tarq_volume[0] = 1.0f;
    start_note(0, 1, 440, [](int c) { env_vol_type[c] = 0; env_vol_length[c] = 720; });
    uint32_t f = 0;
    for (; f <= 500; ++f) render_frame(f);
    start_rest(0, 1);
    bool sounding = false;
    for (; f <= 602; ++f) {
        render_frame(f);
        sounding = sounding || channel_buffer_int[0][f][0] != 0;
    }
    EXPECT_TRUE(sounding);
    EXPECT_EQ(osc_volume[0], 0.0f);
    for (; f <= 900; ++f) {
        render_frame(f);
        ASSERT_EQ(channel_buffer_int[0][f][0], 0) << "frame " << f;
        ASSERT_EQ(channel_buffer_int[0][f][1], 0) << "frame " << f;
    }
}

// When both envelopes move in one step, the table must carry the new volume
// and the new mix together.
TEST_F(Modulators, BothEnvelopesInOneStepBakeBothNewValues)
{
    tarq_volume[0] = 1.5f;
    start_note(0, 1, 440, [](int c) {
        distinct_waves(c);
        env_vol_type[c] = 0;
        env_vol_length[c] = 6;
        env_wav_length[c] = 30;
    });
    env_step(0);
    const float old_volume = osc_volume[0];
    const uint8_t old_mix = osc_mix[0];
    env_step(0);
    ASSERT_EQ(osc_mix[0], 6);                 // 200 / 30
    ASSERT_EQ(osc_volume[0], 1.25f);          // 1.5 - 1.5 / 6

    auto bake_on_1 = [](uint8_t mix, float volume) {
        update_wavetable(1, osc_sample_1_l[0], osc_sample_2_l[0], osc_sample_1_r[0],
                         osc_sample_2_r[0], mix, osc_phase[0], volume, osc_stereo_mix[0]);
    };
    bake_on_1(old_mix, 1.25f);
    ASSERT_FALSE(tables_equal(0, 1));  // the volume bake alone is not enough
    bake_on_1(6, old_volume);
    ASSERT_FALSE(tables_equal(0, 1));  // nor a mix bake with the old volume
    bake_on_1(6, 1.25f);
    EXPECT_TRUE(tables_equal(0, 1));
}

TEST_F(Modulators, FinishedEnvelopesDoNotRebake)
{
    tarq_volume[0] = 1.0f;
    start_note(0, 1, 440, [](int c) {
        distinct_waves(c);
        env_vol_type[c] = 1;
        env_vol_length[c] = 1;
        env_wav_length[c] = 1;
    });
    for (int s = 0; s < 3; ++s) env_step(0);
    ASSERT_FALSE(table_is_silent(0));
    osc_mix[0] = 0;  // was 100: would change the table if it were baked again
    int16_t before[2][OSC_TABLE_LENGTH];
    std::memcpy(before, osc_wavetable[0], sizeof before);
    env_step(0);
    EXPECT_EQ(std::memcmp(before, osc_wavetable[0], sizeof before), 0);
}

TEST_F(Modulators, VolumeEnvelopeTypeTwoLeavesTheNoteSilent)
{
    tarq_volume[0] = 1.0f;
    set_volume_envelope(2, 30, 1.0f);
    for (int s = 0; s < 5; ++s) env_step(0);
    EXPECT_EQ(osc_volume[0], 0.0f);
    EXPECT_EQ(env_vol_tick[0], 0);
    EXPECT_TRUE(table_is_silent(0));
}

// Zero length would be 0 / 0: the note must be silent, through every later
// rebake by the wave envelope too.
TEST_F(Modulators, ZeroLengthVolumeEnvelopeIsSilent)
{
    for (uint8_t type : {0, 1}) {
        start_note(0, 1, 440, [&](int c) {
            env_vol_type[c] = type;
            env_vol_length[c] = 0;
            env_wav_length[c] = 30;
            tarq_volume[c] = 1.0f;
        });
        for (int s = 0; s < 5; ++s) {
            env_step(0);
            ASSERT_FALSE(osc_volume[0] > 0.0f);
            ASSERT_TRUE(table_is_silent(0)) << "type " << int(type) << " step " << s;
        }
    }
}

// Before any instrument is loaded both lengths are 0 and both ticks 0.
TEST_F(Modulators, EnvelopeStepOnProgramStartStateIsSilent)
{
    env_step(0);
    EXPECT_EQ(osc_mix[0], 100);
    EXPECT_TRUE(table_is_silent(0));
}

// ---- Sweep -------------------------------------------------------------

// Sweep steps (counted from 1 after the note) in which the pitch moved.
std::vector<int> sweep_moves(int steps)
{
    std::vector<int> moves;
    for (int s = 1; s <= steps; ++s) {
        const uint16_t before = osc_pitch[0];
        swp_step(0);
        if (osc_pitch[0] != before) moves.push_back(s);
    }
    return moves;
}

void arm_sweep(uint8_t type, uint8_t length, uint16_t pitch, uint16_t target)
{
    start_note(0, 1, pitch, [&](int c) { swp_type[c] = type; swp_length[c] = length; });
    osc_target_pitch[0] = target;
}

TEST_F(Modulators, SweepGlidesDownOneUnitPerLengthTimes4Plus1Frames)
{
    for (uint8_t type : {1, 3}) {
        arm_sweep(type, 2, 500, 497);
        EXPECT_EQ(sweep_moves(100), (std::vector<int>{2, 11, 20}));
        EXPECT_EQ(osc_pitch[0], 497);
    }
}

TEST_F(Modulators, SweepGlidesUpAndStopsOnTheTarget)
{
    for (uint8_t type : {2, 4}) {
        arm_sweep(type, 1, 440, 443);
        EXPECT_EQ(sweep_moves(100), (std::vector<int>{2, 7, 12}));
        EXPECT_EQ(osc_pitch[0], 443);
    }
}

TEST_F(Modulators, SweepLengthZeroMovesEveryFrame)
{
    arm_sweep(1, 0, 500, 490);
    EXPECT_EQ(sweep_moves(11), (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(osc_pitch[0], 490);
}

TEST_F(Modulators, SweepNeverMovesAwayFromItsDirection)
{
    arm_sweep(1, 0, 500, 500);  // down, target reached
    EXPECT_TRUE(sweep_moves(50).empty());
    arm_sweep(1, 0, 500, 600);  // down, target above
    EXPECT_TRUE(sweep_moves(50).empty());
    arm_sweep(2, 0, 500, 400);  // up, target below
    EXPECT_TRUE(sweep_moves(50).empty());
}

TEST_F(Modulators, SweepTypesZeroAndFivePlusNeverMove)
{
    for (uint8_t type : {0, 5, 255}) {
        arm_sweep(type, 0, 500, 400);
        EXPECT_TRUE(sweep_moves(50).empty()) << "type " << int(type);
    }
}

// 33,000 is above 32,760 only when compared unsigned.
TEST_F(Modulators, SweepComparesPitchesUnsigned)
{
    arm_sweep(1, 0, 33000, 32760);
    sweep_moves(2);
    EXPECT_EQ(osc_pitch[0], 32999);
}

}  // namespace
