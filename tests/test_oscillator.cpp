// The oscillator: the wave-table bake's arithmetic and the per-frame read.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "data/tables.h"
#include "driver/render.h"
#include "song/tarq.h"
#include "voice/oscillator.h"

namespace {

class Oscillator : public ::testing::Test {
protected:
    void SetUp() override { render_reset(); }
};

int find_entry(int wave, int value)
{
    for (int k = 0; k < WAVE_LENGTH; ++k)
        if (wavetable_data[wave * WAVE_LENGTH + k] == value) return k;
    return -1;
}

TEST_F(Oscillator, PanGainsUseTheAngleConstant157)
{
    struct Case { int8_t pan; float left, right; };
    const Case cases[] = {
        {-100, 1.0f, 0.0f},
        {0, 0.7073882f, 0.7068252f},
        {100, 0.0007963f, 0.9999997f},
        {-40, 0.8911150f, 0.4537776f},
        {-20, 0.8092042f, 0.5875275f},
        {20, 0.5881718f, 0.8087360f},
        {40, 0.4544871f, 0.8907533f},
    };
    for (const Case& c : cases) {
        const PanGains g = osc_pan_gains(c.pan);
        EXPECT_NEAR(g.left, c.left, 1e-7) << "pan " << int(c.pan);
        EXPECT_NEAR(g.right, c.right, 1e-7) << "pan " << int(c.pan);
    }
}

// One entry with left wave value 71 and right wave value 75, volume 0.5,
// stereo mix 0.4, centre pan: 452/477 before the cross-feed, 462/467 after.
// Mix 100 selects the second waves, so the right value can come from any
// wave at a rotation of our choosing.
TEST_F(Oscillator, BakeWorkedExample)
{
    const int k = find_entry(0, 71);
    ASSERT_GE(k, 0);
    int wave75 = -1, at75 = -1;
    for (int w = 0; w < WAVE_COUNT && at75 < 0; ++w) {
        at75 = find_entry(w, 75);
        wave75 = w;
    }
    ASSERT_GE(at75, 0);
    const auto phase = static_cast<uint8_t>(at75 - k);
    update_wavetable(0, 1, 0, 1, static_cast<int8_t>(wave75), 100, phase, 0.5f, 0.4f);
    EXPECT_EQ(osc_wavetable[0][0][k], 462);
    EXPECT_EQ(osc_wavetable[0][1][k], 467);
}

// Full volume, no cross-feed: the sine's peak becomes 127 * 18 = 2286 hard
// left, and centre pan is slightly left-heavy (2286 x 0.7073882 / 0.7068252).
TEST_F(Oscillator, SinePeakAtHardLeftAndCentre)
{
    struct Case { int8_t pan; int16_t left, right; };
    for (const Case c : {Case{-100, 2286, 0}, Case{0, 1617, 1615}}) {
        tarq_panning[2] = c.pan;
        update_wavetable(2, 0, 0, 0, 0, 0, 0, 1.0f, 0.0f);
        EXPECT_EQ(osc_wavetable[2][0][64], c.left) << "pan " << int(c.pan);
        EXPECT_EQ(osc_wavetable[2][1][64], c.right) << "pan " << int(c.pan);
    }
}

TEST_F(Oscillator, StereoMixKeepsBlendsOrSwapsTheSides)
{
    tarq_panning[0] = -40;
    update_wavetable(0, 1, 1, 8, 8, 0, 0, 1.0f, 0.0f);
    int16_t apart[2][256];
    std::copy(&osc_wavetable[0][0][0], &osc_wavetable[0][0][0] + 512, &apart[0][0]);

    update_wavetable(0, 1, 1, 8, 8, 0, 0, 1.0f, 1.0f);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(osc_wavetable[0][0][k], apart[1][k]) << k;
        EXPECT_EQ(osc_wavetable[0][1][k], apart[0][k]) << k;
    }

    update_wavetable(0, 1, 1, 8, 8, 0, 0, 1.0f, 0.5f);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(osc_wavetable[0][0][k], osc_wavetable[0][1][k]) << k;
        EXPECT_EQ(osc_wavetable[0][0][k], static_cast<int16_t>((apart[0][k] + apart[1][k]) * 0.5f)) << k;
    }
}

