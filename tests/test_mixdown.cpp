// The post-render stage: gains, progress texts, normalisation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/mixdown.h"

namespace {

TEST(Mixdown, ChannelGainIsOneSinglePrecisionFactor)
{
    const uint32_t last = RENDER_BLOCK_FRAMES - 1;
    channel_buffer_int[4][0][0] = 1000;
    channel_buffer_int[4][0][1] = -3;
    channel_buffer_int[4][last][1] = 32767;
    std::vector<float> out(2 * RENDER_BLOCK_FRAMES, -1.0f);
    channel_to_float(4, out.data(), RENDER_BLOCK_FRAMES);
    const float gain = 140 / 100.0f;  // channel 4's gain is 140 %
    EXPECT_EQ(out[0], 1000.0f * gain);
    EXPECT_EQ(out[1], -3.0f * gain);
    EXPECT_EQ(out[2 * last + 1], 32767.0f * gain);
    EXPECT_EQ(out[2], 0.0f);
    channel_buffer_int[4][0][0] = channel_buffer_int[4][0][1] = channel_buffer_int[4][last][1] = 0;
}

std::string effects_text(int channel)
{
    std::vector<float> silent(4, 0.0f);
    testing::internal::CaptureStdout();
    channel_effects(channel, silent.data(), static_cast<uint32_t>(silent.size()));
    return testing::internal::GetCapturedStdout();
}

TEST(Mixdown, ProgressTextsNameTheEffectsThatRun)
{
    EXPECT_EQ(effects_text(0), "delay | reverb");
    EXPECT_EQ(effects_text(4), "");        // no presets
    EXPECT_EQ(effects_text(7), "reverb");  // reverb only
}

TEST(Mixdown, NormalisesThePeakTo32767AndTruncates)
{
    std::vector<float> master = {0.25f, -0.5f, 1.0f, -1.0f, 0.5f, 0.0f};
    std::vector<int16_t> out(master.size());
    master_normalise(master.data(), out.data(), static_cast<uint32_t>(master.size()));
    // 0.5 * 32767 = 16383.5 truncates to 16383 (rounding would give 16384).
    EXPECT_EQ(out, (std::vector<int16_t>{8191, -16383, 32767, -32767, 16383, 0}));
}

TEST(Mixdown, NegativePeakGivesMinus32767NeverMinus32768)
{
    std::vector<float> master = {-3.7f, 1.2f, 0.1f, -0.2f};
    std::vector<int16_t> out(master.size());
    master_normalise(master.data(), out.data(), static_cast<uint32_t>(master.size()));
    EXPECT_EQ(out[0], -32767);
    const float scale = 32767.0f / 3.7f;
    EXPECT_EQ(out[1], static_cast<int16_t>(1.2f * scale));  // the same factor on both sides
}

TEST(Mixdown, PeakLandingJustBelow32767TruncatesTo32766)
{
    // Search a peak whose single-precision scale factor lands below 32767.
    float peak = 1.0f;
    for (;; peak = std::nextafter(peak, 2.0f)) {
        if (peak * (32767.0f / peak) < 32767.0f) break;
    }
    std::vector<float> master = {peak, -peak};
    std::vector<int16_t> out(2);
    master_normalise(master.data(), out.data(), 2);
    EXPECT_EQ(out[0], 32766);
    EXPECT_EQ(out[1], -32766);
}

TEST(Mixdown, SilentMasterGivesZerosNotNaN)
{
    std::vector<float> master(8, 0.0f);
    master[3] = -0.0f;
    std::vector<int16_t> out(master.size(), 77);
    master_normalise(master.data(), out.data(), static_cast<uint32_t>(master.size()));
    for (int16_t v : out) EXPECT_EQ(v, 0);
}

TEST(Mixdown, PeakIsTheLargestMagnitudeOfEitherSide)
{
    const std::vector<float> master = {0.5f, -2.25f, 2.0f, 0.0f};
    EXPECT_EQ(master_peak_of(master.data(), 4), 2.25f);
}

}  // namespace

namespace {

// The effect stage indexes the banks with these numbers unchecked.
TEST(MixSettings, EffectPresetNumbersAreRowsOfTheBanks)
{
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        EXPECT_LT(channel_fx[k][0], FX_PRESET_COUNT) << "reverb preset of channel " << k;
        EXPECT_LT(channel_fx[k][1], FX_PRESET_COUNT) << "delay preset of channel " << k;
        const int delay = channel_fx[k][1] < FX_PRESET_COUNT ? channel_fx[k][1] : 0;
        EXPECT_TRUE(delay == 0 || delay_bank[delay][0] >= 1) << "channel " << k << "'s delay needs a length";
    }
}

}  // namespace
