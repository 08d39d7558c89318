// The equaliser's one-pole filter: its coefficient, the two recurrences, the
// blend's rounding, and block-wise runs against a whole-buffer reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "fx/filter.h"
#include "fx_streams.h"

namespace {

// The filter as a whole-buffer pass: filter into a scratch copy, then blend.
void reference_filter(std::vector<float>& x, int type, float mix, float cutoff)
{
    const float twice = cutoff + cutoff;
    const float rc = static_cast<float>(1.0 / (static_cast<double>(twice) * 3.14));
    const float dt = 1.0f / 44100.0f;
    const float alpha = dt / (rc + dt);
    std::vector<float> y(x.size());
    for (size_t side = 0; side < 2 && side < x.size(); ++side) {
        y[side] = x[side];
        for (size_t i = side + 2; i < x.size(); i += 2) {
            if (type == 0) y[i] = y[i - 2] + (x[i] - y[i - 2]) * alpha;
            else y[i] = ((x[i] + y[i - 2]) - x[i - 2]) * alpha;
        }
    }
    for (size_t i = 0; i < x.size(); ++i) {
        const float wet = mix * y[i];
        x[i] = static_cast<float>(wet + static_cast<double>(x[i]) * (1.0 - static_cast<double>(mix)));
    }
}

std::vector<float> filtered_whole(std::vector<float> buffer, int type, float mix, float cutoff)
{
    filter_process(buffer.data(), static_cast<uint32_t>(buffer.size()), type, mix, cutoff);
    return buffer;
}

TEST(FilterCoefficient, AlphaUsesPiAs314)
{
    EXPECT_NEAR(filter_alpha(4800.0f), 0.4060f, 5e-5);
    EXPECT_NEAR(filter_alpha(200000.0f), 0.9661f, 5e-5);
    EXPECT_NEAR(filter_alpha(2000.0f), 0.2217f, 5e-5);
    // With the true pi the 4800 Hz coefficient would be 0.40616.
    EXPECT_LT(filter_alpha(4800.0f), 0.4061f);
}

TEST(FilterCoefficient, CutoffZeroGivesExactlyZero)
{
    EXPECT_EQ(filter_alpha(0.0f), 0.0f);
    std::vector<float> buffer = stereo_noise(50, 1);
    const std::vector<float> filtered = filtered_whole(buffer, FILTER_LOW_PASS, 1.0f, 0.0f);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(filtered[i], buffer[i % 2]) << i;
}

TEST(FilterBlend, MixZeroLeavesEverySampleUnchanged)
{
    const std::vector<float> input = stereo_noise(1000, 2);
    for (int type : {FILTER_LOW_PASS, FILTER_HIGH_PASS})
        for (float cutoff : {0.0f, 2000.0f, 200000.0f})
            EXPECT_TRUE(same_bits(input, filtered_whole(input, type, 0.0f, cutoff)))
                << "type " << type << ", cutoff " << cutoff;
}

// The low-pass at cutoff 0 holds frame 0, so frame 1 blends y = 0x1.0a58fap+0
// with x = 0x1.407058p-3. Rounding 0.2 * y to single before the double sum
// gives 0x1.5540eap-2; working all in double, or all in single, would give
// 0x1.5540ecp-2.
TEST(FilterBlend, WetProductIsRoundedToSingleThenSummedInDouble)
{
    const float y = 0x1.0a58fap+0f;
    const float x = 0x1.407058p-3f;
    const std::vector<float> out = filtered_whole({y, x, x, y}, FILTER_LOW_PASS, 0.2f, 0.0f);
    EXPECT_EQ(out[2], 0x1.5540eap-2f);
}

TEST(FilterDirectCurrent, LowPassPassesItHighPassDecaysByAlpha)
{
    const std::vector<float> dc(2 * 40, 1000.0f);
    EXPECT_TRUE(same_bits(dc, filtered_whole(dc, FILTER_LOW_PASS, 1.0f, 4800.0f)));

    const float a = filter_alpha(2000.0f);
    const std::vector<float> high = filtered_whole(dc, FILTER_HIGH_PASS, 1.0f, 2000.0f);
    EXPECT_EQ(high[0], 1000.0f);
    EXPECT_EQ(high[2], 1000.0f * a);  // y[1] = alpha * x[0]
    EXPECT_EQ(high[3], 1000.0f * a);
    for (int n = 2; n < 40; ++n) EXPECT_NEAR(high[2 * n], 1000.0 * std::pow(a, n), 1e-3) << n;
}

TEST(FilterEdges, UnknownTypeIsRefused)
{
    std::vector<float> buffer(4, 1.0f);
    EXPECT_EXIT(filter_process(buffer.data(), 4, 2, 0.5f, 100.0f), ::testing::ExitedWithCode(1),
                "filter type must be 0 \\(low-pass\\) or 1 \\(high-pass\\)");
}

// The filter run in blocks of any size gives exactly the whole-buffer pass.
TEST(FilterBlocks, MatchWholeBufferPassBitForBit)
{
    const std::vector<std::vector<uint32_t>> cuttings = {
        {1}, {1, 2, 3, 5, 8, 13}, {4096}, {997, 1, 2048}};
    const std::vector<float> input = stereo_noise(20000, 3);
    for (int type : {FILTER_LOW_PASS, FILTER_HIGH_PASS}) {
        for (float cutoff : {4800.0f, 200000.0f, 2000.0f}) {
            for (float mix : {0.2f, 1.0f}) {
                std::vector<float> expected = input;
                reference_filter(expected, type, mix, cutoff);
                EXPECT_TRUE(same_bits(expected, filtered_whole(input, type, mix, cutoff)));
                for (const auto& sizes : cuttings) {
                    std::vector<float> actual = input;
                    FilterStage stage = filter_start(type, mix, cutoff);
                    in_blocks(actual, sizes, [&](float* block, uint32_t length) {
                        filter_block(stage, block, length);
                    });
                    EXPECT_TRUE(same_bits(expected, actual))
                        << "type " << type << ", cutoff " << cutoff << ", mix " << mix
                        << ", first block " << sizes.front();
                }
            }
        }
    }
}

// The six-stage chain in one pipelined pass, against the reference
// filter run stage after stage over the whole buffer; cut into blocks
// shorter and longer than the pipeline's depth.
TEST(FilterChain, OnePassEqualsTheStagesOneAfterAnother)
{
    const std::vector<float> input = stereo_noise(30000, 5);
    FilterStage fresh[FILTER_CHAIN_LENGTH];
    std::vector<float> expected = input;
    for (int r = 0; r < FILTER_CHAIN_LENGTH; ++r) {
        const int type = r % 3 == 0 ? FILTER_HIGH_PASS : FILTER_LOW_PASS;
        const float mix = 0.1f + 0.07f * static_cast<float>(r);
        const float cutoff = 150.0f * static_cast<float>(r * r + 1);
        fresh[r] = filter_start(type, mix, cutoff);
        reference_filter(expected, type, mix, cutoff);
    }
    const std::vector<std::vector<uint32_t>> cuttings = {{30000}, {1}, {4, 5, 6, 7}, {4096, 3}};
    for (const auto& sizes : cuttings) {
        FilterStage stages[FILTER_CHAIN_LENGTH];
        std::copy(std::begin(fresh), std::end(fresh), stages);
        std::vector<float> actual = input;
        in_blocks(actual, sizes, [&](float* block, uint32_t length) {
            filter_chain_block(stages, block, length);
        });
        EXPECT_TRUE(same_bits(expected, actual)) << "first block " << sizes.front();
    }
}

}  // namespace
