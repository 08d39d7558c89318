// The reverb: its preset parameters, the impulse response of a first call,
// the state carried from one channel to the next, and block-wise runs against
// a whole-buffer reference.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "data/tables.h"
#include "fx/reverb.h"
#include "fx_streams.h"

namespace {

struct ReverbSettings {
    float width, dry, wet, damp, roomsize;
};

ReverbSettings preset(int q)
{
    const uint8_t* row = reverb_bank[q];
    return {row[0] / 100.0f, row[1] / 100.0f, row[2] / 100.0f, row[3] / 100.0f, row[4] / 100.0f};
}

// An independent reverb with its own lines, run over whole buffers.
struct ReferenceReverb {
    static constexpr std::array<int, 6> comb_length = {1116, 1188, 1277, 1139, 1211, 1300};
    static constexpr std::array<int, 4> allpass_length = {556, 441, 579, 464};
    std::array<std::vector<float>, 6> comb;
    std::array<std::vector<float>, 4> allpass;
    std::array<int, 6> comb_pos{};
    std::array<int, 4> allpass_pos{};
    std::array<float, 6> store{};

    ReferenceReverb()
    {
        for (int k = 0; k < 6; ++k) comb[k].assign(comb_length[k], 0.0f);
        for (int k = 0; k < 4; ++k) allpass[k].assign(allpass_length[k], 0.0f);
    }

    void process(std::vector<float>& buffer, const ReverbSettings& s)
    {
        const auto damp = static_cast<float>(s.damp * 0.4);
        const auto room = static_cast<float>(0.7 + s.roomsize * 0.28);
        const auto wet1 = static_cast<float>((0.5 + s.width * 0.5) * s.wet);
        const auto wet2 = static_cast<float>(((1.0f - s.width) * 0.5) * s.wet);
        for (size_t i = 0; i + 1 < buffer.size(); i += 2) {
            const float input = (buffer[i] + buffer[i + 1]) * 0.05f;
            float sum[2] = {0.0f, 0.0f};
            for (int k = 0; k < 6; ++k) {
                float& cell = comb[k][comb_pos[k]];
                const float out = cell;
                store[k] = out * (1.0f - damp) + store[k] * damp;
                cell = input + store[k] * room;
                comb_pos[k] = (comb_pos[k] + 1) % comb_length[k];
                sum[k / 3] = sum[k / 3] + out;
            }
            for (int k = 0; k < 4; ++k) {
                float& v = sum[k / 2];
                float& cell = allpass[k][allpass_pos[k]];
                const float b = cell;
                cell = v + b * 0.5f;
                v = b - v;
                allpass_pos[k] = (allpass_pos[k] + 1) % allpass_length[k];
            }
            const float left = buffer[i], right = buffer[i + 1];
            buffer[i] = (wet1 * sum[0] + wet2 * sum[1]) + s.dry * left;
            buffer[i + 1] = (wet1 * sum[1] + wet2 * sum[0]) + s.dry * right;
        }
        for (auto& line : comb) std::fill(line.begin(), line.end(), 0.0f);
        for (auto& line : allpass) std::fill(line.begin(), line.end(), 0.0f);
    }
};

class Reverb : public ::testing::Test {
protected:
    void SetUp() override { reverb_reset(); }
};

std::vector<float> reverbed(std::vector<float> buffer, const ReverbSettings& s)
{
    reverb_process(buffer.data(), static_cast<uint32_t>(buffer.size()), s.width, s.dry, s.wet,
                   s.damp, s.roomsize);
    return buffer;
}

TEST_F(Reverb, PresetParameters)
{
    struct Row { float wet1, wet2, damp, roomsize; };
    const Row table[] = {{0.0f, 0.0f, 0.0f, 0.7f},
                         {0.1875f, -0.0375f, 0.04f, 0.728f},
                         {0.1875f, -0.0375f, 0.2f, 0.784f},
                         {0.3f, -0.1f, 0.24f, 0.924f},
                         {0.6f, -0.2f, 0.4f, 0.924f}};
    for (int q = 0; q < 5; ++q) {
        const ReverbSettings s = preset(q);
        reverb_start(s.width, s.dry, s.wet, s.damp, s.roomsize);
        EXPECT_FLOAT_EQ(verb_wet1, table[q].wet1) << q;
        EXPECT_FLOAT_EQ(verb_wet2, table[q].wet2) << q;
        EXPECT_FLOAT_EQ(verb_damp, table[q].damp) << q;
        EXPECT_FLOAT_EQ(verb_roomsize, table[q].roomsize) << q;
        EXPECT_EQ(verb_dry, 1.0f) << q;
        EXPECT_EQ(verb_damp1, verb_damp) << q;
        EXPECT_EQ(verb_roomsize1, verb_roomsize) << q;
        EXPECT_EQ(verb_gain, 0.05f) << q;
        for (int k = 0; k < COMB_COUNT; ++k) {
            EXPECT_EQ(comb_feedback[k], verb_roomsize);
            EXPECT_EQ(comb_damp2[k], 1.0f - verb_damp);
        }
    }
    EXPECT_EQ(comb_bufsize[5], 1300);
    EXPECT_EQ(allpass_bufsize[3], 464);
}

// Damping, room size and wet1 are worked in double and rounded once. The
// settings are chosen so single-precision working would land one step away.
TEST_F(Reverb, ParametersAreFormedInDoubleAndRoundedOnce)
{
    const float width = 0.02f, wet = 0.15f, damp = 0.1f, roomsize = 0.07f;
    reverb_start(width, 1.0f, wet, damp, roomsize);
    EXPECT_EQ(verb_damp, static_cast<float>(static_cast<double>(damp) * 0.4));
    EXPECT_NE(verb_damp, damp * 0.4f);
    EXPECT_EQ(verb_roomsize, static_cast<float>(0.7 + static_cast<double>(roomsize) * 0.28));
    EXPECT_NE(verb_roomsize, 0.7f + roomsize * 0.28f);
    EXPECT_EQ(verb_wet1, static_cast<float>((0.5 + static_cast<double>(width) * 0.5) * wet));
    EXPECT_NE(verb_wet1, (0.5f + width * 0.5f) * wet);
}

TEST_F(Reverb, FirstCallImpulseResponseOfPreset1)
{
    std::vector<float> input(2 * 1700, 0.0f);
    input[0] = 1.0f;
    const std::vector<float> out = reverbed(input, preset(1));
    const float near = 0.1875f * 0.05f;    // wet1 times the comb return
    const float far = -0.0375f * 0.05f;    // wet2 times the other side's return
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], 0.0f);
    for (size_t i = 2; i < 2 * 1116; ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i / 2;
    for (int f : {1116, 1188, 1277}) {
        EXPECT_FLOAT_EQ(out[2 * f], near) << f;
        EXPECT_FLOAT_EQ(out[2 * f + 1], far) << f;
    }
    for (int f : {1139, 1211, 1300}) {
        EXPECT_FLOAT_EQ(out[2 * f], far) << f;
        EXPECT_FLOAT_EQ(out[2 * f + 1], near) << f;
    }
    EXPECT_FLOAT_EQ(out[2 * 1672], -near);  // all-pass 0 repeats the 1116 arrival
    EXPECT_FLOAT_EQ(out[2 * 1672 + 1], -far);

    reverb_reset();  // silence stays silent on a first call
    const std::vector<float> silence(2 * 5000, 0.0f);
    EXPECT_TRUE(same_bits(silence, reverbed(silence, preset(4))));
}

