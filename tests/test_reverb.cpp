// The reverb: preset parameters, a first call's impulse response, the state
// carried from one channel to the next, and block-wise runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "data/tables.h"
#include "fx/reverb.h"
#include "fx_streams.h"

namespace {

void start(int q)
{
    const uint8_t* row = reverb_bank[q];
    reverb_start(row[0] / 100.0f, row[1] / 100.0f, row[2] / 100.0f, row[3] / 100.0f, row[4] / 100.0f);
}

std::vector<float> reverbed(std::vector<float> buffer, int q)
{
    start(q);
    reverb_block(buffer.data(), static_cast<uint32_t>(buffer.size()));
    reverb_finish();
    return buffer;
}

TEST(Reverb, PresetParameters)
{
    reverb_reset();
    struct Row { float wet1, wet2, damp, roomsize; };
    const Row table[] = {{0.0f, 0.0f, 0.0f, 0.7f},
                         {0.1875f, -0.0375f, 0.04f, 0.728f},
                         {0.1875f, -0.0375f, 0.2f, 0.784f},
                         {0.3f, -0.1f, 0.24f, 0.924f},
                         {0.6f, -0.2f, 0.4f, 0.924f}};
    for (int q = 0; q < 5; ++q) {
        SCOPED_TRACE(::testing::Message() << "preset " << q);
        start(q);
        EXPECT_FLOAT_EQ(verb_wet1, table[q].wet1);
        EXPECT_FLOAT_EQ(verb_wet2, table[q].wet2);
        EXPECT_FLOAT_EQ(comb_damp2[5], 1.0f - table[q].damp);
        EXPECT_FLOAT_EQ(comb_feedback[5], table[q].roomsize);
        reverb_finish();
    }
}

TEST(Reverb, FirstCallImpulseResponseOfPreset1)
{
    reverb_reset();
    std::vector<float> input(2 * 1700, 0.0f);
    input[0] = 1.0f;
    const std::vector<float> out = reverbed(input, 1);
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
    reverb_reset();
    reverbed(stereo_noise(3000, 5), 2);  // the lines are cleared after it: nothing before 1116
    const std::vector<float> out = reverbed(std::vector<float>(2 * 4000, 0.0f), 3);
    for (size_t i = 0; i < 2 * 1116; ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i / 2;
    float tail = 0.0f;
    for (float v : out) tail = std::max(tail, std::abs(v));
    EXPECT_GT(tail, 0.0f);
    EXPECT_LT(tail, 40000.0f * 0.01f);

    const std::vector<float> next = stereo_noise(4000, 7);
    reverb_reset();
    const std::vector<float> fresh = reverbed(next, 1);
    reverb_reset();
    reverbed(stereo_noise(2345, 6), 4);
    ASSERT_NE(comb_bufidx[0], 0);
    std::memset(comb_filterstore, 0, sizeof comb_filterstore);
    EXPECT_TRUE(same_bits(fresh, reverbed(next, 1)));
}

// A chain of calls, as the channels use the reverb, run in blocks gives exactly the whole-buffer calls.
TEST(Reverb, BlocksMatchWholeBufferCallsBitForBit)
{
    const int chain[] = {2, 4, 1};
    for (const std::vector<uint32_t>& sizes : std::vector<std::vector<uint32_t>>{{1}, {1115, 1116, 1117}}) {
        std::vector<std::vector<float>> expected;
        reverb_reset();
        for (uint32_t k = 0; k < 3; ++k) expected.push_back(reverbed(stereo_noise(7000 + 333 * k, k), chain[k]));
        reverb_reset();
        for (uint32_t k = 0; k < 3; ++k) {
            std::vector<float> actual = stereo_noise(7000 + 333 * k, k);
            start(chain[k]);
            in_blocks(actual, sizes, [](float* block, uint32_t length) { reverb_block(block, length); });
            reverb_finish();
            ASSERT_TRUE(same_bits(expected[k], actual)) << "call " << k << ", first block " << sizes.front();
        }
    }
}

}  // namespace
