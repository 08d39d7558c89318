// The oscillator channels' modulators: LFO and its fade-in, the volume and
// wave envelopes on the 201-frame clock, and the pitch sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "voice/sweep.h"
#include "voice_arming.h"

namespace {

// The note leaves the countdown at 1, so the first step only counts down;
// the amplitude settles one above the intensity, an 8-bit value that wraps.
TEST(Modulators, FadeInClimbsToOneAboveTheIntensity)
{
    struct Case { int8_t intensity; size_t from; std::vector<int> amplitudes; };
    const Case cases[] = {
        {3, 0, {0, 1, 2, 3, 4, 4, 4, 4}}, {0, 0, {0, 1, 1, 1, 1}}, {127, 127, {127, -128, -127, -126}},
        {static_cast<int8_t>(200), 0, std::vector<int>(1000, 0)},  // negative: never fades in
    };
    for (const Case& c : cases) {
        reset_voices();
        start_note(0, 440, [&](int ch) { lfo_intensity[ch] = c.intensity; lfo_length[ch] = 0; });
        std::vector<int> a;
        for (size_t s = 0; s < c.from + c.amplitudes.size(); ++s, a.push_back(lfo_amplitude[0])) lfo_fade_step(0);
        EXPECT_EQ(std::vector<int>(a.begin() + c.from, a.end()), c.amplitudes) << int(c.intensity);
    }
}

TEST(Modulators, FadeInReloadIsTruncatedTo16Bits)
{
    struct Case { uint16_t length; uint16_t reload; };
    for (const Case c : {Case{1200, 11264}, Case{2000, 62464}, Case{2550, 32128}, Case{350, 22400}}) {
        reset_voices();
        lfo_length[0] = c.length;
        lfo_intensity[0] = 5;
        lfo_fade_step(0);
        EXPECT_EQ(lfo_tick[0], c.reload) << "lfo_length " << c.length;
    }
}

// Ten cycles of 131,072 / 14 = 9,362.29 frames: 4.71 Hz.
TEST(Modulators, LfoPitch14CyclesEvery9362Point3Frames)
{
    reset_voices();
    lfo_amplitude[0] = 32;
    lfo_pitch[0] = 14;
    std::vector<int> rises;  // frames where the sine turns non-negative
    for (int f = 0, previous = 0; rises.size() < 11; previous = lfo_output[0], ++f) {
        lfo_step(0);
        if (previous < 0 && lfo_output[0] >= 0) rises.push_back(f);
    }
    for (size_t k = 1; k < rises.size(); ++k)
        EXPECT_TRUE(rises[k] - rises[k - 1] == 9362 || rises[k] - rises[k - 1] == 9363) << rises[k] - rises[k - 1];
    EXPECT_TRUE(rises[10] - rises[0] == 93622 || rises[10] - rises[0] == 93623) << rises[10] - rises[0];
}

void set_volume_envelope(uint8_t type, uint16_t length, float volume)
{
    reset_voices();
    start_note(0, 440, [&](int c) { env_vol_type[c] = type; env_vol_length[c] = length; tarq_volume[c] = volume; });
}

// A decay (type 0) reaches exactly 0 and an attack (type 1) exactly the
// channel volume at step n + 1, not a rounding step before.
TEST(Modulators, EnvelopesLandExactlyOnTheirGoalAtStepNPlusOne)
{
    for (uint8_t type : {0, 1})
        for (uint16_t n : {6, 30, 720})
            for (int eighths = 1; eighths <= 15; ++eighths) {
                const float v = eighths * 0.125f, goal = type == 0 ? 0.0f : v;
                SCOPED_TRACE(::testing::Message() << "type " << int(type) << " n " << n << " v " << v);
                set_volume_envelope(type, n, v);
                ASSERT_EQ(osc_volume[0], type == 0 ? v : 0.0f);
                for (int s = 0; s < n; ++s) env_step(0);
                ASSERT_NE(osc_volume[0], goal);
                env_step(0);
                ASSERT_EQ(osc_volume[0], goal);
                env_step(0);
                EXPECT_EQ(env_vol_tick[0], n + 1);
            }
}

// A rest at the end of frame 500 changes nothing audible until the envelope
// step of frame 602; from frame 603 the channel is silent.
// The stated single-precision order, (t * rise) / n + from, rounds to
// values that other orders miss.
TEST(Modulators, EnvelopeArithmeticKeepsItsOrderOfOperations)
{
    set_volume_envelope(0, 30, 0.875f);
    for (int s = 0; s < 2; ++s) env_step(0);
    EXPECT_EQ(osc_volume[0], 0.8458333611488342f);  // t*(0-v)/n + v; not 0.8458333015441895
    set_volume_envelope(1, 120, 1.875f);
    for (int s = 0; s <= 63; ++s) env_step(0);
    EXPECT_EQ(osc_volume[0], 0.984375f);  // (63*v)/n; 63*(v/n) gives 0.98437494
    reset_voices();
    start_note(0, 440, [](int c) { env_wav_length[c] = 300; });
    for (int s = 0; s < 159; ++s) env_step(0);
    EXPECT_EQ(osc_mix[0], 53);  // (159*100)/300; (159/300)*100 gives 52
}

TEST(Modulators, RestSilencesAtTheNextEnvelopeStep)
{
    set_volume_envelope(0, 720, 1.0f);
    uint32_t f = 0;
    for (; f <= 500; ++f) render_frame(f);
    configure_instrument(0, 1);  // the rest: a one-step decay
    env_vol_length[0] = 1;
    env_vol_type[0] = 0;
    bool sounding = false;
    for (; f <= 602; ++f) {
        render_frame(f);
        sounding = sounding || channel_buffer_int[0][f][0] != 0;
    }
    EXPECT_TRUE(sounding);
    EXPECT_EQ(osc_volume[0], 0.0f);
    for (; f <= 900; ++f) {
        render_frame(f);
        ASSERT_TRUE(channel_buffer_int[0][f][0] == 0 && channel_buffer_int[0][f][1] == 0) << "frame " << f;
    }
}

// When both envelopes move in one step, the table must carry the new volume
// and the new mix together (neither bake alone gives it).
TEST(Modulators, BothEnvelopesInOneStepBakeBothNewValues)
{
    set_volume_envelope(0, 6, 1.5f);
    osc_sample_1_l[0] = osc_sample_1_r[0] = 0;  // sine then square: any change of mix shows
    osc_sample_2_l[0] = osc_sample_2_r[0] = 2;
    env_wav_length[0] = 30;
    env_step(0);
    const float old_volume = osc_volume[0];
    const uint8_t old_mix = osc_mix[0];
    env_step(0);
    ASSERT_EQ(osc_mix[0], 6);         // 200 / 30
    ASSERT_EQ(osc_volume[0], 1.25f);  // 1.5 - 1.5 / 6
    auto bake_on_1_equals_0 = [&](uint8_t mix, float volume) {
        update_wavetable(1, 0, 2, 0, 2, mix, osc_phase[0], volume, osc_stereo_mix[0]);
        return std::memcmp(osc_wavetable[0], osc_wavetable[1], sizeof osc_wavetable[0]) == 0;
    };
    EXPECT_FALSE(bake_on_1_equals_0(old_mix, 1.25f));
    EXPECT_FALSE(bake_on_1_equals_0(6, old_volume));
    EXPECT_TRUE(bake_on_1_equals_0(6, 1.25f));
}

// One unit every length x 4 + 1 steps toward the goal, never past it and
// never the other way; types 0 and 5 up do not sweep. Pitches compare
// unsigned: 33,000 is above 32,760.
TEST(Modulators, SweepMovesOneUnitTowardTheGoal)
{
    struct Case { uint8_t type, length; uint16_t pitch, target; int steps; std::vector<int> moves; uint16_t end; };
    const Case cases[] = {
        {1, 2, 500, 497, 100, {2, 11, 20}, 497}, {3, 2, 500, 497, 100, {2, 11, 20}, 497},
        {2, 1, 440, 443, 100, {2, 7, 12}, 443}, {4, 1, 440, 443, 100, {2, 7, 12}, 443},
        {1, 0, 500, 490, 11, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 490}, {1, 0, 33000, 32760, 2, {2}, 32999},
        {1, 0, 500, 500, 50, {}, 500}, {1, 0, 500, 600, 50, {}, 500}, {2, 0, 500, 400, 50, {}, 500},
        {0, 0, 500, 400, 50, {}, 500}, {5, 0, 500, 400, 50, {}, 500}, {255, 0, 500, 400, 50, {}, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << int(c.type) << " length " << int(c.length)
                                          << " from " << c.pitch << " to " << c.target);
        reset_voices();
        start_note(0, c.pitch, [&](int ch) { swp_type[ch] = c.type; swp_length[ch] = c.length; });
        osc_target_pitch[0] = c.target;
        std::vector<int> moves;
        for (int s = 1; s <= c.steps; ++s) {
            const uint16_t before = osc_pitch[0];
            swp_step(0);
            if (osc_pitch[0] != before) moves.push_back(s);
        }
        EXPECT_EQ(moves, c.moves);
        EXPECT_EQ(osc_pitch[0], c.end);
    }
}

}  // namespace