TEST_F(Reverb, CarriedFilterStateLeavesAFaintTailInTheNextCall)
{
    std::vector<float> loud = stereo_noise(3000, 5);
    reverbed(loud, preset(2));
    for (const auto& line : comb_buf)
        for (float v : line) ASSERT_EQ(v, 0.0f) << "the lines are cleared after a call";

    const std::vector<float> silence(2 * 4000, 0.0f);
    const std::vector<float> out = reverbed(silence, preset(3));
    for (size_t i = 0; i < 2 * 1116; ++i) ASSERT_EQ(out[i], 0.0f) << "frame " << i / 2;
    float tail = 0.0f;
    for (float v : out) tail = std::max(tail, std::abs(v));
    EXPECT_GT(tail, 0.0f);
    EXPECT_LT(tail, 40000.0f * 0.01f);  // faint next to the material that left it
}

TEST_F(Reverb, CarriedPositionsAloneDoNotChangeTheOutput)
{
    const std::vector<float> next = stereo_noise(4000, 7);
    const std::vector<float> fresh = reverbed(next, preset(1));

    reverb_reset();
    reverbed(stereo_noise(2345, 6), preset(4));
    ASSERT_NE(comb_bufidx[0], 0);
    std::memset(comb_filterstore, 0, sizeof comb_filterstore);
    EXPECT_TRUE(same_bits(fresh, reverbed(next, preset(1))));
}

// A chain of calls, as the channels use the reverb one after another, run in
// blocks of any size gives exactly the whole-buffer passes.
TEST_F(Reverb, BlocksMatchWholeBufferPassesBitForBit)
{
    const std::vector<std::vector<uint32_t>> cuttings = {
        {1}, {3, 1, 7}, {1115, 1116, 1117}, {441, 2048}, {100000}};
    const int chain[] = {2, 2, 4, 3, 1};
    for (const auto& sizes : cuttings) {
        reverb_reset();
        ReferenceReverb reference;
        uint32_t seed = 10;
        for (int q : chain) {
            std::vector<float> expected = stereo_noise(7000 + 333 * seed, seed);
            std::vector<float> actual = expected;
            ++seed;
            const ReverbSettings s = preset(q);
            reference.process(expected, s);
            reverb_start(s.width, s.dry, s.wet, s.damp, s.roomsize);
            in_blocks(actual, sizes, [](float* block, uint32_t length) { reverb_block(block, length); });
            reverb_finish();
            ASSERT_TRUE(same_bits(expected, actual)) << "preset " << q << ", first block " << sizes.front();
        }
    }
}

}  // namespace
