// `songtool sounds`: the figures it derives from a song's sounds, checked
// against values worked by hand and against the engine's own behaviour, and
// its JSON read back by a strict reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "fx/delay.h"
#include "song_sounds.h"
#include "voice/voice.h"

namespace {

// --- A strict JSON reader: anything outside the grammar throws. ----------

struct JsonValue {
    enum Kind { null, boolean, number, string, array, object } kind = null;
    bool flag = false;
    double value = 0.0;
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    const JsonValue& operator[](const std::string& key) const
    {
        for (const auto& [name, member] : members)
            if (name == key) return member;
        throw std::runtime_error("no key " + key);
    }
    const JsonValue& operator[](std::size_t i) const { return items.at(i); }
    bool has(const std::string& key) const
    {
        for (const auto& member : members)
            if (member.first == key) return true;
        return false;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& source) : s_(source) {}

    JsonValue document()
    {
        JsonValue v = value();
        skip_space();
        if (at_ != s_.size()) fail("text after the document");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        throw std::runtime_error(what + " at offset " + std::to_string(at_));
    }
    void skip_space()
    {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\t' || s_[at_] == '\r')) ++at_;
    }
    bool take(char c)
    {
        skip_space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void expect(char c)
    {
        if (!take(c)) fail(std::string("expected ") + c);
    }
    bool take_word(const char* word)
    {
        const std::string w = word;
        if (s_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }

    JsonValue value()
    {
        skip_space();
        if (at_ >= s_.size()) fail("unexpected end");
        JsonValue v;
        const char c = s_[at_];
        if (c == '{') return object();
        if (c == '[') return array();
        if (c == '"') {
            v.kind = JsonValue::string;
            v.text = string();
        } else if (take_word("null")) {
        } else if (take_word("true")) {
            v.kind = JsonValue::boolean;
            v.flag = true;
        } else if (take_word("false")) {
            v.kind = JsonValue::boolean;
        } else {
            v.kind = JsonValue::number;
            v.value = number();
        }
        return v;
    }
    JsonValue object()
    {
        JsonValue v;
        v.kind = JsonValue::object;
        expect('{');
        if (take('}')) return v;
        do {
            skip_space();
            if (at_ >= s_.size() || s_[at_] != '"') fail("expected a key");
            std::string key = string();
            expect(':');
            v.members.emplace_back(key, value());
        } while (take(','));
        expect('}');
        return v;
    }
    JsonValue array()
    {
        JsonValue v;
        v.kind = JsonValue::array;
        expect('[');
        if (take(']')) return v;
        do v.items.push_back(value());
        while (take(','));
        expect(']');
        return v;
    }
    std::string string()
    {
        ++at_;  // the opening quote
        std::string out;
        while (at_ < s_.size() && s_[at_] != '"') {
            const char c = s_[at_++];
            if (static_cast<unsigned char>(c) < 0x20) fail("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) fail("unfinished escape");
            const char e = s_[at_++];
            if (e == 'u') {
                if (at_ + 4 > s_.size()) fail("short \\u escape");
                out += static_cast<char>(std::stoi(s_.substr(at_, 4), nullptr, 16));
                at_ += 4;
            } else if (e == 'n') {
                out += '\n';
            } else if (e == '"' || e == '\\' || e == '/') {
                out += e;
            } else {
                fail("unknown escape");
            }
        }
        if (at_ >= s_.size()) fail("unterminated string");
        ++at_;
        return out;
    }
    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    double number()
    {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (at_ < s_.size() && s_[at_] == '-') ++at_;
        const bool leading_zero = at_ < s_.size() && s_[at_] == '0';
        const std::size_t whole = digits();
        if (whole == 0 || (leading_zero && whole > 1)) fail("not a JSON value");
        if (at_ < s_.size() && s_[at_] == '.' && (++at_, digits() == 0)) fail("no digits after the point");
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
            if (digits() == 0) fail("no digits in the exponent");
        }
        return std::strtod(s_.substr(start, at_ - start).c_str(), nullptr);
    }

    const std::string& s_;
    std::size_t at_ = 0;
};

JsonValue described(const SongSounds& song) { return JsonReader(describe_sounds(song, true)).document(); }

double seconds(double frames) { return frames / 44100.0; }

// The reader the tests trust to reject what is not JSON.
TEST(SongSounds, JsonReaderRejectsWhatIsNotJson)
{
    for (const char* bad : {"nan", "inf", "-inf", "[1,]", "{\"a\" 1}", "01", "1.", "1e", "[1] 2", "\"a\nb\"",
                            "{\"a\": [}"}) {
        const std::string source = bad;
        EXPECT_THROW(JsonReader(source).document(), std::runtime_error) << bad;
    }
    const std::string good = "{\"a\": [-0.5, 2e+05, null, true, \"\\u0001\"]}";
    const JsonValue v = JsonReader(good).document();
    EXPECT_EQ(v["a"][1].value, 200000.0);
    EXPECT_EQ(v["a"][4].text, "\x01");
}

// --- Every section, every object, every key. ------------------------------

TEST(SongSounds, JsonIsWellFormedAndNamesEveryField)
{
    const JsonValue doc = described(SongSounds{});
    ASSERT_EQ(doc.kind, JsonValue::object);
    const struct {
        const char* section;
        std::size_t count;
        int first_number;
        std::vector<const char*> keys;
    } sections[] = {
        {"instruments", 14, 0,
         {"number", "name", "sample_1_l", "sample_1_r", "sample_2_l", "sample_2_r", "env_wav_length",
          "env_vol_type", "env_vol_length", "swp_type", "swp_length", "swp_target", "lfo_pitch",
          "lfo_intensity", "lfo_waveform", "lfo_length", "stereo_mix", "phase", "env_wav_seconds",
          "env_vol_kind", "env_vol_seconds", "silent", "sweep_direction", "sweep_step_frames", "lfo_rate_hz",
          "lfo_fade_step_frames", "lfo_full_amplitude", "lfo_fade_in_seconds", "stereo_mix_fraction",
          "pan_gains"}},
        {"channels", 8, 0, {"number", "name", "gain", "reverb", "delay", "gain_factor"}},
        {"delay_presets", 4, 1,
         {"number", "name", "time", "feedback", "floor", "start_side", "mix", "echo_spacing_seconds",
          "swap_period_seconds"}},
        {"reverb_presets", 4, 1,
         {"number", "name", "width", "dry", "wet", "damp", "roomsize", "verb_wet1", "verb_wet2", "verb_damp",
          "verb_roomsize"}},
        {"eq", 2, 0,
         {"number", "name", "lowpass_mix", "lowpass_cutoff", "highpass_mix", "highpass_cutoff",
          "lowpass_alpha", "highpass_alpha"}},
    };
    ASSERT_EQ(doc.members.size(), std::size(sections));
    for (const auto& section : sections) {
        const JsonValue& list = doc[section.section];
        ASSERT_EQ(list.kind, JsonValue::array) << section.section;
        ASSERT_EQ(list.items.size(), section.count) << section.section;
        for (std::size_t i = 0; i < section.count; ++i) {
            EXPECT_EQ(list[i]["number"].value, section.first_number + static_cast<double>(i));
            for (const char* key : section.keys) EXPECT_TRUE(list[i].has(key)) << section.section << " " << i << " " << key;
        }
    }
    EXPECT_EQ(doc["instruments"][2]["pan_gains"].items.size(), 5u);
}

TEST(SongSounds, RawFieldsAreTheTablesBytes)
{
    SongSounds song;
    const JsonValue doc = described(song);
    const JsonValue& i7 = doc["instruments"][7];
    EXPECT_EQ(i7["swp_target"].value, 72);
    EXPECT_EQ(i7["lfo_intensity"].value, 126);
    EXPECT_EQ(i7["stereo_mix"].value, 43);
    EXPECT_EQ(doc["delay_presets"][2]["time"].value, 255);  // preset 3
    EXPECT_EQ(doc["reverb_presets"][3]["damp"].value, 100);  // preset 4
    EXPECT_EQ(doc["channels"][4]["gain"].value, 140);
    EXPECT_EQ(doc["channels"][5]["reverb"].value, 4);
    EXPECT_EQ(doc["channels"][6]["delay"].value, 3);
    EXPECT_EQ(doc["eq"][0]["lowpass_cutoff"].value, 4800);
    EXPECT_EQ(static_cast<float>(doc["eq"][1]["highpass_mix"].value), 0.2f);
}

TEST(SongSounds, NamesAreEscapedAndMissingOnesAreNull)
{
    SongSounds song;
    song.instrument_names[3] = "bass \"deep\"\\ \x01";
    song.instrument_names[4].clear();
    song.channel_names[7] = "drums";
    song.channel_names[0].clear();
    const JsonValue doc = described(song);
    EXPECT_EQ(doc["instruments"][3]["name"].text, song.instrument_names[3]);
    EXPECT_EQ(doc["instruments"][4]["name"].kind, JsonValue::null);
    EXPECT_EQ(doc["channels"][7]["name"].text, "drums");
    EXPECT_EQ(doc["channels"][0]["name"].kind, JsonValue::null);
    EXPECT_EQ(doc["delay_presets"][0]["name"].kind, JsonValue::null);
}

TEST(SongSounds, NonFiniteValuesAreNull)
{
    SongSounds song;
    song.sounds.eq_data[1] = std::numeric_limits<float>::quiet_NaN();
    song.sounds.eq_data[3] = std::numeric_limits<float>::infinity();
    const JsonValue doc = described(song);
    const JsonValue& eq = doc["eq"][0];
    EXPECT_EQ(eq["lowpass_cutoff"].kind, JsonValue::null);
    EXPECT_EQ(eq["lowpass_alpha"].kind, JsonValue::null);
    EXPECT_EQ(eq["highpass_cutoff"].kind, JsonValue::null);
    EXPECT_EQ(eq["highpass_alpha"].value, 1.0);  // RC 0: the filter passes everything
}

// --- Instruments. -----------------------------------------------------------

TEST(SongSounds, EnvelopeLengthsInSeconds)
{
    SongSounds song;
    song.sounds.instrument_bank[4][INS_ENV_VOL_TYPE] = 2;
    song.sounds.instrument_bank[6][INS_ENV_VOL_LENGTH] = 0;
    const JsonValue doc = described(song);
    const JsonValue& ins = doc["instruments"];
    // Wave envelope x3 steps, volume envelope x6, a step every 201 frames.
    EXPECT_DOUBLE_EQ(ins[0]["env_wav_seconds"].value, seconds(10 * 3 * 201));
    EXPECT_DOUBLE_EQ(ins[13]["env_wav_seconds"].value, seconds(255 * 3 * 201));
    EXPECT_DOUBLE_EQ(ins[3]["env_vol_seconds"].value, seconds(200 * 6 * 201));
    EXPECT_EQ(ins[3]["env_vol_kind"].text, "decay");
    EXPECT_EQ(ins[12]["env_vol_kind"].text, "attack");
    EXPECT_FALSE(ins[3]["silent"].flag);
    EXPECT_EQ(ins[4]["env_vol_kind"].text, "none");
    EXPECT_TRUE(ins[4]["silent"].flag);
    EXPECT_TRUE(ins[6]["silent"].flag);  // length 0
}

TEST(SongSounds, LfoRateInHertz)
{
    const JsonValue doc = described(SongSounds{});
    const JsonValue& ins = doc["instruments"];
    // 131072 phase units make one cycle of the 256-entry window.
    EXPECT_DOUBLE_EQ(ins[5]["lfo_rate_hz"].value, 14 * 44100.0 / 131072.0);
    EXPECT_NEAR(ins[5]["lfo_rate_hz"].value, 4.71, 0.005);
    EXPECT_NEAR(ins[8]["lfo_rate_hz"].value, 67.3, 0.05);
    EXPECT_EQ(ins[0]["lfo_rate_hz"].value, 0.0);
}

// The fade-in of an armed LFO stepped frame by frame, as a render does.
uint64_t frames_until_amplitude_settles(const InstrumentRecord& record)
{
    Voice voice;
    configure_instrument(voice, record);
    voice.lfo.lfo_amplitude = 0;
    uint64_t frames = 0;
    while (voice.lfo.lfo_amplitude <= voice.lfo.lfo_intensity) {
        lfo_fade_step(voice.lfo);
        ++frames;
    }
    return frames;
}

TEST(SongSounds, LfoFadeInMatchesTheLfoStepped)
{
    SongSounds song;
    InstrumentRecord& slow = song.sounds.instrument_bank[2];  // lfo_length 120, intensity 1
    slow[INS_LFO_INTENSITY] = 3;
    song.sounds.instrument_bank[9][INS_LFO_INTENSITY] = 127;  // wraps, never settles
    song.sounds.instrument_bank[10][INS_LFO_INTENSITY] = 200;  // negative: never rises
    const JsonValue doc = described(song);
    const JsonValue& ins = doc["instruments"];

    // 1200 x 64 = 76800 does not fit the 16-bit counter: 11264, plus the
    // frame that raises the amplitude.
    EXPECT_EQ(ins[2]["lfo_fade_step_frames"].value, 11265);
    EXPECT_EQ(ins[2]["lfo_full_amplitude"].value, 4);
    EXPECT_EQ(ins[2]["lfo_fade_in_frames"].value, 2 + 3 * 11265);
    EXPECT_EQ(ins[2]["lfo_fade_in_frames"].value, static_cast<double>(frames_until_amplitude_settles(slow)));
    EXPECT_DOUBLE_EQ(ins[2]["lfo_fade_in_seconds"].value, seconds(2 + 3 * 11265));
    for (int i : {5, 12, 13})
        EXPECT_EQ(ins[i]["lfo_fade_in_frames"].value,
                  static_cast<double>(frames_until_amplitude_settles(song.sounds.instrument_bank[i])))
            << "instrument " << i;

    EXPECT_EQ(ins[9]["lfo_fade_in_frames"].kind, JsonValue::null);
    EXPECT_EQ(ins[9]["lfo_full_amplitude"].kind, JsonValue::null);
    EXPECT_EQ(ins[10]["lfo_full_amplitude"].value, 0);
    EXPECT_EQ(ins[10]["lfo_fade_in_frames"].value, 0);
}

TEST(SongSounds, SweepStepMatchesTheSweepStepped)
{
    const JsonValue doc = described(SongSounds{});
    const JsonValue& ins = doc["instruments"];
    const InstrumentRecord& siren = default_sounds.instrument_bank[7];  // type 3, length 15
    EXPECT_EQ(ins[7]["sweep_step_frames"].value, 15 * 4 + 1);
    EXPECT_EQ(ins[7]["sweep_direction"].text, "down");
    EXPECT_TRUE(ins[7]["sweep_through_ties"].flag);
    EXPECT_EQ(ins[0]["sweep_direction"].text, "up");
    EXPECT_FALSE(ins[0]["sweep_through_ties"].flag);
    EXPECT_EQ(ins[1]["sweep_direction"].text, "none");

    Voice voice;
    configure_instrument(voice, siren);
    voice.osc.osc_pitch = 1000;
    voice.osc.osc_target_pitch = 990;
    swp_step(voice.swp, voice.osc);  // the tick the note-on leaves
    swp_step(voice.swp, voice.osc);  // the first unit
    ASSERT_EQ(voice.osc.osc_pitch, 999);
    int frames = 0;
    while (voice.osc.osc_pitch == 999) {
        swp_step(voice.swp, voice.osc);
        ++frames;
    }
    EXPECT_EQ(ins[7]["sweep_step_frames"].value, frames);
    EXPECT_DOUBLE_EQ(ins[7]["sweep_units_per_second"].value, 44100.0 / 61);
}

TEST(SongSounds, PanGainsAndStereoMix)
{
    const JsonValue doc = described(SongSounds{});
    const JsonValue& ins = doc["instruments"];
    const JsonValue& centre = ins[0]["pan_gains"][2];
    EXPECT_EQ(centre["panning"].value, 0);
    // The pan law's angle constant 1.57 leaves the centre a little left.
    EXPECT_EQ(static_cast<float>(centre["left"].value), 0.7073882f);
    EXPECT_EQ(static_cast<float>(centre["right"].value), 0.7068252f);
    const JsonValue& hard_left = ins[0]["pan_gains"][0];
    EXPECT_EQ(hard_left["panning"].value, -100);
    EXPECT_EQ(hard_left["left"].value, 1.0);
    // Stereo mix 0.4 feeds 0.4 of the left side into the right.
    EXPECT_EQ(static_cast<float>(ins[0]["stereo_mix_fraction"].value), 0.4f);
    EXPECT_NEAR(hard_left["heard_left"].value, 0.6, 1e-6);
    EXPECT_NEAR(hard_left["heard_right"].value, 0.4, 1e-6);
}

// --- Channels and effects. ---------------------------------------------------

// The first frame after the impulse that the delay makes sound, for a
// silent input with a left impulse at frame 1 (frame 0 is never echoed).
uint32_t first_echo_frame(const uint8_t* row)
{
    const uint32_t frames = 3 * 100u * row[0];
    std::vector<float> buffer(2 * frames, 0.0f);
    buffer[2] = 1.0f;
    DelayRun run;
    Fault fault;
    EXPECT_TRUE(delay_start(run, 100u * row[0], row[3], row[1] / 100.0f, row[2] / 100.0f, row[4] / 100.0f, fault));
    delay_block(run, buffer.data(), 2 * frames);
    delay_finish(run);
    for (uint32_t f = 2; f < frames; ++f)
        if (buffer[2 * f] != 0.0f) return f;
    return 0;
}

TEST(SongSounds, DelayEchoSpacingAndSwapPeriod)
{
    SongSounds song;
    song.sounds.delay_bank[2][0] = 0;
    const JsonValue doc = described(song);
    const JsonValue& presets = doc["delay_presets"];
    // D = 100 x time; an echo comes back D - 1 frames later.
    const JsonValue& p1 = presets[0];
    EXPECT_EQ(p1["echo_spacing_frames"].value, 13999);
    EXPECT_DOUBLE_EQ(p1["echo_spacing_seconds"].value, seconds(13999));
    EXPECT_EQ(p1["swap_period_frames"].value, 14002);
    EXPECT_DOUBLE_EQ(p1["swap_period_seconds"].value, seconds(14002));
    EXPECT_EQ(p1["first_falling_side"].text, "left");
    EXPECT_EQ(1 + p1["echo_spacing_frames"].value, first_echo_frame(default_sounds.delay_bank[1]));
    EXPECT_EQ(1 + presets[3]["echo_spacing_frames"].value, first_echo_frame(default_sounds.delay_bank[4]));
    EXPECT_EQ(presets[3]["swap_period_frames"].value, 25502);
    EXPECT_EQ(static_cast<float>(p1["feedback_fraction"].value), 0.99f);
    // A time of 0 has no line: no echo, no swaps.
    EXPECT_EQ(presets[1]["echo_spacing_seconds"].kind, JsonValue::null);
    EXPECT_EQ(presets[1]["swap_period_seconds"].kind, JsonValue::null);
}

TEST(SongSounds, ReverbParametersAsTheReverbSetsThem)
{
    SongSounds song;
    song.sounds.reverb_bank[2][0] = 100;  // preset 2, width 1: no cross-feed
    const JsonValue doc = described(song);
    const JsonValue& presets = doc["reverb_presets"];
    // width 1.5, wet 0.15: wet1 = (0.5 + 0.75) x 0.15, wet2 = (1 - 1.5) / 2 x 0.15.
    const JsonValue& p1 = presets[0];
    EXPECT_EQ(static_cast<float>(p1["verb_wet1"].value), 0.1875f);
    EXPECT_EQ(static_cast<float>(p1["verb_wet2"].value), -0.0375f);
    EXPECT_EQ(static_cast<float>(p1["verb_damp"].value), 0.04f);      // 0.1 x 0.4
    EXPECT_EQ(static_cast<float>(p1["verb_roomsize"].value), 0.728f);  // 0.7 + 0.1 x 0.28
    EXPECT_EQ(presets[1]["verb_wet2"].value, 0.0);
    EXPECT_EQ(static_cast<float>(presets[3]["verb_wet1"].value), 0.6f);
    EXPECT_EQ(static_cast<float>(presets[3]["verb_damp"].value), 0.4f);
    EXPECT_EQ(static_cast<float>(presets[3]["verb_roomsize"].value), 0.924f);
    EXPECT_EQ(p1["verb_dry"].value, 1.0);
}

TEST(SongSounds, EqualiserCoefficients)
{
    const JsonValue doc = described(SongSounds{});
    const JsonValue& eq = doc["eq"];
    // alpha = dt / (RC + dt) with RC = 1 / (2 pi f), pi taken as 3.14 and
    // dt = 1/44100: for 4800 Hz, 30144 / (30144 + 44100) worked in double.
    // The single-precision formula rounds RC, dt, their sum and the quotient,
    // each within half an ulp (2^-24 relative), so it lies within 4 x 2^-24
    // of the exact value; taking the true pi instead would move it by 1e-4.
    const double exact = 30144.0 / (30144.0 + 44100.0);
    EXPECT_NEAR(eq[0]["lowpass_alpha"].value, exact, 4 * exact * std::ldexp(1.0, -24));
    EXPECT_NEAR(eq[0]["highpass_alpha"].value, 0.9661, 5e-5);
    EXPECT_NEAR(eq[1]["highpass_alpha"].value, 0.2217, 5e-5);
    EXPECT_EQ(eq[1]["lowpass_alpha"].value, 0.0);  // cutoff 0
}

TEST(SongSounds, ChannelsGainAndPresets)
{
    SongSounds song;
    song.channel_names[4] = "bass";
    song.sounds.channel_gain[2] = 0;
    const JsonValue doc = described(song);
    const JsonValue& channels = doc["channels"];
    EXPECT_EQ(channels[4]["name"].text, "bass");
    EXPECT_EQ(channels[4]["reverb"].value, 0);
    EXPECT_EQ(static_cast<float>(channels[0]["gain_factor"].value), 1.1f);
    EXPECT_EQ(channels[2]["gain_factor"].value, 0.0);
    EXPECT_EQ(channels[7]["reverb"].value, 1);
    EXPECT_EQ(channels[7]["delay"].value, 0);
}

// --- The text form. ------------------------------------------------------------

TEST(SongSounds, TextShowsEveryFieldWithItsMeaning)
{
    SongSounds song;
    song.instrument_names[0] = "plucked";
    const std::string text = describe_sounds(song, false);
    for (const char* field : {"sample_1_l", "env_wav_length", "swp_target", "lfo_length", "stereo_mix", "phase"}) {
        std::size_t count = 0;
        for (std::size_t at = text.find("  " + std::string(field) + " "); at != std::string::npos;
             at = text.find("  " + std::string(field) + " ", at + 1))
            ++count;
        EXPECT_EQ(count, 14u) << field;
    }
    EXPECT_NE(text.find("instrument 0 plucked\n"), std::string::npos);
    EXPECT_NE(text.find("instrument 13 drone\n"), std::string::npos);  // named by the defaults file
    EXPECT_NE(text.find("over 30 envelope steps, 0.137 s"), std::string::npos);
    EXPECT_NE(text.find("LFO at 4.710 Hz"), std::string::npos);
    EXPECT_NE(text.find("echoes 13999 frames (0.3174 s) apart"), std::string::npos);
    EXPECT_NE(text.find("sides swap every 25502 frames (0.5783 s)"), std::string::npos);
    EXPECT_NE(text.find("verb_wet2"), std::string::npos);
    EXPECT_NE(text.find("alpha 0.4060126"), std::string::npos);
    EXPECT_EQ(text.find("reverb_preset 0"), std::string::npos);
    EXPECT_NE(text.find("reverb_preset 4"), std::string::npos);
    EXPECT_NE(text.find("eq 1"), std::string::npos);
}

}  // namespace
