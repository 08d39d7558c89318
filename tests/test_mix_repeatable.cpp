// The whole mix holds all its state in values: two mixes one after the other, and two at the same
// time on two threads, give the same samples, and those of the single-threaded reference pipeline.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <thread>
#include <vector>

#include "data/tables.h"
#include "driver/mix.h"
#include "driver/render.h"
#include "fx/mixdown.h"
#include "tests/reference.h"

namespace {

constexpr uint32_t FRAMES = 3 * SAMPLE_RATE;  // short enough for the sanitizers and emulation

MixOptions short_song()
{
    MixOptions options{tarq_data, &tarq_sounds};
    options.frames = FRAMES;
    return options;
}

// The 16-bit song of a mix, and the master's floats' bits before normalising.
struct Mixed {
    bool ok = false;
    std::string fault;
    std::vector<uint32_t> master_bits;
    std::vector<int16_t> song;
};

Mixed mix_once()
{
    Mixed out;
    MasterMix mix{};
    Fault fault;
    out.ok = mix_channels(short_song(), mix, fault);
    out.fault = fault.message;
    if (!out.ok) return out;
    out.master_bits.resize(mix.length);
    for (uint32_t i = 0; i < mix.length; ++i) out.master_bits[i] = std::bit_cast<uint32_t>(mix.samples[i]);
    const int16_t* song = master_to_song(mix.samples, mix.length, mix.peak);
    out.song.assign(song, song + mix.length);
    mix_release(mix);
    return out;
}

TEST(MixRepeatable, TwiceInOneProcessGivesTheSameSamplesAsTheReference)
{
    const Mixed first = mix_once();
    ASSERT_TRUE(first.ok) << first.fault;
    const Mixed second = mix_once();
    ASSERT_TRUE(second.ok) << second.fault;
    EXPECT_TRUE(first.master_bits == second.master_bits) << "the second mix differs from the first";
    EXPECT_EQ(first.song, second.song);

    const std::vector<float> expected = reference::master_in_order(tarq_data, tarq_sounds, FRAMES);
    ASSERT_EQ(first.master_bits.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(std::bit_cast<float>(first.master_bits[i]), expected[i]) << "sample " << i;
    EXPECT_NE(std::count(first.song.begin(), first.song.end(), int16_t{0}), static_cast<long>(first.song.size()));
}

TEST(MixRepeatable, TwoAtOnceOnTwoThreadsGiveIdenticalBytes)
{
    Mixed left, right;
    std::thread one([&] { left = mix_once(); });
    std::thread two([&] { right = mix_once(); });
    one.join();
    two.join();
    ASSERT_TRUE(left.ok) << left.fault;
    ASSERT_TRUE(right.ok) << right.fault;
    EXPECT_TRUE(left.master_bits == right.master_bits) << "the concurrent mixes differ";
    EXPECT_EQ(left.song, right.song);
    EXPECT_EQ(left.song, mix_once().song) << "and equal a mix on its own";
}

}  // namespace
