// The render loop's timeline: silence at the start and the envelope clock.
#include <gtest/gtest.h>

#include <vector>

#include "driver/render.h"
#include "voice/oscillator.h"

namespace {

class Render : public ::testing::Test {
protected:
    void SetUp() override
    {
        render_reset();
        voice_setup();
    }
};

TEST_F(Render, FrameZeroIsSilentOnEveryChannel)
{
    render_frame(0);
    for (int c = 0; c < RENDER_CHANNELS; ++c) {
        EXPECT_EQ(channel_buffer_int[c][0][0], 0) << c;
        EXPECT_EQ(channel_buffer_int[c][0][1], 0) << c;
    }
}

TEST_F(Render, EnvelopeClockFiresOnFrames200And401AndEvery201)
{
    std::vector<uint32_t> fired;
    for (uint32_t f = 0; f < 1000; ++f) {
        const uint8_t before = mod_counter;
        render_frame(f);
        if (before == 0) fired.push_back(f);
    }
    EXPECT_EQ(fired, (std::vector<uint32_t>{200, 401, 602, 803}));
}

TEST_F(Render, OscillatorOutputOfAFrameIsStoredInThatFrame)
{
    for (int k = 0; k < 256; ++k) osc_wavetable[3][0][k] = osc_wavetable[3][1][k] = static_cast<int16_t>(k);
    osc_pitch[3] = 512;  // one entry per frame
    for (uint32_t f = 0; f < 4; ++f) render_frame(f);
    for (uint32_t f = 0; f < 4; ++f) EXPECT_EQ(channel_buffer_int[3][f][0], static_cast<int>(f + 1)) << f;
}

}  // namespace
