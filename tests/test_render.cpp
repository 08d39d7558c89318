// The render loop's timeline: the envelope clock, and one channel rendered on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/render.h"
#include "song_test_songs.h"
#include "voice/oscillator.h"

namespace {

TEST(Render, SilentFrameZeroAndEnvelopeClockAt200And401ThenEvery201)
{
    render_reset();
    voice_setup();
    std::vector<uint32_t> fired;
    for (uint32_t f = 0; f < 1000; ++f) {
        const uint8_t before = mod_counter;
        render_frame(f);
        if (before == 0) fired.push_back(f);
        for (int c = 0; f == 0 && c < RENDER_CHANNELS; ++c)
            EXPECT_TRUE(channel_buffer_int[c][0][0] == 0 && channel_buffer_int[c][0][1] == 0) << c;
    }
    EXPECT_EQ(fired, (std::vector<uint32_t>{200, 401, 602, 803}));
}

// A song where every channel plays all the time, rendered whole and then
// channel by channel in blocks of odd sizes: the two must agree.
TEST(RenderChannel, AloneInBlocksEqualsTheWholeFrameRender)
{
    constexpr uint32_t FRAMES = 120000;
    std::ifstream file(std::string(SONGRENDER_TEST_SONGS) + "/dense.txt");
    std::stringstream text;
    text << file.rdbuf();
    const std::vector<uint8_t> song = assemble_ok(text.str());
    load_song(song);
    voice_setup();
    std::vector<std::vector<int16_t>> whole(RENDER_CHANNELS);
    for (uint32_t f = 0; f < FRAMES; ++f) {
        render_frame(f);
        for (int c = 0; c < RENDER_CHANNELS; ++c) {
            const int16_t* at = channel_buffer_int[c][f % RENDER_BLOCK_FRAMES];
            whole[c].insert(whole[c].end(), at, at + 2);
        }
    }
    const uint32_t sizes[] = {1, 200, 201, RENDER_BLOCK_FRAMES, 777};
    for (int c = 0; c < RENDER_CHANNELS; ++c) {
        load_song(song);
        render_channel_start();
        std::vector<int16_t> alone;
        for (uint32_t f = 0, i = 0; f < FRAMES; f += sizes[i++ % 5]) {
            const uint32_t n = std::min(sizes[i % 5], FRAMES - f);
            render_channel_block(c, n);
            alone.insert(alone.end(), &channel_buffer_int[c][0][0], &channel_buffer_int[c][0][0] + 2 * n);
        }
        EXPECT_EQ(alone, whole[c]) << "channel " << c;
        EXPECT_NE(std::count(alone.begin(), alone.end(), 0), static_cast<long>(alone.size())) << c;
    }
    render_reset();
}

}  // namespace
