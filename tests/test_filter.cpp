// The equaliser's one-pole filter: its coefficient, the blend's rounding, direct current, block-wise runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "fx/filter.h"
#include "fx_streams.h"
#include "tests/reference.h"

namespace {

std::vector<float> filtered(std::vector<float> buffer, FilterType type, float mix, float cutoff)
{
    reference::filter_whole(buffer.data(), static_cast<uint32_t>(buffer.size()), type, mix, cutoff);
    return buffer;
}

// pi is taken as 3.14: the true pi would give 0.40616 at 4800 Hz.
TEST(Filter, AlphaUsesPiAs314AndCutoffZeroHoldsFrame0)
{
    EXPECT_NEAR(filter_alpha(4800.0f), 0.4060f, 5e-5);
    EXPECT_LT(filter_alpha(4800.0f), 0.4061f);
    EXPECT_NEAR(filter_alpha(200000.0f), 0.9661f, 5e-5);
    EXPECT_NEAR(filter_alpha(2000.0f), 0.2217f, 5e-5);
    EXPECT_EQ(filter_alpha(0.0f), 0.0f);
    const std::vector<float> buffer = stereo_noise(50, 1);
    const std::vector<float> held = filtered(buffer, FILTER_LOW_PASS, 1.0f, 0.0f);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(held[i], buffer[i % 2]) << i;
}

// Frame 1 blends y = 0x1.0a58fap+0 with x = 0x1.407058p-3: 0.2 * y rounded to single, then
// summed in double, gives 0x1.5540eap-2 (all double or all single: 0x1.5540ecp-2).
TEST(Filter, BlendRoundsTheWetProductToSingleAndMixZeroChangesNothing)
{
    const float y = 0x1.0a58fap+0f, x = 0x1.407058p-3f;
    EXPECT_EQ(filtered({y, x, x, y}, FILTER_LOW_PASS, 0.2f, 0.0f)[2], 0x1.5540eap-2f);
    const std::vector<float> input = stereo_noise(1000, 2);
    for (FilterType type : {FILTER_LOW_PASS, FILTER_HIGH_PASS})
        for (float cutoff : {0.0f, 2000.0f, 200000.0f})
            EXPECT_TRUE(same_bits(input, filtered(input, type, 0.0f, cutoff))) << type << ", " << cutoff;
}

TEST(Filter, LowPassPassesDirectCurrentHighPassDecaysItByAlpha)
{
    const std::vector<float> dc(2 * 40, 1000.0f);
    EXPECT_TRUE(same_bits(dc, filtered(dc, FILTER_LOW_PASS, 1.0f, 4800.0f)));
    const float a = filter_alpha(2000.0f);
    const std::vector<float> high = filtered(dc, FILTER_HIGH_PASS, 1.0f, 2000.0f);
    EXPECT_EQ(high[0], 1000.0f);
    EXPECT_EQ(high[2], 1000.0f * a);  // y[1] = alpha * x[0]
    EXPECT_EQ(high[3], 1000.0f * a);
    for (int n = 2; n < 40; ++n) EXPECT_NEAR(high[2 * n], 1000.0 * std::pow(a, n), 1e-3) << n;
}

// The six-stage chain in one pass, cut into any blocks, equals whole-buffer stages one after another.
TEST(Filter, ChainInBlocksEqualsWholeBufferStagesBitForBit)
{
    const std::vector<float> input = stereo_noise(30000, 5);
    std::vector<float> expected = input;
    FilterStage fresh[FILTER_CHAIN_LENGTH];
    for (int r = 0; r < FILTER_CHAIN_LENGTH; ++r) {
        const FilterType type = r % 3 == 0 ? FILTER_HIGH_PASS : FILTER_LOW_PASS;
        const float mix = 0.1f + 0.07f * static_cast<float>(r), cutoff = 150.0f * static_cast<float>(r * r + 1);
        fresh[r] = filter_start(type, mix, cutoff);
        expected = filtered(expected, type, mix, cutoff);
    }
    for (const std::vector<uint32_t>& sizes : std::vector<std::vector<uint32_t>>{{30000}, {1}, {4, 5, 6, 7}, {4096, 3}}) {
        FilterStage stages[FILTER_CHAIN_LENGTH];
        std::copy(std::begin(fresh), std::end(fresh), stages);
        std::vector<float> actual = input;
        in_blocks(actual, sizes, [&](float* block, uint32_t length) { filter_chain_block(stages, block, length); });
        EXPECT_TRUE(same_bits(expected, actual)) << "first block " << sizes.front();
    }
    for (FilterType type : {FILTER_LOW_PASS, FILTER_HIGH_PASS}) {
        std::vector<float> actual = input;
        FilterStage stage = filter_start(type, 0.2f, 2000.0f);
        in_blocks(actual, {1, 2, 997}, [&](float* block, uint32_t length) { filter_block(stage, block, length); });
        EXPECT_TRUE(same_bits(filtered(input, type, 0.2f, 2000.0f), actual)) << "one stage, type " << type;
    }
}

}  // namespace
