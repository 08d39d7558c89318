// The swapping stereo delay: echoes of presets 1 and 3, gain motion, block-wise runs.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/tables.h"
#include "fx/delay.h"
#include "fx_streams.h"
#include "tests/reference.h"

namespace {

struct DelaySettings {
    uint32_t delay, swap_state;
    float feedback, floor, mix;
};

DelaySettings preset(int p, float mix = -1.0f)
{
    const uint8_t* row = default_sounds.delay_bank[p];
    return {100u * row[0], row[3], row[1] / 100.0f, row[2] / 100.0f, mix < 0.0f ? row[4] / 100.0f : mix};
}

std::vector<float> delayed(std::vector<float> buffer, const DelaySettings& s)
{
    Fault fault;
    EXPECT_TRUE(reference::delay_whole(buffer.data(), static_cast<uint32_t>(buffer.size()), s.delay, s.swap_state,
                                       s.feedback, s.floor, s.mix, fault)) << fault.message;
    return buffer;
}

DelayRun started(const DelaySettings& s)
{
    DelayRun run;
    Fault fault;
    EXPECT_TRUE(delay_start(run, s.delay, s.swap_state, s.feedback, s.floor, s.mix, fault)) << fault.message;
    return run;
}

// Preset 1: the left gain is at its floor from frame 20,999 and raised again from 28,003.
// Preset 3 echoes every 25,499 frames. A mix of 1 leaves the processed signal alone.
TEST(DelayImpulse, EchoesOfAnImpulseAtFrame1AndNoneOfFrame0)
{
    struct Case { int preset; uint32_t frames; std::vector<size_t> echoes; std::vector<float> levels; float mixed; };
    const Case cases[] = {
        {1, 42000, {14000, 27999, 41998}, {0.9909809f, 0.1952334f, 0.1934726f}, 0.0792785f},
        {3, 76500, {25500, 50999, 76498}, {0.4003963f, 0.1603172f, 0.0513011f}, 0.1601585f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "preset " << c.preset);
        std::vector<float> input(2 * static_cast<size_t>(c.frames), 0.0f), expected = input;
        input[2] = 1.0f;
        const std::vector<float> p = delayed(input, preset(c.preset, 1.0f));
        expected[2] = 1.0f;
        for (size_t k = 0; k < c.echoes.size(); ++k) {
            EXPECT_NEAR(p[2 * c.echoes[k]], c.levels[k], 6e-8);
            expected[2 * c.echoes[k]] = p[2 * c.echoes[k]];
        }
        EXPECT_TRUE(same_bits(expected, p)) << "silent away from the echoes";
        EXPECT_NEAR(delayed(input, preset(c.preset))[2 * c.echoes[0]], c.mixed, 6e-8);
    }
    std::vector<float> frame0(2 * 60000, 0.0f);
    frame0[0] = 1.0f;
    EXPECT_TRUE(same_bits(frame0, delayed(frame0, preset(4, 1.0f)))) << "frame 0 is never echoed";
}

DelayRun run_for(uint32_t frames, const DelaySettings& s)
{
    DelayRun run = started(s);
    std::vector<float> silence(2 * static_cast<size_t>(frames), 0.0f);
    delay_block(run, silence.data(), static_cast<uint32_t>(silence.size()));
    return run;
}

// Gains rise 0.001 a frame to 1.0009907 after 1,001 frames; the first swap comes at
// frame D + 1, so the lowered side falls from D + 2 to 0.1990003 or 0.7999933 and stops.
TEST(DelayGains, RiseTo1_0009907AndFallToTheFloor)
{
    struct Case { DelaySettings s; uint32_t frames; float left, right; uint32_t state; bool edge; };
    const Case cases[] = {
        {{100000, 2, 0.5f, 0.2f, 0.5f}, 1001, 1.0009907f, 1.0009907f, 2, true},
        {{1000, 2, 0.5f, 0.2f, 0.5f}, 20000, 1.0009907f, 1.0009907f, 2, false},  // state 2 never swaps
        {{2000, 0, 0.5f, 0.2f, 0.5f}, 2804, 1.0009907f, 0.1990003f, 1, true},
        {{2000, 0, 0.5f, 0.2f, 0.5f}, 3304, 1.0009907f, 0.1990003f, 1, false},   // stopped at the floor
        {{2000, 0, 0.5f, 0.8f, 0.5f}, 2203, 1.0009907f, 0.7999933f, 1, true},
        {{1000, 1, 0.5f, 0.8f, 0.5f}, 1203, 0.7999933f, 1.0009907f, 0, true},     // state 1 lowers the left
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "D " << c.s.delay << ", floor " << c.s.floor << ", frames " << c.frames);
        DelayRun run = run_for(c.frames, c.s);
        EXPECT_NEAR(run.gain[0], c.left, 6e-8);
        EXPECT_NEAR(run.gain[1], c.right, 6e-8);
        EXPECT_EQ(run.swap_state, c.state);
        delay_finish(run);
        if (!c.edge) continue;
        const int side = c.left < 1.0f ? 0 : c.right < 1.0f ? 1 : 0;
        run = run_for(c.frames - 1, c.s);
        EXPECT_GT(std::abs(run.gain[side] - (side ? c.right : c.left)), 1e-4f) << "one frame earlier";
        delay_finish(run);
    }
    for (uint32_t d : {0u, 1u}) {  // refused with the reason, and nothing taken that would need releasing
        DelayRun run;
        Fault fault;
        EXPECT_FALSE(delay_start(run, d, 0, 0.5f, 0.2f, 0.5f, fault)) << "D " << d;
        EXPECT_STREQ(fault.message, "delay length D must be at least 2") << "D " << d;
    }
}

// Block-wise runs give exactly the whole-buffer pass, down to a one-slot line.
TEST(DelayBlocks, MatchWholeBufferPassBitForBit)
{
    const std::vector<float> input = stereo_noise(60000, 4);
    for (const DelaySettings& s : {preset(1), DelaySettings{2, 0, 0.9f, 0.2f, 0.5f}}) {
        const std::vector<float> expected = delayed(input, s);
        for (const std::vector<uint32_t>& sizes : std::vector<std::vector<uint32_t>>{{1}, {7, 3, 1}, {s.delay + 3, 1}}) {
            std::vector<float> actual = input;
            DelayRun run = started(s);
            in_blocks(actual, sizes, [&](float* block, uint32_t length) { delay_block(run, block, length); });
            delay_finish(run);
            EXPECT_TRUE(same_bits(expected, actual)) << "D " << s.delay << ", first block " << sizes.front();
        }
    }
}

}  // namespace
