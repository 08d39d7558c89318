// The render loop's timeline: the envelope clock, and one channel rendered on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "song_test_songs.h"
#include "tests/reference.h"

namespace {

TEST(Render, SilentFrameZeroAndEnvelopeClockAt200And401ThenEvery201)
{
    const auto engine = std::make_unique<Engine>();
    engine_start(*engine, tarq_data, tarq_sounds.instrument_bank, EVERY_CHANNEL);
    std::vector<uint32_t> fired;
    int16_t out[CHANNEL_COUNT][2];
    for (uint32_t f = 0; f < 1000; ++f) {
        const uint8_t before = engine->mod_counter;
        engine_frame(*engine, 0, CHANNEL_COUNT - 1, out);
        if (before == 0) fired.push_back(f);
        for (int c = 0; f == 0 && c < CHANNEL_COUNT; ++c) EXPECT_TRUE(out[c][0] == 0 && out[c][1] == 0) << c;
    }
    EXPECT_EQ(fired, (std::vector<uint32_t>{200, 401, 602, 803}));
}

// A song where every channel plays all the time, rendered frame by frame for all channels and
// then channel by channel in blocks of odd sizes: the two must agree.
TEST(RenderChannel, AloneInBlocksEqualsTheWholeFrameRender)
{
    constexpr uint32_t FRAMES = 120000;
    std::ifstream file(std::string(SONGRENDER_TEST_SONGS) + "/dense.txt");
    std::stringstream text;
    text << file.rdbuf();
    const std::vector<uint8_t> song = assemble_ok(text.str());
    const reference::ChannelFrames whole = reference::render_all_frames(song.data(), default_sounds.instrument_bank, FRAMES);
    const uint32_t sizes[] = {1, 200, 201, RENDER_BLOCK_FRAMES, 777};
    std::vector<int16_t> block(2 * RENDER_BLOCK_FRAMES);
    auto* const out = reinterpret_cast<int16_t(*)[2]>(block.data());
    const auto engine = std::make_unique<Engine>();
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        engine_start(*engine, song.data(), default_sounds.instrument_bank, c);
        std::vector<int16_t> alone;
        for (uint32_t f = 0, i = 0; f < FRAMES; f += sizes[i++ % 5]) {
            const uint32_t n = std::min(sizes[i % 5], FRAMES - f);
            render_channel_block(*engine, c, n, out);
            alone.insert(alone.end(), block.begin(), block.begin() + 2 * n);
        }
        EXPECT_EQ(alone, whole[c]) << "channel " << c;
        EXPECT_NE(std::count(alone.begin(), alone.end(), 0), static_cast<long>(alone.size())) << c;
    }
}

}  // namespace
