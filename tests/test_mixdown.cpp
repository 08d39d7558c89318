// The post-render stage: a channel's chain (gain, delay, reverb), which
// channels have effects, normalisation, the whole-song buffers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"
#include "tests/reference.h"

namespace {

TEST(Mixdown, ChannelGainIsOneSinglePrecisionFactor)
{
    const uint32_t last = RENDER_BLOCK_FRAMES - 1;
    std::vector<int16_t> rendered(2 * RENDER_BLOCK_FRAMES, 0);
    rendered[0] = 1000;
    rendered[2 * last + 1] = 32767;
    std::vector<float> out(2 * RENDER_BLOCK_FRAMES, -1.0f);
    ChannelChain chain;
    Fault fault;
    ASSERT_TRUE(channel_chain_start(chain, default_sounds, 4, fault)) << fault.message;
    ASSERT_FALSE(chain.has_delay || chain.has_reverb) << "channel 4 has only its gain";
    const auto reverb = reference::fresh_reverb();
    channel_chain_enter(chain, *reverb);
    channel_chain_block(chain, *reverb, reinterpret_cast<const int16_t(*)[2]>(rendered.data()), out.data(),
                        RENDER_BLOCK_FRAMES);
    reference::channel_chain_leave(chain, *reverb);
    channel_chain_finish(chain);
    EXPECT_EQ(out[0], 1000.0f * 1.4f);  // channel 4's gain is 140 %
    EXPECT_EQ(out[2 * last + 1], 32767.0f * 1.4f);
    EXPECT_EQ(out[2], 0.0f);
}

// songrender names these in its progress lines ("delay | reverb", "", "reverb").
TEST(Mixdown, ChannelsWithDelayAndReverb)
{
    for (const auto& [channel, delay, reverb] : {std::tuple{0, true, true}, {4, false, false}, {7, false, true}}) {
        EXPECT_EQ(channel_has_delay(default_sounds, channel), delay) << "channel " << channel;
        EXPECT_EQ(channel_has_reverb(default_sounds, channel), reverb) << "channel " << channel;
        ChannelChain chain;
        Fault fault;
        ASSERT_TRUE(channel_chain_start(chain, default_sounds, channel, fault)) << fault.message;
        EXPECT_EQ(chain.has_delay, delay) << "channel " << channel;
        EXPECT_EQ(chain.has_reverb, reverb) << "channel " << channel;
        channel_chain_finish(chain);
    }
}

// The peak of either side goes to 32767 (never -32768) and the rest truncates:
// 0.5 * 32767 = 16383.5 gives 16383. A silent master gives zeros, not NaN.
// master_to_song gives the same samples in the master's own memory.
TEST(Mixdown, NormalisesThePeakTo32767AndTruncates)
{
    struct Case { std::vector<float> master; std::vector<int16_t> expected; };
    const Case cases[] = {
        {{0.25f, -0.5f, 1.0f, -1.0f, 0.5f, 0.0f}, {8191, -16383, 32767, -32767, 16383, 0}},
        {{-3.7f, 1.2f, 0.0f, -0.0f}, {-32767, 10627, 0, 0}},
        {{0.0f, -0.0f, 0.0f, 0.0f}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const auto length = static_cast<uint32_t>(c.master.size());
        std::vector<int16_t> out(c.master.size(), 77);
        std::vector<float> master = c.master;
        reference::master_normalise(master.data(), out.data(), length);
        EXPECT_EQ(out, c.expected) << "peak " << master_peak_of(c.master.data(), length);
        master = c.master;
        const int16_t* song = master_to_song(master.data(), length, master_peak_of(master.data(), length));
        EXPECT_EQ(std::vector<int16_t>(song, song + length), c.expected) << "in place";
    }
}

// Scaled by a larger mix's peak, a few channels of it may go beyond full
// scale where the others cancelled them: they saturate instead of wrapping
// (65534 would come out as -2), however far beyond.
TEST(Mixdown, ValuesBeyondAnotherMixsPeakSaturate)
{
    std::vector<float> master = {2.0f, -3.0f, 0.5f, 1.0f, -1.0e30f, 1.0f};
    const std::vector<int16_t> expected = {32767, -32767, 16383, 32767, -32767, 32767};
    const int16_t* song = master_to_song(master.data(), 4, 1.0f);
    EXPECT_EQ(std::vector<int16_t>(song, song + 4), std::vector<int16_t>(expected.begin(), expected.begin() + 4));
    master = {2.0f, -3.0f, 0.5f, 1.0f, -1.0e30f, 1.0f};
    std::vector<int16_t> out(2);
    normalise_to_16_bits(master.data() + 4, out.data(), 2, 1.0e-30f);
    EXPECT_EQ(out, std::vector<int16_t>(expected.begin() + 4, expected.end()));
}

// A master's memory, once its samples are made in place: the bytes it
// keeps stay as they were, the pages around them read as fresh zeros, the
// memory having gone back to the system.
TEST(SongBuffers, TrimmingKeepsTheRangeAndGivesBackThePagesAroundIt)
{
    constexpr size_t COUNT = 3 << 20;  // 12 MiB: several huge pages
    Fault fault;
    float* floats = take_song_floats(COUNT, "the test", fault);
    ASSERT_NE(floats, nullptr) << fault.message;
    auto* bytes = reinterpret_cast<unsigned char*>(floats);
    std::memset(bytes, 0xa5, COUNT * sizeof(float));
    const size_t from = 5000001, to = 7654321, page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    trim_song_floats(floats, COUNT, from, to);
    size_t changed = 0;
    for (size_t i = from / page * page; i < (to + page - 1) / page * page; ++i) changed += bytes[i] != 0xa5;
    EXPECT_EQ(changed, 0u) << "bytes of the kept pages changed";
    for (const size_t i : {size_t{0}, from / page * page - 1, (to + page - 1) / page * page, COUNT * sizeof(float) - 1})
        EXPECT_EQ(bytes[i], 0) << "byte " << i << " was not given back";
    release_song_floats(floats, COUNT);
}

}  // namespace
