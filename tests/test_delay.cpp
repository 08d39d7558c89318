// The swapping stereo delay: the echoes of presets 1 and 3, the gain motion
// and swaps, and block-wise runs against a whole-buffer reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "data/tables.h"
#include "fx/delay.h"
#include "fx_streams.h"

namespace {

struct DelaySettings {
    uint32_t delay;
    uint32_t swap_state;
    float feedback, floor, mix;
};

DelaySettings preset(int p)
{
    const uint8_t* row = delay_bank[p];
    return {100u * row[0], row[3], row[1] / 100.0f, row[2] / 100.0f, row[4] / 100.0f};
}

// The delay as a whole-buffer pass over a processed copy P of the song.
void reference_delay(std::vector<float>& x, const DelaySettings& s)
{
    const size_t n_frames = x.size() / 2;
    const size_t h = s.delay / 2;
    std::vector<float> p = x;
    std::vector<float> line(2 * h, 0.0f);
    size_t cursor = 0;
    float pending[2] = {0.0f, 0.0f};
    float gain[2] = {0.0f, 0.0f};
    bool falling[2] = {false, false};
    uint32_t counter = 0;
    uint32_t state = s.swap_state;
    for (size_t m = 0; m < n_frames; ++m) {
        for (int side = 0; side < 2; ++side) {
            if (!falling[side] && gain[side] < 1.0f) gain[side] = static_cast<float>(gain[side] + 0.001);
            else if (falling[side] && gain[side] > s.floor) gain[side] = static_cast<float>(gain[side] - 0.001);
        }
        if (counter <= s.delay) {
            ++counter;
        } else {
            counter = 0;
            if (state == 0) { falling[0] = false; falling[1] = true; state = 1; }
            else if (state == 1) { falling[0] = true; falling[1] = false; state = 0; }
        }
        p[2 * m] = p[2 * m] + pending[0];
        p[2 * m + 1] = p[2 * m + 1] + pending[1];
        if (m + 1 < n_frames && m + 1 > h) {
            line[2 * cursor] = p[2 * (m + 1 - h)] * gain[0];
            line[2 * cursor + 1] = p[2 * (m + 1 - h) + 1] * gain[1];
            cursor = (cursor + 1) % h;
            pending[0] = s.feedback * line[2 * cursor];
            pending[1] = s.feedback * line[2 * cursor + 1];
        }
    }
    for (size_t i = 0; i < x.size(); ++i) {
        const float wet = s.mix * p[i];
        x[i] = static_cast<float>(wet + x[i] * (1.0 - static_cast<double>(s.mix)));
    }
}

std::vector<float> delayed(std::vector<float> buffer, const DelaySettings& s)
{
    delay_process(buffer.data(), static_cast<uint32_t>(buffer.size()), s.delay, s.swap_state,
                  s.feedback, s.floor, s.mix);
    return buffer;
}

std::vector<float> left_impulse(uint32_t frames, uint32_t at)
{
    std::vector<float> buffer(2 * static_cast<size_t>(frames), 0.0f);
    buffer[2 * at] = 1.0f;
    return buffer;
}

// With a mix of 1 the output is the processed signal P itself.
DelaySettings fully_wet(DelaySettings s)
{
    s.mix = 1.0f;
    return s;
}

void expect_silent_except(const std::vector<float>& out, std::vector<size_t> left_frames, size_t up_to)
{
    for (size_t f = 0; f <= up_to; ++f) {
        ASSERT_EQ(out[2 * f + 1], 0.0f) << "right side, frame " << f;
        if (std::find(left_frames.begin(), left_frames.end(), f) == left_frames.end()) {
            ASSERT_EQ(out[2 * f], 0.0f) << "left side, frame " << f;
        }
    }
}

// Preset 1: the left gain is at its floor from frame 20,999 and raised
// again from 28,003. Preset 3 echoes every 25,499 frames.
TEST(DelayImpulse, EchoesOfAnImpulseAtFrame1)
{
    struct Case { int preset; uint32_t frames; std::vector<size_t> echoes; std::vector<float> levels; float mixed; };
    const Case cases[] = {
        {1, 42000, {14000, 27999, 41998}, {0.9909809f, 0.1952334f, 0.1934726f}, 0.0792785f},
        {3, 76500, {25500, 50999, 76498}, {0.4003963f, 0.1603172f, 0.0513011f}, 0.1601585f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "preset " << c.preset);
        const std::vector<float> input = left_impulse(c.frames, 1);
        const std::vector<float> p = delayed(input, fully_wet(preset(c.preset)));
        EXPECT_EQ(p[2], 1.0f);
        for (size_t k = 0; k < c.echoes.size(); ++k) EXPECT_NEAR(p[2 * c.echoes[k]], c.levels[k], 6e-8);
        std::vector<size_t> sounding = c.echoes;
        sounding.push_back(1);
        expect_silent_except(p, sounding, c.frames - 1);
        EXPECT_NEAR(delayed(input, preset(c.preset))[2 * c.echoes[0]], c.mixed, 6e-8);
    }
}

TEST(DelayImpulse, FrameZeroIsNeverEchoed)
{
    const std::vector<float> input = left_impulse(60000, 0);
    EXPECT_TRUE(same_bits(input, delayed(input, fully_wet(preset(4)))));
}

// Steps through frames one at a time and returns the run after `frames`.
DelayRun run_for(uint32_t frames, const DelaySettings& s)
{
    DelayRun run = delay_start(s.delay, s.swap_state, s.feedback, s.floor, s.mix);
    std::vector<float> silence(2 * static_cast<size_t>(frames), 0.0f);
    delay_block(run, silence.data(), static_cast<uint32_t>(silence.size()));
    return run;
}

TEST(DelayGains, RiseFor1001FramesTo1_0009907)
{
    const DelaySettings never_swaps{100000, 2, 0.5f, 0.2f, 0.5f};
    DelayRun run = run_for(1000, never_swaps);
    EXPECT_LT(run.gain[0], 1.0f);
    delay_finish(run);
    run = run_for(1001, never_swaps);
    EXPECT_NEAR(run.gain[0], 1.0009907f, 6e-8);
    EXPECT_EQ(run.gain[1], run.gain[0]);
    delay_finish(run);
    run = run_for(20000, {1000, 2, 0.5f, 0.2f, 0.5f});  // swap state 2 never lowers a side
    EXPECT_NEAR(run.gain[0], 1.0009907f, 6e-8);
    EXPECT_NEAR(run.gain[1], 1.0009907f, 6e-8);
    EXPECT_EQ(run.swap_state, 2u);
    delay_finish(run);
}

// First swap at frame D + 1, so a side falls from frame D + 2 on.
TEST(DelayGains, FallTo0_1990003Or0_7999933)
{
    struct Case { float floor; uint32_t steps; float level; };
    for (const Case c : {Case{0.2f, 802, 0.1990003f}, Case{0.8f, 201, 0.7999933f}}) {
        const DelaySettings s{2000, 0, 0.5f, c.floor, 0.5f};  // state 0: the right side falls
        DelayRun run = run_for(2002 + c.steps - 1, s);
        EXPECT_GT(run.gain[1], c.floor) << c.floor;
        delay_finish(run);
        run = run_for(2002 + c.steps, s);
        EXPECT_NEAR(run.gain[1], c.level, 6e-8) << c.floor;
        EXPECT_NEAR(run.gain[0], 1.0009907f, 6e-8) << c.floor;
        delay_finish(run);
        run = run_for(2002 + c.steps + 500, s);
        EXPECT_NEAR(run.gain[1], c.level, 6e-8) << "a falling gain stops at the floor";
        delay_finish(run);
    }
}

TEST(DelayGains, SwapsAtFrameDPlus1ThenEveryDPlus2Frames)
{
    const DelaySettings s{1000, 1, 0.5f, 0.2f, 0.5f};
    const uint32_t swaps[] = {1001, 2003, 3005};
    for (const uint32_t at : swaps) {
        DelayRun before = run_for(at, s);  // frames 0 .. at - 1
        DelayRun after = run_for(at + 1, s);
        EXPECT_EQ(before.falling[0], after.falling[1]) << at;
        EXPECT_NE(after.falling[0], after.falling[1]) << at;
        EXPECT_NE(before.swap_state, after.swap_state) << at;
        delay_finish(before);
        delay_finish(after);
    }
    DelayRun run = run_for(1002, s);
    EXPECT_TRUE(run.falling[0]) << "start side 1 lowers the left side first";
    delay_finish(run);
}

TEST(DelayEdges, LengthWithoutALineSlotIsRefused)
{
    std::vector<float> buffer(8, 1.0f);
    for (uint32_t d : {0u, 1u})
        EXPECT_EXIT(delay_process(buffer.data(), 8, d, 0, 0.5f, 0.2f, 0.5f),
                    ::testing::ExitedWithCode(1), "delay length D must be at least 2")
            << d;
}

// The delay run in blocks of any size gives exactly the whole-buffer pass,
// for the presets and for line lengths down to one slot.
TEST(DelayBlocks, MatchWholeBufferPassBitForBit)
{
    const std::vector<float> input = stereo_noise(60000, 4);
    std::vector<DelaySettings> settings = {preset(1), preset(2), preset(3), preset(4),
                                           {2, 0, 0.9f, 0.2f, 0.5f},
                                           {10, 1, 0.99f, 0.5f, 0.3f},
                                           {1000, 2, 0.7f, 0.2f, 0.25f}};
    for (const DelaySettings& s : settings) {
        const uint32_t h = s.delay / 2;
        const std::vector<std::vector<uint32_t>> cuttings = {
            {1}, {7, 3, 1}, {h - 1 > 0 ? h - 1 : 1, h, h + 1}, {4096}, {s.delay + 3, 1}};
        std::vector<float> expected = input;
        reference_delay(expected, s);
        EXPECT_TRUE(same_bits(expected, delayed(input, s))) << "D " << s.delay;
        for (const auto& sizes : cuttings) {
            std::vector<float> actual = input;
            DelayRun run = delay_start(s.delay, s.swap_state, s.feedback, s.floor, s.mix);
            in_blocks(actual, sizes, [&](float* block, uint32_t length) { delay_block(run, block, length); });
            delay_finish(run);
            EXPECT_TRUE(same_bits(expected, actual)) << "D " << s.delay << ", first block " << sizes.front();
        }
    }
}

}  // namespace
