// A song's sound sections: every rule with its message and place, each
// table's fields reaching the sound (and nothing else), the defaults file,
// and `songtool render` playing a song with its own sounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "driver/mix.h"
#include "fx/mixdown.h"
#include "output/wave.h"
#include "song_asm.h"
#include "songtool.h"
#include "sounds_cpp.h"
#include "tests/file_contents.h"

namespace {

// Channels 1..7 rest a bar and hold, dry.
std::string resting_channels(int first)
{
    std::string text;
    for (int c = first; c < CHANNEL_COUNT; ++c)
        text += "channel " + std::to_string(c) + " reverb = 0 delay = 0\n  r1 [ r1 ]255\n";
    return text;
}

// Channel 0 plays instrument 5 and channel 1 instrument 3, every channel
// dry: no channel's effects reach another's, so a change shows where it acts.
std::string dry_song(const std::string& channel_1_mix = "reverb = 0 delay = 0")
{
    // At t10 a hold of 255 whole rests would run out within the render.
    return "channel 0 lead reverb = 0 delay = 0\n  t10 o4 @5 v12 l8 c d e f g a b >c [ r1 ]0\n"
           "channel 1 bass " + channel_1_mix + "\n  o3 @3 v12 l4 c e g c [ r1 ]0\n" +
           resting_channels(2);
}

std::vector<Finding> findings_of(const std::string& source, SongSounds& sounds)
{
    std::vector<uint8_t> block;
    std::vector<Finding> findings;
    assemble_song(source, "t.txt", block, sounds, findings);
    return findings;
}

SongSounds sounds_of(const std::string& source)
{
    SongSounds sounds;
    const std::vector<Finding> findings = findings_of(source, sounds);
    EXPECT_FALSE(has_errors(findings)) << format_finding(findings.front());
    return sounds;
}

// Each rule: a slip, the one finding it gives (message and place) and its rule name.
TEST(SoundSections, EachRuleWithItsMessageAndPlace)
{
    const std::string song = dry_song();
    struct Case {
        std::string sections, message, rule;
    };
    const Case cases[] = {
        {"instrument 14\n", "t.txt:1:12: error: instrument 14 is outside 0..13", "sound-section"},
        {"delay_preset 0\n", "t.txt:1:14: error: delay_preset 0 is outside 1..4", "sound-section"},
        {"reverb_preset 5\n", "t.txt:1:15: error: reverb_preset 5 is outside 1..4", "sound-section"},
        {"eq 2\n", "t.txt:1:4: error: eq 2 is outside 0..1", "sound-section"},
        {"eq 1 lowpass_mix = 0.1\neq 1\n", "t.txt:2:1: error: eq 1 is defined twice", "sound-section"},
        {"instrument 2 pad\ninstrument 3 pad\n", "t.txt:2:1: error: instrument name pad is taken by instrument 2",
         "sound-section"},
        {"instrument 2\n  sample_1_l = 13\n",
         "t.txt:2:16: error: sample_1_l 13 is outside 0..12 (the wave bank's waves)", "sound-value"},
        {"instrument 2 sample_2_r = 13\n",
         "t.txt:1:27: error: sample_2_r 13 is outside 0..12 (the wave bank's waves)", "sound-value"},
        {"instrument 2 lfo_waveform = 128\n",
         "t.txt:1:29: error: lfo_waveform 128 is outside 0..127 (a larger one reads outside the wave bank)",
         "sound-value"},
        {"instrument 2 phase = 256\n", "t.txt:1:22: error: phase 256 is outside 0..255", "sound-value"},
        {"instrument 2 phase = -1\n", "t.txt:1:22: error: phase -1 is outside 0..255", "sound-value"},
        {"instrument 2 phase = 99999999999999999999\n",
         "t.txt:1:22: error: phase 99999999999999999999 is outside 0..255", "sound-value"},
        {"instrument 2 phase = 1.5\n", "t.txt:1:22: error: phase needs a whole number, not '1.5'", "sound-value"},
        {"instrument 2 phase =\n", "t.txt:1:21: error: phase needs a value", "sound-value"},
        {"instrument 2 fase = 1\n",
         "t.txt:1:14: error: unknown field fase in instrument 2 (its fields: sample_1_l sample_1_r sample_2_l "
         "sample_2_r env_wav_length env_vol_type env_vol_length swp_type swp_length swp_target lfo_pitch "
         "lfo_intensity lfo_waveform lfo_length stereo_mix phase)",
         "sound-field"},
        {"instrument 2 phase = 1\n  stereo_mix = 2 phase = 3\n",
         "t.txt:2:18: error: phase is given twice in instrument 2", "sound-field"},
        {"instrument 2\n  phase 3\n", "t.txt:2:3: error: expected a field, written NAME = VALUE", "sound-field"},
        {"instrument 5 env_vol_length = 0\n",
         "t.txt:1:31: warning: env_vol_length 0 silences every note of instrument 5 (its volume envelope has no "
         "length)",
         "silent-envelope"},
        {"instrument 5 env_vol_type = 2\n",
         "t.txt:1:29: warning: env_vol_type 2 silences every note of instrument 5 (the volume envelope is 0, "
         "decay, or 1, attack)",
         "silent-envelope-type"},
        {"delay_preset 1 time = 0\n",
         "t.txt:1:23: error: time 0 leaves the echo no line: a delay time is at least 1 (100 frames)",
         "sound-value"},
        {"delay_preset 1 feedback = 101\n",
         "t.txt:1:27: warning: feedback 101 above 100 makes the echo grow without bound", "runaway-echo"},
        {"delay_preset 1 roomsize = 1\n",
         "t.txt:1:16: error: unknown field roomsize in delay_preset 1 (its fields: time feedback floor "
         "start_side mix)",
         "sound-field"},
        {"reverb_preset 1 damp = 300\n", "t.txt:1:24: error: damp 300 is outside 0..255", "sound-value"},
        {"eq 0 lowpass_cutoff = -1\n", "t.txt:1:23: error: lowpass_cutoff -1 is below 0 Hz", "sound-value"},
        {"eq 0 highpass_cutoff = 1e40\n", "t.txt:1:24: error: highpass_cutoff 1e40 is not a finite number",
         "sound-value"},
        {"eq 0 lowpass_mix = nan\n", "t.txt:1:20: error: lowpass_mix nan is not a finite number", "sound-value"},
        {"eq 0 highpass_mix = 0.5q\n", "t.txt:1:21: error: highpass_mix needs a decimal number, not '0.5q'",
         "sound-value"},
        {"channel 0 gain = 256\n  r1\n", "t.txt:1:18: error: gain 256 is outside 0..255 (percent)", "sound-value"},
        {"channel 0 reverb = 5\n  r1\n", "t.txt:1:20: error: reverb 5 is outside 0..4 (0 = off)", "sound-value"},
        {"channel 0\n  @nobody c4\n", "t.txt:2:3: error: unknown instrument nobody", "notation"},
    };
    for (const Case& c : cases) {
        // The slip comes first; a channel 0 of its own replaces the song's.
        const bool own_channel_0 = c.sections.rfind("channel 0", 0) == 0;
        const std::string source = c.sections + (own_channel_0 ? resting_channels(1) : song);
        SongSounds sounds;
        const std::vector<Finding> findings = findings_of(source, sounds);
        ASSERT_EQ(findings.size(), 1u) << c.sections;
        EXPECT_EQ(format_finding(findings[0]), c.message);
        EXPECT_EQ(findings[0].error.rule, c.rule) << c.sections;
    }
}

TEST(SoundSections, SoundsFilesHoldNoMusicAndTheDefaultsSetEveryField)
{
    std::vector<Finding> findings;
    SongSounds sounds;
    EXPECT_FALSE(assemble_sounds("channel 2 gain = 50\n  c4\npattern p\n", "s.txt", sounds, findings));
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(format_finding(findings[0]), "s.txt:2:3: error: music in a sounds file, which holds none");
    EXPECT_EQ(format_finding(findings[1]), "s.txt:3:1: error: pattern in a sounds file, which holds no music");
    EXPECT_EQ(findings[0].error.rule, "sounds-only");

    EXPECT_TRUE(assemble_sounds("channel 2 gain = 50\ninstrument 4 blip2 phase = 9\n", "s.txt", sounds, findings));
    EXPECT_EQ(sounds.sounds.channel_gain[2], 50);
    EXPECT_EQ(sounds.sounds.instrument_bank[4][INSTRUMENT_SIZE - 1], 9);
    EXPECT_EQ(sounds.instrument_names[4], "blip2");

    // A defaults file that leaves a field out, or a section, says which at its end.
    const auto defaults = file_contents<std::string>(SONGRENDER_TEST_SONGS "/../../data/sounds.txt");
    ASSERT_FALSE(defaults.empty());
    ASSERT_TRUE(assemble_default_sounds(defaults, "d.txt", sounds, findings));
    EXPECT_EQ(std::memcmp(&sounds.sounds.instrument_bank, &default_sounds.instrument_bank,
                          sizeof default_sounds.instrument_bank), 0);
    const std::string without_phase = defaults.substr(0, defaults.find("  stereo_mix = 40  phase = 20")) +
                                      defaults.substr(defaults.find("instrument 1 organ"));
    const auto eof_line = std::count(without_phase.begin(), without_phase.end(), '\n') + 1;
    EXPECT_FALSE(assemble_default_sounds(without_phase, "d.txt", sounds, findings));
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(format_finding(findings[0]),
              "d.txt:" + std::to_string(eof_line) +
                  ":1: error: instrument 0 leaves out stereo_mix phase; the defaults file sets every field");
    EXPECT_EQ(findings[0].error.rule, "sound-defaults");
    const std::string without_eq_1 = defaults.substr(0, defaults.rfind("eq 1"));
    EXPECT_FALSE(assemble_default_sounds(without_eq_1, "d.txt", sounds, findings));
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_NE(format_finding(findings[0]).find("eq 1 is missing; the defaults file sets every field"),
              std::string::npos);
}

// What a section sets lands in its table's row and column; what it leaves
// out keeps the defaults; names are kept and `@name` is `@number`.
TEST(SoundSections, FieldsLandWhereTheyAreNamed)
{
    const SongSounds s = sounds_of(
        "instrument 7 wail sample_1_l = 1 sample_1_r = 2 sample_2_l = 3 sample_2_r = 4\n"
        "  env_wav_length = 5 env_vol_type = 1 env_vol_length = 7 swp_type = 8 swp_length = 9\n"
        "  swp_target = 10 lfo_pitch = 11 lfo_intensity = 12 lfo_waveform = 13 lfo_length = 14\n"
        "  stereo_mix = 15 phase = 16\n"
        "instrument 2\n  phase = 77\n"
        "delay_preset 3 time = 1 feedback = 2 floor = 3 start_side = 4 mix = 5\n"
        "reverb_preset 4 width = 6 dry = 7 wet = 8 damp = 9 roomsize = 10\n"
        "eq 1 lowpass_mix = 0.1 lowpass_cutoff = 123.5 highpass_mix = 1e-3 highpass_cutoff = 7\n" +
        dry_song("gain = 33 reverb = 4 delay = 3"));
    const uint8_t wail[INSTRUMENT_SIZE] = {1, 2, 3, 4, 5, 1, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(std::memcmp(s.sounds.instrument_bank[7], wail, INSTRUMENT_SIZE), 0);
    EXPECT_EQ(s.instrument_names[7], "wail");
    EXPECT_EQ(std::memcmp(s.sounds.instrument_bank[2], default_sounds.instrument_bank[2], INSTRUMENT_SIZE - 1), 0);
    EXPECT_EQ(s.sounds.instrument_bank[2][INSTRUMENT_SIZE - 1], 77);
    const uint8_t delay[5] = {1, 2, 3, 4, 5}, reverb[5] = {6, 7, 8, 9, 10};
    EXPECT_EQ(std::memcmp(s.sounds.delay_bank[3], delay, 5), 0);
    EXPECT_EQ(std::memcmp(s.sounds.delay_bank[2], default_sounds.delay_bank[2], 5), 0);
    EXPECT_EQ(std::memcmp(s.sounds.reverb_bank[4], reverb, 5), 0);
    const float eq[4] = {0.1f, 123.5f, 1e-3f, 7.0f};
    EXPECT_EQ(std::memcmp(&s.sounds.eq_data[4], eq, sizeof eq), 0);
    EXPECT_EQ(std::memcmp(&s.sounds.eq_data[0], &default_sounds.eq_data[0], 4 * sizeof(float)), 0);
    EXPECT_EQ(s.sounds.channel_gain[1], 33);
    EXPECT_EQ(s.sounds.channel_fx[1][0], 4);
    EXPECT_EQ(s.sounds.channel_fx[1][1], 3);
    EXPECT_EQ(s.sounds.channel_gain[0], default_sounds.channel_gain[0]);  // its header gives no gain
    EXPECT_EQ(s.channel_names[1], "bass");
}

// A second of the song: each channel as it enters the master, and the master.
struct Heard {
    std::vector<float> channel[CHANNEL_COUNT];
    std::vector<float> master;
};

constexpr uint32_t HEARD_FRAMES = 44100;

Heard hear(const std::string& source)
{
    SongSounds sounds;
    std::vector<uint8_t> block;
    std::vector<Finding> findings;
    EXPECT_TRUE(assemble_song(source, "t.txt", block, sounds, findings));
    Heard heard;
    MixOptions options{block.data(), &sounds.sounds};
    options.frames = HEARD_FRAMES;
    options.observe = [](void* context, int k, uint32_t, const float* samples, uint32_t length) {
        auto& channel = static_cast<Heard*>(context)->channel[k];
        channel.insert(channel.end(), samples, samples + length);
    };
    options.context = &heard;
    MasterMix mix{};
    Fault fault;
    EXPECT_TRUE(mix_channels(options, mix, fault)) << fault.message;
    heard.master.assign(mix.samples, mix.samples + mix.length);
    mix_release(mix);
    return heard;
}

// Which channels differ between two hearings, as a string of 0s and 1s.
std::string channels_changed(const Heard& a, const Heard& b)
{
    std::string changed;
    for (int k = 0; k < CHANNEL_COUNT; ++k) changed += a.channel[k] == b.channel[k] ? '0' : '1';
    return changed;
}

bool silent(const std::vector<float>& samples)
{
    return std::all_of(samples.begin(), samples.end(), [](float x) { return x == 0.0f; });
}

// Each table, one field changed: the channel that uses it changes, the
// others do not; a row no channel uses changes nothing; the equaliser acts
// on the master alone. Channel 1 plays dry, or through reverb 2 and delay 3.
TEST(SoundSections, EachTableReachesTheSoundWhereItIsUsed)
{
    const std::string dry_mix = "reverb = 0 delay = 0", wet_mix = "reverb = 2 delay = 3";
    const Heard dry = hear(dry_song()), wet = hear(dry_song(wet_mix));
    ASSERT_FALSE(silent(dry.channel[0]));
    ASSERT_FALSE(silent(dry.channel[1]));
    struct Case { std::string sections, channel_1_mix, changed; };
    const Case cases[] = {
        {"", "reverb = 2 delay = 0", "01000000"}, {"", "reverb = 0 delay = 3", "01000000"},
        {"instrument 5 stereo_mix = 90\n", dry_mix, "10000000"}, {"instrument 3 sample_1_l = 0\n", dry_mix, "01000000"},
        {"instrument 4 sample_1_l = 0\n", dry_mix, "00000000"}, {"eq 1 highpass_mix = 0.5\n", dry_mix, "00000000"},
        {"delay_preset 3 mix = 10\n", wet_mix, "01000000"}, {"delay_preset 3 time = 100\n", wet_mix, "01000000"},
        {"delay_preset 4 mix = 10\n", wet_mix, "00000000"}, {"reverb_preset 2 wet = 60\n", wet_mix, "01000000"},
        {"reverb_preset 3 wet = 60\n", wet_mix, "00000000"},
    };
    for (const Case& c : cases) {
        const Heard& before = c.channel_1_mix == wet_mix ? wet : dry;
        const Heard after = hear(c.sections + dry_song(c.channel_1_mix));
        EXPECT_EQ(channels_changed(before, after), c.changed) << c.sections << c.channel_1_mix;
        if (c.sections.rfind("eq", 0) == 0) {
            EXPECT_NE(before.master, after.master) << c.sections;
        }
    }
    // A gain of 50 % halves every sample of a dry channel exactly.
    const Heard half = hear(dry_song("gain = 50 " + dry_mix));
    EXPECT_EQ(channels_changed(dry, half), "01000000");
    for (size_t i = 0; i < dry.channel[1].size(); ++i) ASSERT_EQ(half.channel[1][i], dry.channel[1][i] * 0.5f);
}

// `songtool render` of a song with sound sections is what the engine makes
// of its block and sounds, as songrender built from the song plays them.
TEST(SoundSections, RenderPlaysTheSongsOwnSounds)
{
    const std::string source = "instrument 5 bright sample_1_l = 2 stereo_mix = 80\n"
                               "delay_preset 1 feedback = 50\nreverb_preset 1 wet = 50\n"
                               "eq 0 lowpass_mix = 0.5 lowpass_cutoff = 3000\n" +
                               dry_song("gain = 120 reverb = 1 delay = 1");
    char folder[] = "/tmp/song-sounds-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string song = std::string(folder) + "/song.txt", rendered = std::string(folder) + "/tool.wav",
                      expected = std::string(folder) + "/engine.wav";
    std::ofstream(song) << source;
    std::ostringstream out, err;
    ASSERT_EQ(songtool_main({"render", song, "-o", rendered, "--seconds", "1"}, out, err), 0) << err.str();

    SongSounds sounds;
    std::vector<uint8_t> block;
    std::vector<Finding> findings;
    ASSERT_TRUE(assemble_song(source, song, block, sounds, findings));
    MixOptions options{block.data(), &sounds.sounds};
    options.frames = HEARD_FRAMES;
    MasterMix mix{};
    Fault fault;
    ASSERT_TRUE(mix_channels(options, mix, fault)) << fault.message;
    ASSERT_EQ(wave_write_pcm(expected.c_str(), master_to_song(mix.samples, mix.length, mix.peak), mix.length), 0);
    mix_release(mix);
    const auto tool_bytes = file_contents(rendered);
    EXPECT_EQ(tool_bytes.size(), 44u + 4u * HEARD_FRAMES);
    EXPECT_TRUE(tool_bytes == file_contents(expected));
    std::filesystem::remove_all(folder);
}

// Every single-precision value reads back from the C++ source as the same float.
TEST(SoundSections, CppFloatsReadBackExactly)
{
    SongSounds s{default_sounds, {}, {}};
    const float values[4] = {0.1f, 1e-30f, 3.4e38f, 16777217.0f};
    std::memcpy(s.sounds.eq_data, values, sizeof values);
    const std::string cpp = sounds_cpp(s, "x");
    const size_t at = cpp.find("lowpass_mix lowpass_cutoff highpass_mix highpass_cutoff\n") + 56;
    const char* text = cpp.c_str() + at;
    for (const float value : values) {
        char* end = nullptr;
        EXPECT_EQ(std::strtof(text, &end), value);
        ASSERT_EQ(*end, 'f');
        text = end + 2;  // past "f,"
    }
}

}  // namespace

TEST(SoundSections, TheDefaultsFilesNamesSelectInstrumentsUnlessTheSongTakesThem)
{
    const auto block_of = [](const std::string& header, const std::string& instrument, SongSounds& sounds) {
        const std::string source =
            header + "channel 0\n  o3 @" + instrument + " c4 r4 [ r1 ]255\n" + resting_channels(1);
        std::vector<uint8_t> block;
        std::vector<Finding> findings;
        assemble_song(source, "t.txt", block, sounds, findings);
        EXPECT_TRUE(findings.empty()) << format_finding(findings.front());
        return block;
    };
    SongSounds defaults, by_number, renamed;
    EXPECT_EQ(block_of("", "bass", defaults), block_of("", "3", by_number));
    // A song that gives the name to another instrument takes it from the default one.
    EXPECT_EQ(block_of("instrument 7 bass\n", "bass", renamed), block_of("", "7", by_number));
}
