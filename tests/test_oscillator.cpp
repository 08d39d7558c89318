// The oscillator: the wave-table bake's arithmetic and the per-frame read.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "data/tables.h"
#include "voice/oscillator.h"

namespace {

int find_entry(int wave, int value)
{
    for (int k = 0; k < WAVE_LENGTH; ++k)
        if (wavetable_data[wave * WAVE_LENGTH + k] == value) return k;
    return -1;
}

TEST(Oscillator, PanGainsUseTheAngleConstant157)
{
    struct Case { int8_t pan; float left, right; };
    for (const Case& c : {Case{-100, 1.0f, 0.0f}, Case{0, 0.7073882f, 0.7068252f}, Case{100, 0.0007963f, 0.9999997f},
                          Case{-40, 0.8911150f, 0.4537776f}, Case{-20, 0.8092042f, 0.5875275f},
                          Case{20, 0.5881718f, 0.8087360f}, Case{40, 0.4544871f, 0.8907533f}}) {
        const PanGains g = osc_pan_gains(c.pan);
        EXPECT_NEAR(g.left, c.left, 1e-7) << "pan " << int(c.pan);
        EXPECT_NEAR(g.right, c.right, 1e-7) << "pan " << int(c.pan);
    }
}

// The morph is defined as a + (b - a) * mix / 100 with the product in single
// and the quotient and sum in double, truncated; the unit works it in
// integers. Every input gives the same value.
TEST(Oscillator, MorphMatchesTheFloatingPointFormulaForEveryInput)
{
    for (int a = -128; a < 128; ++a)
        for (int b = -128; b < 128; ++b)
            for (int mix = 0; mix < 256; ++mix) {
                const float m = static_cast<float>(mix);
                const auto defined = static_cast<int16_t>(static_cast<int32_t>(static_cast<float>(a) + ((b - a) * m) / 100.0));
                const int16_t got = osc_morph(static_cast<int8_t>(a), static_cast<int8_t>(b), static_cast<uint8_t>(mix));
                if (got != defined) FAIL() << "a " << a << " b " << b << " mix " << mix << ": " << got << " != " << defined;
            }
}

// Bake worked figures: wave values 71/75, volume 0.5, stereo mix 0.4, centre
// pan give 462/467 (mix 100 and a rotation pick the right value); the sine's
// peak at full volume is 2286 hard left and 1617/1615 at centre.
TEST(Oscillator, BakeWorkedExamples)
{
    Oscillator osc;
    const int k = find_entry(0, 71);
    int wave75 = 0, at75 = -1;
    for (; (at75 = find_entry(wave75, 75)) < 0; ++wave75) ASSERT_LT(wave75, WAVE_COUNT - 1);
    ASSERT_GE(k, 0);
    update_wavetable(osc, 1, 0, 1, static_cast<int8_t>(wave75), 100, static_cast<uint8_t>(at75 - k), 0.5f, 0.4f);
    EXPECT_EQ(osc.osc_wavetable[0][k], 462);
    EXPECT_EQ(osc.osc_wavetable[1][k], 467);
    struct Case { int8_t pan; int16_t left, right; };
    for (const Case c : {Case{-100, 2286, 0}, Case{0, 1617, 1615}}) {
        Oscillator panned;
        panned.osc_panning = c.pan;
        update_wavetable(panned, 0, 0, 0, 0, 0, 0, 1.0f, 0.0f);
        EXPECT_EQ(panned.osc_wavetable[0][64], c.left) << "pan " << int(c.pan);
        EXPECT_EQ(panned.osc_wavetable[1][64], c.right) << "pan " << int(c.pan);
    }
}

// Stereo mix 0 keeps the sides, 1 swaps them, 0.5 gives both their average;
// zero, negative and NaN volumes bake silence.
TEST(Oscillator, StereoMixAndSilentVolumes)
{
    Oscillator osc;
    osc.osc_panning = -40;
    int16_t apart[2][256];
    update_wavetable(osc, 1, 1, 8, 8, 0, 0, 1.0f, 0.0f);
    std::copy(&osc.osc_wavetable[0][0], &osc.osc_wavetable[0][0] + 512, &apart[0][0]);
    update_wavetable(osc, 1, 1, 8, 8, 0, 0, 1.0f, 1.0f);
    for (int k = 0; k < 512; ++k) EXPECT_EQ(osc.osc_wavetable[k / 256][k % 256], apart[1 - k / 256][k % 256]) << k;
    update_wavetable(osc, 1, 1, 8, 8, 0, 0, 1.0f, 0.5f);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(osc.osc_wavetable[0][k], osc.osc_wavetable[1][k]) << k;
        EXPECT_EQ(osc.osc_wavetable[0][k], static_cast<int16_t>((apart[0][k] + apart[1][k]) * 0.5f)) << k;
    }
    Oscillator silenced;
    for (float volume : {0.0f, -0.5f, std::numeric_limits<float>::quiet_NaN()}) {
        update_wavetable(silenced, 0, 1, 0, 1, 0, 0, 1.0f, 0.3f);  // something audible first
        update_wavetable(silenced, 0, 1, 0, 1, 50, 9, volume, 0.3f);
        for (int k = 0; k < 512; ++k) ASSERT_EQ(silenced.osc_wavetable[k / 256][k % 256], 0) << volume;
    }
}

// The table index is bits 9..16 of a 32-bit accumulator that wraps both ways.
TEST(Oscillator, AccumulatorWrapsBothWays)
{
    Oscillator osc;
    for (int k = 0; k < 256; ++k) osc.osc_wavetable[0][k] = static_cast<int16_t>(k);
    osc.osc_accumulator = 0xFFFFFFFFu - 100;
    osc.osc_pitch = 612;
    EXPECT_EQ(osc_step(osc, 0).left, 0);
    EXPECT_EQ(osc.osc_accumulator, 511u);
    osc_step(osc, 0);
    EXPECT_EQ(osc_step(osc, 0).left, 3);  // 1735 >> 9
    osc.osc_accumulator = 100;
    osc.osc_pitch = 100;
    osc_step(osc, -300);  // the LFO's offset
    EXPECT_EQ(osc.osc_accumulator, 0xFFFFFF9Cu);  // 100 - 200
}

}  // namespace
