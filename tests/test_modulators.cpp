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
        Voice voice = fresh_voice();
        voice.lfo.lfo_amplitude = 7;  // the note starts the fade from 0
        start_note(voice, PITCH_440, [&](InstrumentRecord& r) {
            r[INS_LFO_INTENSITY] = static_cast<uint8_t>(c.intensity);
            r[INS_LFO_LENGTH] = 0;
        });
        std::vector<int> a;
        for (size_t s = 0; s < c.from + c.amplitudes.size(); ++s, a.push_back(voice.lfo.lfo_amplitude))
            lfo_fade_step(voice.lfo);
        EXPECT_EQ(std::vector<int>(a.begin() + c.from, a.end()), c.amplitudes) << int(c.intensity);
    }
}

TEST(Modulators, FadeInReloadIsTruncatedTo16Bits)
{
    struct Case { uint16_t length; uint16_t reload; };
    for (const Case c : {Case{1200, 11264}, Case{2000, 62464}, Case{2550, 32128}, Case{350, 22400}}) {
        Lfo lfo;
        lfo.lfo_length = c.length;
        lfo.lfo_intensity = 5;
        lfo_fade_step(lfo);
        EXPECT_EQ(lfo.lfo_tick, c.reload) << "lfo_length " << c.length;
    }
}

// Ten cycles of 131,072 / 14 = 9,362.29 frames: 4.71 Hz.
TEST(Modulators, LfoPitch14CyclesEvery9362Point3Frames)
{
    Lfo lfo;
    lfo.lfo_amplitude = 32;
    lfo.lfo_pitch = 14;
    std::vector<int> rises;  // frames where the sine turns non-negative
    for (int f = 0, previous = 0; rises.size() < 11; previous = lfo.lfo_output, ++f) {
        lfo_step(lfo);
        if (previous < 0 && lfo.lfo_output >= 0) rises.push_back(f);
    }
    for (size_t k = 1; k < rises.size(); ++k)
        EXPECT_TRUE(rises[k] - rises[k - 1] == 9362 || rises[k] - rises[k - 1] == 9363) << rises[k] - rises[k - 1];
    EXPECT_TRUE(rises[10] - rises[0] == 93622 || rises[10] - rises[0] == 93623) << rises[10] - rises[0];
}

// A note whose volume envelope has a type and a length in steps (a multiple of 6) at a channel volume.
void set_volume_envelope(Voice& voice, uint8_t type, uint16_t length, float volume)
{
    voice_set_volume(voice, volume);
    start_note(voice, PITCH_440, [&](InstrumentRecord& r) {
        r[INS_ENV_VOL_TYPE] = type;
        r[INS_ENV_VOL_LENGTH] = static_cast<uint8_t>(length / 6);
    });
    ASSERT_EQ(voice.env.env_vol_length, length);
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
                Voice voice = fresh_voice();
                set_volume_envelope(voice, type, n, v);
                ASSERT_EQ(voice.osc.osc_volume, type == 0 ? v : 0.0f);
                for (int s = 0; s < n; ++s) env_step(voice.env, voice.osc);
                ASSERT_NE(voice.osc.osc_volume, goal);
                env_step(voice.env, voice.osc);
                ASSERT_EQ(voice.osc.osc_volume, goal);
                env_step(voice.env, voice.osc);
                EXPECT_EQ(voice.env.env_vol_tick, n + 1);
            }
}

