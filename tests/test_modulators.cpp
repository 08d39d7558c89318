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

// The note leaves the countdown at 1, so the first step only counts down;
// the amplitude settles one above the intensity, an 8-bit value that wraps.
TEST_F(Modulators, FadeInClimbsToOneAboveTheIntensity)
{
    struct Case { int8_t intensity; std::vector<int> amplitudes; };
    const Case cases[] = {
        {3, {0, 1, 2, 3, 4, 4, 4, 4}},
        {0, {0, 1, 1, 1, 1}},
        {static_cast<int8_t>(200), std::vector<int>(1000, 0)},  // negative: never fades in
    };
    for (const Case& c : cases) {
        start_note(0, 1, 440, [&](int ch) { lfo_intensity[ch] = c.intensity; lfo_length[ch] = 0; });
        EXPECT_EQ(fade_in(static_cast<int>(c.amplitudes.size())), c.amplitudes) << int(c.intensity);
    }
    start_note(0, 1, 440, [](int ch) { lfo_intensity[ch] = 127; lfo_length[ch] = 0; });
    const std::vector<int> a = fade_in(131);
    EXPECT_EQ((std::vector<int>{a[127], a[128], a[129], a[130]}), (std::vector<int>{127, -128, -127, -126}));
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
    for (uint32_t f = 12; f < 12 + 65; ++f) {
        render_frame(f);
        ASSERT_EQ(lfo_amplitude[0], 1) << "frame " << f;
    }
    render_frame(12 + 65);
    EXPECT_EQ(lfo_amplitude[0], 2);
}

// ---- LFO output --------------------------------------------------------

// One step from a set phase: the offset is wave value x amplitude / 32,
// rounded down, read through a window that moves four entries per
// waveform unit and starts at the bank for negative waveforms.
TEST_F(Modulators, LfoOffsetOfOneStep)
{
    struct Case { const char* what; int8_t amplitude, waveform; uint32_t accumulator; uint16_t pitch; int offset; };
    const Case cases[] = {
        {"standing at phase 0", 1, 0, 0, 0, 0},
        {"wrapped amplitude at the sine's peak", -128, 0, 64u << 9, 0, -508},
        {"waveform 2 reads wave 1, entry 2", 32, 2, (250u << 9) - 1, 1, wavetable_data[WAVE_LENGTH + 2]},
        {"negative waveform", 32, -5, 64u << 9, 0, wavetable_data[64]},
    };
    for (const Case& c : cases) {
        lfo_amplitude[0] = c.amplitude;
        lfo_waveform[0] = c.waveform;
        lfo_accumulator[0] = c.accumulator;
        lfo_pitch[0] = c.pitch;
        lfo_step(0);
        EXPECT_EQ(lfo_output[0], c.offset) << c.what;
    }
}

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
    EXPECT_EQ(low, -4);  // -127 / 32 rounded down
    EXPECT_EQ(high, 3);
}

// Ten cycles of 131,072 / 14 = 9,362.29 frames: 4.71 Hz.
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
    const int ten = rises[10] - rises[0];
    EXPECT_TRUE(ten == 93622 || ten == 93623) << ten;
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

// Frame of channel 0's first envelope step after a note armed at the end
// of frame `note_frame`; the clock fires at 200, 401, ...
uint32_t first_envelope_frame(uint32_t note_frame)
{
    reset_voices();
    uint32_t f = 0;
    for (; f <= note_frame; ++f) render_frame(f);
    start_note(0, 1, 440, [](int c) { env_vol_type[c] = 0; });
    for (; env_vol_tick[0] == 0 && f < 1000; ++f) render_frame(f);
    return f - 1;
}

