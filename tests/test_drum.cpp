// The drum channel: playback rate from the octave, gain from the volume,
// holding the last value; and the properties of the ten drum samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "voice_arming.h"

namespace {

class Drum : public ::testing::Test {
protected:
    void SetUp() override { reset_voices(); }
};

void set_drum(uint16_t octave, float volume)
{
    tarq_octave[DRUM_CHANNEL] = octave;
    tarq_volume[DRUM_CHANNEL] = volume;
}

std::vector<int16_t> drum_frames(int count)
{
    std::vector<int16_t> out;
    for (int f = 0; f < count; ++f) out.push_back(drum_step());
    return out;
}

// First position in the drum PCM holding `value`, or -1.
int find_pcm(int value)
{
    for (int p = 0; p < DRUM_PCM_LENGTH; ++p)
        if (wavetable[p] == value) return p;
    return -1;
}

// Starts the sample holding `position` and plays it at the output rate up
// to that position; returns the output there.
int16_t play_up_to(int position)
{
    int k = 0;
    while (sample_index[k + 1] <= position) ++k;
    start_drum(k + 1);
    tarq_octave[DRUM_CHANNEL] = 6;
    int16_t out = 0;
    for (int p = sample_index[k]; p <= position; ++p) out = drum_step();
    return out;
}

TEST_F(Drum, SilentBeforeTheFirstNote)
{
    for (int16_t v : drum_frames(100)) ASSERT_EQ(v, 0);
}

// Note 7 at octave 3: sample 6 (3213..3467), each value for 4 frames, then
// the last value held from frame 1,020 on.
TEST_F(Drum, Note7AtOctave3HoldsEachValueFourFrames)
{
    set_drum(3, 1.0f);
    start_drum(7);
    const std::vector<int16_t> out = drum_frames(1100);
    for (int f = 0; f < 1020; ++f)
        ASSERT_EQ(out[f], 38 * wavetable[3213 + f / 4]) << "frame " << f;
    EXPECT_EQ(sample_mute, 1);
    for (int f = 1020; f < 1100; ++f) ASSERT_EQ(out[f], out[1019]) << "frame " << f;
}

// 38 x volume x PCM value, truncated toward zero on both signs
// (38 x 0.125 = 4.75).
TEST_F(Drum, GainAtLowestAndHighestVolume)
{
    struct Case { int pcm; float volume; int16_t out; };
    for (const Case c : {Case{-128, 0.125f, -608}, Case{-128, 1.875f, -9120}, Case{1, 0.125f, 4},
                         Case{-1, 0.125f, -4}}) {
        const int at = find_pcm(c.pcm);
        ASSERT_GE(at, 0) << "the drum PCM has no " << c.pcm;
        set_drum(6, c.volume);
        EXPECT_EQ(play_up_to(at), c.out) << c.pcm << " at volume " << c.volume;
    }
}

TEST_F(Drum, RestFreezesTheValueOfTheFrameBefore)
{
    set_drum(6, 1.0f);
    start_drum(3);
    const std::vector<int16_t> before = drum_frames(40);
    stop_drum();
    for (int16_t v : drum_frames(200)) ASSERT_EQ(v, before.back());
    EXPECT_NE(before.back(), 0);  // the freeze is not silence
}

// 100 frames at octave 3 reach position 25; at octave 5 the same count
// means position 50, taken at once.
TEST_F(Drum, OctaveChangeMovesThePositionAtOnce)
{
    set_drum(3, 1.0f);
    start_drum(1);
    drum_frames(100);
    const int start = sample_index[0];
    ASSERT_NE(wavetable[start + 25], wavetable[start + 50]);
    tarq_octave[DRUM_CHANNEL] = 5;
    EXPECT_EQ(drum_step(), 38 * wavetable[start + 50]);
}

TEST_F(Drum, VolumeChangeActsMidSample)
{
    set_drum(6, 1.0f);
    start_drum(1);
    drum_frames(10);
    tarq_volume[DRUM_CHANNEL] = 0.5f;
    EXPECT_EQ(drum_step(), static_cast<int16_t>(38 * wavetable[10] * 0.5f));
}

// Octaves past 6 bypassed the song check: they must not divide by zero or
// by a wrapped divisor, and play one value per frame.
TEST_F(Drum, OctaveSevenOrMorePlaysAtTheOutputRate)
{
    for (uint16_t octave : {7, 8, 200, 65535}) {
        set_drum(octave, 1.0f);
        start_drum(2);
        const std::vector<int16_t> out = drum_frames(56);
        for (int f = 0; f < 56; ++f) ASSERT_EQ(out[f], 38 * wavetable[669 + f]) << octave;
    }
}

// A drum note armed at the end of frame f is heard in frame f + 1, on both
// sides of channel 7.
TEST_F(Drum, StartsInTheNextFrameOnBothSides)
{
    set_drum(6, 1.0f);
    render_frame(0);
    start_drum(1);
    render_frame(1);
    render_frame(2);
    EXPECT_EQ(channel_buffer_int[DRUM_CHANNEL][0][0], 0);
    EXPECT_EQ(channel_buffer_int[DRUM_CHANNEL][1][0], 38 * wavetable[0]);
    EXPECT_EQ(channel_buffer_int[DRUM_CHANNEL][2][0], 38 * wavetable[1]);
    for (int f = 0; f < 3; ++f)
        EXPECT_EQ(channel_buffer_int[DRUM_CHANNEL][f][0], channel_buffer_int[DRUM_CHANNEL][f][1]);
}

// ---- The drum samples --------------------------------------------------

TEST(DrumSamples, BoundariesAreFixed)
{
    const uint16_t expected[] = {0, 669, 725, 1643, 2225, 2318, 3213, 3468, 3874, 4449, 4990};
    for (int k = 0; k <= DRUM_SAMPLE_COUNT; ++k) EXPECT_EQ(sample_index[k], expected[k]) << k;
}

double rms(const int8_t* s, int from, int to)
{
    double sum = 0.0;
    for (int i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / (to - from));
}

// Each sample reaches full scale or nearly, decays by quarters (the last at
// most a quarter of the first: percussive, not sustained) and ends on 0, since
// the channel holds the last value and anything else leaves a DC step.
TEST(DrumSamples, EachIsLoudDecaysAndEndsInSilence)
{
    for (int k = 0; k < DRUM_SAMPLE_COUNT; ++k) {
        SCOPED_TRACE(::testing::Message() << "sample " << k);
        const int8_t* s = &wavetable[sample_index[k]];
        const int length = sample_index[k + 1] - sample_index[k];
        int peak = 0;
        for (int i = 0; i < length; ++i) peak = std::max(peak, std::abs(s[i]));
        EXPECT_GE(peak, 120);
        const int q = length / 4;
        double previous = rms(s, 0, q);
        const double first = previous;
        for (int part = 1; part < 4; ++part) {
            const double now = rms(s, part * q, (part + 1) * q);
            EXPECT_LE(now, previous) << "quarter " << part;
            previous = now;
        }
        EXPECT_LE(previous, first / 4);
        EXPECT_EQ(s[length - 1], 0);
    }
}

}  // namespace
