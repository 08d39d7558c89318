// The render loop's timeline: silence at the start, the envelope clock, and
// one channel rendered on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/render.h"
#include "song_test_songs.h"
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


// One channel rendered alone, block by block, against the whole frame's
// render of every channel, on a song where every channel plays all the
// time (all instruments, ties, sweeps, LFOs, drums and tempo changes).
std::vector<uint8_t> dense_song()
{
    std::ifstream file(std::string(SONGRENDER_TEST_SONGS) + "/dense.txt");
    std::stringstream text;
    text << file.rdbuf();
    return assemble_ok(text.str());
}

TEST(RenderChannel, AloneInBlocksEqualsTheWholeFrameRender)
{
    constexpr uint32_t FRAMES = 120000;  // a few seconds: many notes and envelope steps
    const std::vector<uint8_t> song = dense_song();
    load_song(song);
    voice_setup();
    std::vector<std::vector<int16_t>> whole(RENDER_CHANNELS);
    for (uint32_t f = 0; f < FRAMES; ++f) {
        render_frame(f);
        const uint32_t at = f % RENDER_BLOCK_FRAMES;
        for (int c = 0; c < RENDER_CHANNELS; ++c) {
            whole[c].push_back(channel_buffer_int[c][at][0]);
            whole[c].push_back(channel_buffer_int[c][at][1]);
        }
    }
    const uint32_t sizes[] = {1, 200, 201, RENDER_BLOCK_FRAMES, 777};
    for (int c = 0; c < RENDER_CHANNELS; ++c) {
        load_song(song);
        render_channel_start();
        std::vector<int16_t> alone;
        for (uint32_t f = 0, i = 0; f < FRAMES; ++i) {
            const uint32_t n = std::min(sizes[i % 5], FRAMES - f);
            render_channel_block(c, n);
            alone.insert(alone.end(), &channel_buffer_int[c][0][0], &channel_buffer_int[c][0][0] + 2 * n);
            f += n;
        }
        EXPECT_EQ(alone, whole[c]) << "channel " << c;
        EXPECT_NE(std::count(alone.begin(), alone.end(), 0), static_cast<long>(alone.size())) << c;
    }
    render_reset();
}

}  // namespace