TEST_F(Modulators, FirstEnvelopeStepComes1To201FramesAfterTheNote)
{
    EXPECT_EQ(first_envelope_frame(199), 200u);
    EXPECT_EQ(first_envelope_frame(200), 401u);  // just missed it
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

// A decay (type 0) reaches exactly 0 and an attack (type 1) exactly the
// channel volume at step n + 1, not a rounding step before.
TEST_F(Modulators, EnvelopesLandExactlyOnTheirGoalAtStepNPlusOne)
{
    for (uint8_t type : {0, 1}) {
        for (uint16_t n : {6, 30, 720}) {
            for (int eighths = 1; eighths <= 15; ++eighths) {
                const float v = eighths * 0.125f;
                const float goal = type == 0 ? 0.0f : v;
                SCOPED_TRACE(::testing::Message() << "type " << int(type) << " n " << n << " v " << v);
                set_volume_envelope(type, n, v);
                ASSERT_EQ(osc_volume[0], type == 0 ? v : 0.0f);
                for (int s = 0; s < n; ++s) env_step(0);
                ASSERT_NE(osc_volume[0], goal);
                env_step(0);
                ASSERT_EQ(osc_volume[0], goal);
                env_step(0);
                EXPECT_EQ(env_vol_tick[0], n + 1);
            }
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
    for (int s = 1; s < 31; ++s) env_step(0);
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

// Volume envelope type 2, a zero length (0 / 0) and the program-start state
// must stay silent, through every rebake by the wave envelope too.
TEST_F(Modulators, EnvelopesThatCannotSoundBakeSilence)
{
    env_step(0);  // program start: both lengths and ticks 0
    EXPECT_EQ(osc_mix[0], 100);
    EXPECT_TRUE(table_is_silent(0));

    for (uint8_t type : {0, 1, 2}) {
        const uint16_t length = type == 2 ? 30 : 0;
        start_note(0, 1, 440, [&](int c) {
            env_vol_type[c] = type;
            env_vol_length[c] = length;
            env_wav_length[c] = 30;
            tarq_volume[c] = 1.0f;
        });
        for (int s = 0; s < 5; ++s) {
            env_step(0);
            ASSERT_FALSE(osc_volume[0] > 0.0f) << "type " << int(type);
            ASSERT_TRUE(table_is_silent(0)) << "type " << int(type) << " step " << s;
        }
        if (type == 2) {
            EXPECT_EQ(env_vol_tick[0], 0);
        }
    }
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

// One unit every length x 4 + 1 steps toward the goal, never past it and
// never the other way; types 0 and 5 up do not sweep. Pitches compare
// unsigned: 33,000 is above 32,760.
TEST_F(Modulators, SweepMovesOneUnitTowardTheGoal)
{
    struct Case { uint8_t type, length; uint16_t pitch, target; int steps; std::vector<int> moves; uint16_t end; };
    const Case cases[] = {
        {1, 2, 500, 497, 100, {2, 11, 20}, 497},
        {3, 2, 500, 497, 100, {2, 11, 20}, 497},
        {2, 1, 440, 443, 100, {2, 7, 12}, 443},
        {4, 1, 440, 443, 100, {2, 7, 12}, 443},
        {1, 0, 500, 490, 11, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 490},
        {1, 0, 500, 500, 50, {}, 500},
        {1, 0, 500, 600, 50, {}, 500},
        {2, 0, 500, 400, 50, {}, 500},
        {0, 0, 500, 400, 50, {}, 500},
        {5, 0, 500, 400, 50, {}, 500},
        {255, 0, 500, 400, 50, {}, 500},
        {1, 0, 33000, 32760, 2, {2}, 32999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << int(c.type) << " length " << int(c.length)
                                          << " from " << c.pitch << " to " << c.target);
        start_note(0, 1, c.pitch, [&](int ch) { swp_type[ch] = c.type; swp_length[ch] = c.length; });
        osc_target_pitch[0] = c.target;
        EXPECT_EQ(sweep_moves(c.steps), c.moves);
        EXPECT_EQ(osc_pitch[0], c.end);
    }
}

}  // namespace
