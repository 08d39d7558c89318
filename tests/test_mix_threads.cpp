// Channels mixed side by side on several threads: bit for bit the plain
// order's master whether the guessed reverb states hold or not, progress
// still channel after channel, and a stop that ends the mix.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <string>
#include <vector>

#include "data/tables.h"
#include "driver/mix.h"
#include "fx/mixdown.h"
#include "song_asm.h"
#include "tests/file_contents.h"
#include "tests/reference.h"

namespace {

constexpr uint32_t FRAMES = 30 * SAMPLE_RATE;  // long enough for the channels to run side by side

struct Mixed {
    std::vector<float> master;
    float peak = 0.0f;
    MixTimes times;
};

MixOptions options_for(const uint8_t* song, const Sounds& sounds, int threads)
{
    MixOptions options{song, &sounds};
    options.frames = FRAMES;
    options.threads = threads;
    return options;
}

Mixed mix_with(const uint8_t* song, const Sounds& sounds, int threads)
{
    Mixed out;
    MixOptions options = options_for(song, sounds, threads);
    options.times = &out.times;
    MasterMix mix{};
    Fault fault;
    EXPECT_TRUE(mix_channels(options, mix, fault)) << fault.message;
    if (mix.samples == nullptr) return out;
    out.master.assign(mix.samples, mix.samples + mix.length);
    out.peak = mix.peak;
    mix_release(mix);
    return out;
}

// Bit for bit: comparing floats would let -0 pass for 0.
void expect_same_bits(const std::vector<float>& got, const std::vector<float>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        if (std::bit_cast<uint32_t>(got[i]) != std::bit_cast<uint32_t>(want[i])) {
            ADD_FAILURE() << "sample " << i << " is " << got[i] << ", not " << want[i];
            return;
        }
}

float peak_of(const std::vector<float>& master)
{
    return master_peak_of(master.data(), static_cast<uint32_t>(master.size()));
}

TEST(MixThreads, TheEmbeddedSongsGuessesHoldAndGiveThePlainOrdersMaster)
{
    const std::vector<float> want = reference::master_in_order(tarq_data, tarq_sounds, FRAMES);
    for (const int threads : {2, 3, MIX_MAX_THREADS}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const Mixed got = mix_with(tarq_data, tarq_sounds, threads);
        EXPECT_EQ(got.times.threads, threads);
        EXPECT_TRUE(got.times.guessed);
        EXPECT_FALSE(got.times.fell_back);
        expect_same_bits(got.master, want);
        EXPECT_EQ(got.peak, peak_of(want));
    }
}

// Channel 0 plays to the end; channel 1 only rests, in a room so large that
// the states channel 0 hands on still ring there long after the head.
struct Assembled {
    SongSounds sounds;
    std::vector<uint8_t> block;
};

Assembled ringing_song()
{
    std::string source = "reverb_preset 2 roomsize = 100\n"
                         "channel 0 lead reverb = 1 delay = 0\n  t10 o4 @5 v12 l1 [ c ]0\n"
                         "channel 1 pad reverb = 2 delay = 0\n  [ r1 ]0\n";
    for (int c = 2; c < CHANNEL_COUNT; ++c) source += "channel " + std::to_string(c) + " reverb = 0 delay = 0\n  [ r1 ]0\n";
    Assembled song;
    std::vector<Finding> findings;
    EXPECT_TRUE(assemble_song(source, "ringing.txt", song.block, song.sounds, findings));
    return song;
}

TEST(MixThreads, AReverbStillRingingAfterTheHeadIsMixedAgainInOrder)
{
    const Assembled song = ringing_song();
    const std::vector<float> want = reference::master_in_order(song.block.data(), song.sounds.sounds, FRAMES);
    const Mixed got = mix_with(song.block.data(), song.sounds.sounds, 2);
    EXPECT_TRUE(got.times.guessed);
    EXPECT_TRUE(got.times.fell_back);
    expect_same_bits(got.master, want);
    EXPECT_EQ(got.peak, peak_of(want));
    EXPECT_GT(got.peak, 0.0f);
}

// The embedded song through a high-pass so close to passing everything that
// its state takes far longer than a block to forget the guess.
TEST(MixThreads, AnEqualiserSlowToForgetIsMixedAgainInOrder)
{
    const std::string source = "eq 0 highpass_mix = 0.5 highpass_cutoff = 70000000\n" +
                               file_contents<std::string>(SONGRENDER_TEST_SONGS "/../../data/song.txt");
    Assembled song;
    std::vector<Finding> findings;
    ASSERT_TRUE(assemble_song(source, "slow.txt", song.block, song.sounds, findings));
    const std::vector<float> want = reference::master_in_order(song.block.data(), song.sounds.sounds, FRAMES);
    const Mixed got = mix_with(song.block.data(), song.sounds.sounds, 2);
    EXPECT_TRUE(got.times.fell_back);
    expect_same_bits(got.master, want);
}

struct ProgressCall {
    MixStage stage;
    int channel;
    uint32_t done, total;
};

std::vector<ProgressCall> progress_of(const uint8_t* song, const Sounds& sounds)
{
    std::vector<ProgressCall> calls;
    MixOptions options = options_for(song, sounds, 2);
    options.context = &calls;
    options.progress = [](void* context, MixStage stage, int k, uint32_t done, uint32_t total) {
        static_cast<std::vector<ProgressCall>*>(context)->push_back({stage, k, done, total});
    };
    MasterMix mix{};
    Fault fault;
    EXPECT_TRUE(mix_channels(options, mix, fault)) << fault.message;
    mix_release(mix);
    return calls;
}

// Each channel from 0 up to the whole, in order, then the equaliser.
void expect_channel_after_channel(const std::vector<ProgressCall>& calls)
{
    size_t i = 0;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        ASSERT_LT(i, calls.size());
        EXPECT_EQ(calls[i].stage, MixStage::channel);
        EXPECT_EQ(calls[i].channel, k);
        EXPECT_EQ(calls[i].done, 0u) << "channel " << k << " starts at 0";
        for (++i; i < calls.size() && calls[i].stage == MixStage::channel && calls[i].channel == k; ++i)
            EXPECT_GT(calls[i].done, calls[i - 1].done);
        EXPECT_EQ(calls[i - 1].done, 2 * FRAMES) << "channel " << k << " ends whole";
    }
    ASSERT_LT(i, calls.size());
    for (; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].stage, MixStage::equaliser);
        if (calls[i - 1].stage == MixStage::equaliser) {
            EXPECT_GT(calls[i].done, calls[i - 1].done);
        }
    }
    EXPECT_EQ(calls.back().done, 2 * FRAMES);
}

TEST(MixThreads, ProgressComesChannelAfterChannelThenTheEqualiser)
{
    expect_channel_after_channel(progress_of(tarq_data, tarq_sounds));
    const Assembled song = ringing_song();
    SCOPED_TRACE("a mix made again in order");
    expect_channel_after_channel(progress_of(song.block.data(), song.sounds.sounds));
}

TEST(MixThreads, AStopEndsTheMixUnfinishedWithItsReason)
{
    for (const int threads : {1, 2}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        // Stopped from the start, and by the progress of the first channel.
        std::atomic<bool> stop{true};
        MixOptions options = options_for(tarq_data, tarq_sounds, threads);
        options.stop = &stop;
        MasterMix mix{};
        Fault fault;
        EXPECT_FALSE(mix_channels(options, mix, fault));
        EXPECT_STREQ(fault.message, "the mix was stopped");

        stop = false;
        options.context = &stop;
        options.progress = [](void* context, MixStage, int, uint32_t done, uint32_t) {
            if (done > 0) static_cast<std::atomic<bool>*>(context)->store(true);
        };
        Fault later;
        EXPECT_FALSE(mix_channels(options, mix, later));
        EXPECT_STREQ(later.message, "the mix was stopped");
    }
}

}  // namespace