// A rest at the end of frame 500 changes nothing audible until the envelope
// step of frame 602; from frame 603 the channel is silent.
// The stated single-precision order, (t * rise) / n + from, rounds to
// values that other orders miss.
TEST(Modulators, EnvelopeArithmeticKeepsItsOrderOfOperations)
{
    Voice decay = fresh_voice(), attack = fresh_voice(), morph = fresh_voice();
    set_volume_envelope(decay, 0, 30, 0.875f);
    for (int s = 0; s < 2; ++s) env_step(decay.env, decay.osc);
    EXPECT_EQ(decay.osc.osc_volume, 0.8458333611488342f);  // t*(0-v)/n + v; not 0.8458333015441895
    set_volume_envelope(attack, 1, 120, 1.875f);
    for (int s = 0; s <= 63; ++s) env_step(attack.env, attack.osc);
    EXPECT_EQ(attack.osc.osc_volume, 0.984375f);  // (63*v)/n; 63*(v/n) gives 0.98437494
    start_note(morph, PITCH_440, [](InstrumentRecord& r) { r[INS_ENV_WAV_LENGTH] = 100; });
    ASSERT_EQ(morph.env.env_wav_length, 300);
    for (int s = 0; s < 159; ++s) env_step(morph.env, morph.osc);
    EXPECT_EQ(morph.osc.osc_mix, 53);  // (159*100)/300; (159/300)*100 gives 52
}

TEST(Modulators, RestSilencesAtTheNextEnvelopeStep)
{
    const auto engine = engine_without_song();
    Voice& voice = engine->voices[0];
    set_volume_envelope(voice, 0, 720, 1.0f);
    int16_t out[CHANNEL_COUNT][2];
    uint32_t f = 0;
    for (; f <= 500; ++f) engine_all_channels(*engine, out);
    voice_rest(voice, default_sounds.instrument_bank[1]);
    bool sounding = false;
    for (; f <= 602; ++f) {
        engine_all_channels(*engine, out);
        sounding = sounding || out[0][0] != 0;
    }
    EXPECT_TRUE(sounding);
    EXPECT_EQ(voice.osc.osc_volume, 0.0f);
    for (; f <= 900; ++f) {
        engine_all_channels(*engine, out);
        ASSERT_TRUE(out[0][0] == 0 && out[0][1] == 0) << "frame " << f;
    }
}

// When both envelopes move in one step, the table must carry the new volume
// and the new mix together (neither bake alone gives it).
TEST(Modulators, BothEnvelopesInOneStepBakeBothNewValues)
{
    Voice voice = fresh_voice();
    set_volume_envelope(voice, 0, 6, 1.5f);
    Oscillator& osc = voice.osc;
    osc.osc_sample_1_l = osc.osc_sample_1_r = 0;  // sine then square: any change of mix shows
    osc.osc_sample_2_l = osc.osc_sample_2_r = 2;
    voice.env.env_wav_length = 30;
    env_step(voice.env, osc);
    const float old_volume = osc.osc_volume;
    const uint8_t old_mix = osc.osc_mix;
    env_step(voice.env, osc);
    ASSERT_EQ(osc.osc_mix, 6);         // 200 / 30
    ASSERT_EQ(osc.osc_volume, 1.25f);  // 1.5 - 1.5 / 6
    auto bake_elsewhere_equals = [&](uint8_t mix, float volume) {
        Oscillator other;
        update_wavetable(other, 0, 2, 0, 2, mix, osc.osc_phase, volume, osc.osc_stereo_mix);
        return std::memcmp(other.osc_wavetable, osc.osc_wavetable, sizeof osc.osc_wavetable) == 0;
    };
    EXPECT_FALSE(bake_elsewhere_equals(old_mix, 1.25f));
    EXPECT_FALSE(bake_elsewhere_equals(6, old_volume));
    EXPECT_TRUE(bake_elsewhere_equals(6, 1.25f));
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
        Voice voice = fresh_voice();
        start_note(voice, PITCH_440, [&](InstrumentRecord& r) { r[INS_SWP_TYPE] = c.type; r[INS_SWP_LENGTH] = c.length; });
        voice.osc.osc_pitch = c.pitch;
        voice.osc.osc_target_pitch = c.target;
        std::vector<int> moves;
        for (int s = 1; s <= c.steps; ++s) {
            const uint16_t before = voice.osc.osc_pitch;
            swp_step(voice.swp, voice.osc);
            if (voice.osc.osc_pitch != before) moves.push_back(s);
        }
        EXPECT_EQ(moves, c.moves);
        EXPECT_EQ(voice.osc.osc_pitch, c.end);
    }
}

}  // namespace