TEST_F(Oscillator, ZeroNegativeAndNaNVolumesBakeSilence)
{
    for (float volume : {0.0f, -0.5f, std::numeric_limits<float>::quiet_NaN()}) {
        update_wavetable(3, 0, 1, 0, 1, 0, 0, 1.0f, 0.3f);  // something audible first
        update_wavetable(3, 0, 1, 0, 1, 50, 9, volume, 0.3f);
        for (int side = 0; side < 2; ++side)
            for (int k = 0; k < 256; ++k) ASSERT_EQ(osc_wavetable[3][side][k], 0) << volume;
    }
}

TEST_F(Oscillator, PhaseRotatesOnlyTheRightSecondWave)
{
    tarq_panning[1] = 0;
    update_wavetable(1, 0, 0, 0, 0, 0, 0, 1.0f, 0.0f);
    int16_t unrotated[2][256];
    std::copy(&osc_wavetable[1][0][0], &osc_wavetable[1][0][0] + 512, &unrotated[0][0]);

    update_wavetable(1, 0, 0, 0, 0, 0, 64, 1.0f, 0.0f);  // mix 0: phase is inaudible
    EXPECT_TRUE(std::equal(&unrotated[0][0], &unrotated[0][0] + 512, &osc_wavetable[1][0][0]));

    update_wavetable(1, 0, 0, 0, 0, 100, 64, 1.0f, 0.0f);  // mix 100: right read from entry 64
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(osc_wavetable[1][0][k], unrotated[0][k]) << k;
        EXPECT_EQ(osc_wavetable[1][1][k], unrotated[1][(k + 64) & 255]) << k;
    }
}

// Wave 4 is +/-100 and wave 5 the other pulse: at mix 37 an entry where
// they differ by 200 morphs to 100 - 74 = 26, where they agree it stays.
TEST_F(Oscillator, MixMorphsBetweenTheWaves)
{
    ASSERT_EQ(wavetable_data[4 * 256 + 100], 100);
    ASSERT_EQ(wavetable_data[5 * 256 + 100], -100);
    ASSERT_EQ(wavetable_data[4 * 256 + 10], wavetable_data[5 * 256 + 10]);
    tarq_panning[0] = -100;
    update_wavetable(0, 4, 5, 4, 5, 37, 0, 1.0f, 0.0f);
    EXPECT_EQ(osc_wavetable[0][0][100], 26 * 18);
    EXPECT_EQ(osc_wavetable[0][0][10], wavetable_data[4 * 256 + 10] * 18);
}

TEST_F(Oscillator, StepReadsBits9To16AndWraps)
{
    for (int side = 0; side < 2; ++side)
        for (int k = 0; k < 256; ++k) osc_wavetable[0][side][k] = static_cast<int16_t>(k * (side ? -1 : 1));
    osc_accumulator[0] = 0xFFFFFFFFu - 100;
    osc_pitch[0] = 612;  // past 2^32
    StereoSample s = osc_step(0);
    EXPECT_EQ(osc_accumulator[0], 511u);
    EXPECT_EQ(s.left, 0);
    osc_step(0);
    EXPECT_EQ(osc_accumulator[0], 1123u);
    s = osc_step(0);  // 1735 >> 9 = 3
    EXPECT_EQ(s.left, 3);
    EXPECT_EQ(s.right, -3);

    osc_accumulator[0] = 131072u * 5 + 200u * 512u;  // whole cycles do not matter
    osc_pitch[0] = 0;
    lfo_output[0] = 0;
    EXPECT_EQ(osc_step(0).left, 200);
    EXPECT_EQ(osc_step(0).left, 200);  // a zero increment freezes the phase
}

TEST_F(Oscillator, NegativeTotalIncrementRunsBackwards)
{
    osc_accumulator[0] = 1000;
    osc_pitch[0] = 100;
    lfo_output[0] = -300;
    osc_step(0);
    EXPECT_EQ(osc_accumulator[0], 800u);
    osc_accumulator[0] = 100;
    osc_step(0);
    EXPECT_EQ(osc_accumulator[0], 0xFFFFFF9Cu);  // 100 - 200 wraps
}

}  // namespace
