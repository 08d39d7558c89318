// The reverb: preset parameters, a first call's impulse response, the state
// carried from one channel to the next, block-wise runs, and agreement with
// a plain sample-by-sample reverb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "data/tables.h"
#include "fx/reverb.h"
#include "fx_streams.h"
#include "tests/reference.h"

namespace {

// One channel's run of `reverb` with preset q over the whole buffer.
std::vector<float> reverbed(Reverb& reverb, std::vector<float> buffer, int q)
{
    reference::reverb_start_preset(reverb, q);
    reverb_block(reverb, buffer.data(), static_cast<uint32_t>(buffer.size()));
    reverb_finish(reverb);
    return buffer;
}

TEST(Reverb, PresetParameters)
{
    struct Row { float wet1, wet2, damp, roomsize; };
    const Row table[] = {{0.0f, 0.0f, 0.0f, 0.7f},
                         {0.1875f, -0.0375f, 0.04f, 0.728f},
                         {0.1875f, -0.0375f, 0.2f, 0.784f},
                         {0.3f, -0.1f, 0.24f, 0.924f},
                         {0.6f, -0.2f, 0.4f, 0.924f}};
    const auto reverb = reference::fresh_reverb();
    for (int q = 0; q < 5; ++q) {
        SCOPED_TRACE(::testing::Message() << "preset " << q);
        reference::reverb_start_preset(*reverb, q);
        EXPECT_FLOAT_EQ(reverb->verb_wet1, table[q].wet1);
        EXPECT_FLOAT_EQ(reverb->verb_wet2, table[q].wet2);
        EXPECT_FLOAT_EQ(reverb->comb_damp2[5], 1.0f - table[q].damp);
        EXPECT_FLOAT_EQ(reverb->comb_feedback[5], table[q].roomsize);
        reverb_finish(*reverb);
    }
}

TEST(Reverb, FirstCallImpulseResponseOfPreset1)
{
    std::vector<float> input(2 * 1700, 0.0f);
    input[0] = 1.0f;
    const std::vector<float> out = reverbed(*reference::fresh_reverb(), input, 1);
    const float near = 0.1875f * 0.05f, far = -0.0375f * 0.05f;  // wet1 / wet2 times the comb return
    for (size_t i = 0; i < 2 * 1116; ++i) ASSERT_EQ(out[i], i == 0 ? 1.0f : 0.0f) << "frame " << i / 2;
    for (int f : {1116, 1188, 1277, 1139, 1211, 1300}) {
        const bool left_comb = f == 1116 || f == 1188 || f == 1277;
        EXPECT_FLOAT_EQ(out[2 * f], left_comb ? near : far) << f;
        EXPECT_FLOAT_EQ(out[2 * f + 1], left_comb ? far : near) << f;
    }
    EXPECT_FLOAT_EQ(out[2 * 1672], -near);  // all-pass 0 repeats the 1116 arrival
    EXPECT_FLOAT_EQ(out[2 * 1672 + 1], -far);
}

// The filter stores carry a faint tail into the next call; the line positions alone change nothing.
TEST(Reverb, CarriedTailAndPositions)
{
    const auto reverb = reference::fresh_reverb();
    reverbed(*reverb, stereo_noise(3000, 5), 2);  // the lines are cleared after it: nothing before 1116
    const std::vector<float> out = reverbed(*reverb, std::vector<float>(2 * 4000, 0.0f), 3);
    for (size_t i = 0; i < 2 * 1116; ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i / 2;
    float tail = 0.0f;
    for (float v : out) tail = std::max(tail, std::abs(v));
    EXPECT_GT(tail, 0.0f);
    EXPECT_LT(tail, 40000.0f * 0.01f);

    const std::vector<float> next = stereo_noise(4000, 7);
    const std::vector<float> fresh = reverbed(*reference::fresh_reverb(), next, 1);
    const auto moved = reference::fresh_reverb();
    reverbed(*moved, stereo_noise(2345, 6), 4);
    ASSERT_NE(moved->comb_bufidx[0], 0);
    std::memset(moved->comb_filterstore, 0, sizeof moved->comb_filterstore);
    EXPECT_TRUE(same_bits(fresh, reverbed(*moved, next, 1)));
}

// A chain of calls, as the channels use the reverb, run in blocks gives exactly the whole-buffer calls.
TEST(Reverb, BlocksMatchWholeBufferCallsBitForBit)
{
    const int chain[] = {2, 4, 1};
    for (const std::vector<uint32_t>& sizes : std::vector<std::vector<uint32_t>>{{1}, {1115, 1116, 1117}}) {
        std::vector<std::vector<float>> expected;
        const auto whole = reference::fresh_reverb();
        for (uint32_t k = 0; k < 3; ++k) expected.push_back(reverbed(*whole, stereo_noise(7000 + 333 * k, k), chain[k]));
        const auto blocks = reference::fresh_reverb();
        for (uint32_t k = 0; k < 3; ++k) {
            std::vector<float> actual = stereo_noise(7000 + 333 * k, k);
            reference::reverb_start_preset(*blocks, chain[k]);
            in_blocks(actual, sizes, [&](float* block, uint32_t length) { reverb_block(*blocks, block, length); });
            reverb_finish(*blocks);
            ASSERT_TRUE(same_bits(expected[k], actual)) << "call " << k << ", first block " << sizes.front();
        }
    }
}

// The block reverb against the plain sample-by-sample one, over two channels' runs (the second
// starting from the first's filter stores and line positions), cut into blocks around the line
// lengths and up to a whole channel block.
TEST(Reverb, EqualsThePlainSampleBySampleReverbBitForBit)
{
    const int presets[] = {3, 1};
    const uint32_t frames[] = {40000, 37001};
    for (uint32_t size : {1u, 3u, 1115u, 1116u, 1117u, 32768u}) {
        SCOPED_TRACE(::testing::Message() << "blocks of " << size << " frames");
        const auto block_reverb = reference::fresh_reverb();
        reference::PlainReverb plain;
        for (int run = 0; run < 2; ++run) {
            const std::vector<float> input = stereo_noise(frames[run], 20 + run);
            std::vector<float> expected = input, actual = input;
            plain.start_preset(presets[run]);
            in_blocks(expected, {size}, [&](float* block, uint32_t length) { plain.process(block, length); });
            plain.finish();
            reference::reverb_start_preset(*block_reverb, presets[run]);
            in_blocks(actual, {size}, [&](float* block, uint32_t length) { reverb_block(*block_reverb, block, length); });
            reverb_finish(*block_reverb);
            ASSERT_FALSE(same_bits(input, actual)) << "run " << run << " leaves the noise alone";
            ASSERT_TRUE(same_bits(expected, actual)) << "run " << run << " (preset " << presets[run] << ")";
        }
    }
}

}  // namespace
