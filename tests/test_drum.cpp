// The drum channel: playback rate from the octave, gain from the volume,
// holding the last value; and the properties of the ten drum samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "data/tables.h"
#include "voice/drum.h"

namespace {

// A drum at the given octave and volume that has just started sample k.
Drum armed_drum(int k, uint16_t octave, float volume)
{
    Drum drum;
    drum.sample_octave = octave;
    drum.sample_volume = volume;
    drum_hit(drum, k);
    return drum;
}

std::vector<int16_t> drum_frames(Drum& drum, int count)
{
    std::vector<int16_t> out;
    for (int f = 0; f < count; ++f) out.push_back(drum_step(drum));
    return out;
}

// Note 7 at octave 3: sample 6 (3213..3467), each value for 4 frames, then
// the last value held from frame 1,020 on.
TEST(Drum, Note7AtOctave3HoldsEachValueFourFrames)
{
    Drum drum = armed_drum(6, 3, 1.0f);
    const std::vector<int16_t> out = drum_frames(drum, 1100);
    for (int f = 0; f < 1020; ++f) ASSERT_EQ(out[f], 38 * wavetable[3213 + f / 4]) << "frame " << f;
    EXPECT_EQ(drum.sample_mute, 1);
    for (int f = 1020; f < 1100; ++f) ASSERT_EQ(out[f], out[1019]) << "frame " << f;
    for (uint16_t octave : {7, 200, 65535}) {  // unchecked octaves past 6: one value per frame, no fault
        Drum fast = armed_drum(1, octave, 1.0f);
        for (int f = 0; f < 56; ++f) ASSERT_EQ(drum_step(fast), 38 * wavetable[669 + f]) << octave;
    }
}

// 38 x volume x PCM value, truncated toward zero on both signs (38 x 0.125 = 4.75).
TEST(Drum, GainAtLowestAndHighestVolume)
{
    struct Case { int pcm; float volume; int16_t out; };
    for (const Case c : {Case{-128, 0.125f, -608}, Case{-128, 1.875f, -9120}, Case{1, 0.125f, 4},
                         Case{-1, 0.125f, -4}}) {
        const int at = static_cast<int>(std::find(wavetable, wavetable + DRUM_PCM_LENGTH, c.pcm) - wavetable);
        ASSERT_LT(at, DRUM_PCM_LENGTH) << "the drum PCM has no " << c.pcm;
        const int k = static_cast<int>(std::upper_bound(sample_index, sample_index + DRUM_SAMPLE_COUNT, at) - sample_index);
        Drum drum = armed_drum(k - 1, 6, c.volume);  // octave 6: one PCM value per frame
        EXPECT_EQ(drum_frames(drum, at - sample_index[k - 1] + 1).back(), c.out) << c.pcm << " at volume " << c.volume;
    }
}

// A rest freezes the last value (not silence); an octave change moves the
// position at once: 100 frames are position 25 at octave 3, 50 at octave 5.
TEST(Drum, RestFreezesAndOctaveChangeMovesThePosition)
{
    Drum drum = armed_drum(2, 6, 1.0f);
    const int16_t last = drum_frames(drum, 40).back();
    drum_rest(drum);
    for (int16_t v : drum_frames(drum, 200)) ASSERT_EQ(v, last);
    EXPECT_NE(last, 0);
    Drum moving = armed_drum(0, 3, 1.0f);
    drum_frames(moving, 100);
    ASSERT_NE(wavetable[25], wavetable[50]);
    moving.sample_octave = 5;
    EXPECT_EQ(drum_step(moving), 38 * wavetable[50]);
}

// Fixed boundaries; each sample reaches (nearly) full scale, decays by
// quarters to at most a quarter of the first, and ends on 0 (no DC step when held).
TEST(DrumSamples, LengthsPeakDecayAndSilentEnd)
{
    const uint16_t bounds[] = {0, 669, 725, 1643, 2225, 2318, 3213, 3468, 3874, 4449, 4990};
    for (int k = 0; k <= DRUM_SAMPLE_COUNT; ++k) EXPECT_EQ(sample_index[k], bounds[k]) << k;
    for (int k = 0; k < DRUM_SAMPLE_COUNT; ++k) {
        SCOPED_TRACE(::testing::Message() << "sample " << k);
        const int8_t* s = &wavetable[sample_index[k]];
        const int length = sample_index[k + 1] - sample_index[k], q = length / 4;
        auto rms = [&](int part) {
            double sum = 0.0;
            for (int i = part * q; i < (part + 1) * q; ++i) sum += double(s[i]) * s[i];
            return std::sqrt(sum / q);
        };
        int peak = 0;
        for (int i = 0; i < length; ++i) peak = std::max(peak, std::abs(s[i]));
        EXPECT_GE(peak, 120);
        for (int part = 1; part < 4; ++part) EXPECT_LE(rms(part), rms(part - 1)) << "quarter " << part;
        EXPECT_LE(rms(3), rms(0) / 4);
        EXPECT_EQ(s[length - 1], 0);
    }
}

}  // namespace
