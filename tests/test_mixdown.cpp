// The post-render stage: channel gains, progress texts, normalisation.
#include <gtest/gtest.h>

#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/mixdown.h"

namespace {

TEST(Mixdown, ChannelGainIsOneSinglePrecisionFactor)
{
    const uint32_t last = RENDER_BLOCK_FRAMES - 1;
    channel_buffer_int[4][0][0] = 1000;
    channel_buffer_int[4][last][1] = 32767;
    std::vector<float> out(2 * RENDER_BLOCK_FRAMES, -1.0f);
    channel_to_float(4, out.data(), RENDER_BLOCK_FRAMES);
    EXPECT_EQ(out[0], 1000.0f * 1.4f);  // channel 4's gain is 140 %
    EXPECT_EQ(out[2 * last + 1], 32767.0f * 1.4f);
    EXPECT_EQ(out[2], 0.0f);
    channel_buffer_int[4][0][0] = channel_buffer_int[4][last][1] = 0;
}

TEST(Mixdown, ProgressTextsNameTheEffectsThatRun)
{
    for (const auto& [channel, text] : {std::pair{0, "delay | reverb"}, {4, ""}, {7, "reverb"}}) {
        std::vector<float> silent(4, 0.0f);
        testing::internal::CaptureStdout();
        channel_effects(channel, silent.data(), 4);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), text) << "channel " << channel;
    }
}

// The peak of either side goes to 32767 (never -32768) and the rest truncates:
// 0.5 * 32767 = 16383.5 gives 16383. A silent master gives zeros, not NaN.
TEST(Mixdown, NormalisesThePeakTo32767AndTruncates)
{
    struct Case { std::vector<float> master; std::vector<int16_t> expected; };
    const Case cases[] = {
        {{0.25f, -0.5f, 1.0f, -1.0f, 0.5f, 0.0f}, {8191, -16383, 32767, -32767, 16383, 0}},
        {{-3.7f, 1.2f, 0.0f, -0.0f}, {-32767, 10627, 0, 0}},
        {{0.0f, -0.0f, 0.0f, 0.0f}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<int16_t> out(c.master.size(), 77);
        std::vector<float> master = c.master;
        master_normalise(master.data(), out.data(), static_cast<uint32_t>(master.size()));
        EXPECT_EQ(out, c.expected) << "peak " << master_peak_of(master.data(), static_cast<uint32_t>(master.size()));
    }
}

}  // namespace
