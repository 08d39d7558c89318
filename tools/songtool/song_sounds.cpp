#include "song_sounds.h"

#include "song_findings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "base/timeline.h"
#include "driver/render.h"
#include "fx/filter.h"
#include "sound_fields.h"
#include "fx/reverb.h"
#include "voice/voice.h"

namespace {

// ---------------------------------------------------------------------------
// Units of time and pitch.

constexpr uint32_t ENVELOPE_STEP_FRAMES = ENVELOPE_CLOCK_RELOAD + 1u;
// One cycle of a 256-entry table: its index is bits 9..16 of the phase.
constexpr double TABLE_CYCLE_UNITS = 131072.0;
// Where the pan law is shown: both edges, the centre and half way.
constexpr int8_t SHOWN_PANNINGS[] = {-100, -50, 0, 50, 100};
constexpr int PANNING_COUNT = sizeof SHOWN_PANNINGS / sizeof SHOWN_PANNINGS[0];

double seconds(uint64_t frames) { return static_cast<double>(frames) / SAMPLE_RATE; }

// A percentage byte as the mixdown hands it to the effects.
float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }

// ---------------------------------------------------------------------------
// What an instrument does, worked out from the fields a note loads.

struct Fade {
    int amplitude;                  // where the amplitude settles
    std::optional<uint64_t> frames;  // from the note-on until it settles; none: it never does
};

// The LFO's fade-in after an untied note, walked with the LFO's own steps:
// each quiet stretch at once, then the step that raises the amplitude.
// A negative intensity never lets it rise; an intensity of 127 lets it wrap
// and climb forever, which shows as more raises than the amplitude has values.
Fade lfo_fade_in(Lfo lfo)
{
    lfo.lfo_amplitude = 0;
    uint64_t frames = 0;
    for (int raises = 0; raises <= 256; ++raises) {
        if (lfo.lfo_amplitude > lfo.lfo_intensity) return {lfo.lfo_amplitude, frames};
        const uint32_t quiet = lfo_fade_quiet_frames(lfo);
        lfo_fade_skip(lfo, quiet);
        lfo_fade_step(lfo);
        frames += quiet + 1u;
    }
    return {lfo.lfo_amplitude, std::nullopt};
}

struct HeardGains {
    PanGains pan;       // the pan law alone
    float left, right;  // after the stereo cross-feed, one wave on both sides
};

HeardGains heard_gains(int8_t panning, float stereo_mix)
{
    const PanGains pan = osc_pan_gains(panning);
    const double s = stereo_mix;
    return {pan, static_cast<float>((1.0 - s) * pan.left + s * pan.right),
            static_cast<float>((1.0 - s) * pan.right + s * pan.left)};
}

const char* volume_envelope_kind(uint8_t type)
{
    if (type == 0) return "decay";
    if (type == 1) return "attack";
    return "none";
}

const char* sweep_direction(uint8_t type)
{
    if (type == 1 || type == 3) return "down";
    if (type == 2 || type == 4) return "up";
    return "none";
}

struct InstrumentFigures {
    Voice voice;  // the instrument as a note loads it
    const char* env_vol_kind;
    bool silent;  // a volume envelope that never sounds
    bool sweeps;
    const char* sweep_direction;
    bool sweep_through_ties;  // a tied note leaves a running glide alone
    uint32_t sweep_step_frames;
    uint32_t lfo_fade_step_frames;
    Fade fade;
    HeardGains pan[PANNING_COUNT];
};

std::unique_ptr<InstrumentFigures> instrument_figures(const InstrumentRecord& record)
{
    auto f = std::make_unique<InstrumentFigures>();
    configure_instrument(f->voice, record);
    const Envelope& env = f->voice.env;
    const Sweep& swp = f->voice.swp;
    f->env_vol_kind = volume_envelope_kind(env.env_vol_type);
    f->silent = env.env_vol_type > 1 || env.env_vol_length == 0;
    f->sweeps = swp.swp_type >= 1 && swp.swp_type <= 4;
    f->sweep_direction = sweep_direction(swp.swp_type);
    f->sweep_through_ties = swp.swp_type == 3 || swp.swp_type == 4;
    f->sweep_step_frames = swp.swp_length * 4u + 1u;
    f->lfo_fade_step_frames = static_cast<uint16_t>(f->voice.lfo.lfo_length * 64u) + 1u;
    f->fade = lfo_fade_in(f->voice.lfo);
    for (int p = 0; p < PANNING_COUNT; ++p)
        f->pan[p] = heard_gains(SHOWN_PANNINGS[p], f->voice.osc.osc_stereo_mix);
    return f;
}

// The LFO's 256 entries start 4 per waveform unit into the wave bank; a
// negative waveform reads from the bank's start.
int lfo_window_start(const Lfo& lfo) { return lfo.lfo_waveform > 0 ? 4 * lfo.lfo_waveform : 0; }

double lfo_rate_hz(const Lfo& lfo) { return lfo.lfo_pitch * SAMPLE_RATE / TABLE_CYCLE_UNITS; }

// ---------------------------------------------------------------------------
// What a delay preset does: the echo of a frame comes back D - 1 frames
// later (half the line's look-back, half its length), and the sides swap
// roles every D + 2 frames. A time of 0 gives no line at all.

struct DelayFigures {
    uint32_t delay_frames;  // D
    std::optional<uint32_t> echo_spacing_frames, swap_period_frames;
    const char* first_falling_side;
};

DelayFigures delay_figures(const uint8_t* row)
{
    const uint32_t d = 100u * row[0];
    const char* falling = row[3] == 0 ? "right" : row[3] == 1 ? "left" : "neither";
    if (d / 2 == 0) return {d, std::nullopt, std::nullopt, falling};
    return {d, d - 1, d + 2, falling};
}

// ---------------------------------------------------------------------------
// Text and JSON output.

// Shortest decimals that read back as the same value.
template <typename Real>
std::string shortest(Real value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return std::to_string(value);
    return std::string(buffer, result.ptr);
}

std::string printed(const char* format, double value)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// A JSON document written as it goes: values, and objects and lists that
// open and close, each element on its own indented line.
class JsonWriter {
public:
    std::string take() { return std::move(out_) + "\n"; }

    void open(char bracket) { begin_value(); out_ += bracket; counts_.push_back(0); }
    void close(char bracket)
    {
        const bool empty = counts_.back() == 0;
        counts_.pop_back();
        if (!empty) new_line();
        out_ += bracket;
    }
    JsonWriter& key(std::string_view name)
    {
        begin_value();
        string_literal(name);
        out_ += ": ";
        keyed_ = true;
        return *this;
    }
    void integer(long long value) { begin_value(); out_ += std::to_string(value); }
    void boolean(bool value) { begin_value(); out_ += value ? "true" : "false"; }
    void null() { begin_value(); out_ += "null"; }
    template <typename Real>
    void real(Real value)
    {
        if (!std::isfinite(value)) return null();
        begin_value();
        out_ += shortest(value);
    }
    void text(const std::string& value) { begin_value(); string_literal(value); }
    void name_or_null(const std::string& value) { value.empty() ? null() : text(value); }
    void frames_or_null(std::optional<uint64_t> value)
    {
        value ? integer(static_cast<long long>(*value)) : null();
    }
    void seconds_or_null(std::optional<uint64_t> frames) { frames ? real(seconds(*frames)) : null(); }

private:
    // A separator and a fresh line before each element, none after a key.
    void begin_value()
    {
        if (keyed_) {
            keyed_ = false;
            return;
        }
        if (counts_.empty()) return;
        if (counts_.back()++ != 0) out_ += ',';
        new_line();
    }
    void new_line() { out_ += '\n' + std::string(2 * counts_.size(), ' '); }
    void string_literal(std::string_view value) { out_ += json_string(std::string(value)); }

    std::string out_;
    std::vector<int> counts_;  // elements so far in each open object or list
    bool keyed_ = false;
};

void json_raw_bytes(JsonWriter& json, const std::string_view* names, const uint8_t* row, int count)
{
    for (int i = 0; i < count; ++i) json.key(names[i]).integer(row[i]);
}

void json_instrument(JsonWriter& json, int number, const std::string& name, const InstrumentRecord& record)
{
    const auto f = instrument_figures(record);
    const Voice& v = f->voice;
    json.open('{');
    json.key("number").integer(number);
    json.key("name").name_or_null(name);
    json_raw_bytes(json, INSTRUMENT_FIELDS, record, INSTRUMENT_SIZE);
    json.key("env_wav_steps").integer(v.env.env_wav_length);
    json.key("env_wav_seconds").real(seconds(uint64_t{v.env.env_wav_length} * ENVELOPE_STEP_FRAMES));
    json.key("env_vol_kind").text(f->env_vol_kind);
    json.key("env_vol_steps").integer(v.env.env_vol_length);
    json.key("env_vol_seconds").real(seconds(uint64_t{v.env.env_vol_length} * ENVELOPE_STEP_FRAMES));
    json.key("silent").boolean(f->silent);
    json.key("sweep_direction").text(f->sweep_direction);
    json.key("sweep_through_ties").boolean(f->sweep_through_ties);
    json.key("sweep_step_frames").integer(f->sweep_step_frames);
    json.key("sweep_units_per_second").real(SAMPLE_RATE / static_cast<double>(f->sweep_step_frames));
    json.key("lfo_rate_hz").real(lfo_rate_hz(v.lfo));
    json.key("lfo_fade_step_frames").integer(f->lfo_fade_step_frames);
    json.key("lfo_window_start").integer(lfo_window_start(v.lfo));
    if (f->fade.frames) json.key("lfo_full_amplitude").integer(f->fade.amplitude);
    else json.key("lfo_full_amplitude").null();
    json.key("lfo_fade_in_frames").frames_or_null(f->fade.frames);
    json.key("lfo_fade_in_seconds").seconds_or_null(f->fade.frames);
    json.key("stereo_mix_fraction").real(v.osc.osc_stereo_mix);
    json.key("phase_cycles").real(v.osc.osc_phase / 256.0);
    json.key("pan_gains").open('[');
    for (int p = 0; p < PANNING_COUNT; ++p) {
        const HeardGains& g = f->pan[p];
        json.open('{');
        json.key("panning").integer(SHOWN_PANNINGS[p]);
        json.key("left").real(g.pan.left);
        json.key("right").real(g.pan.right);
        json.key("heard_left").real(g.left);
        json.key("heard_right").real(g.right);
        json.close('}');
    }
    json.close(']');
    json.close('}');
}

void json_channel(JsonWriter& json, const SongSounds& song, int k)
{
    const Sounds& s = song.sounds;
    json.open('{');
    json.key("number").integer(k);
    json.key("name").name_or_null(song.channel_names[k]);
    json.key("gain").integer(s.channel_gain[k]);
    json.key("reverb").integer(s.channel_fx[k][0]);
    json.key("delay").integer(s.channel_fx[k][1]);
    json.key("gain_factor").real(percent(s.channel_gain[k]));
    json.close('}');
}

void json_delay(JsonWriter& json, int p, const uint8_t* row)
{
    const DelayFigures f = delay_figures(row);
    json.open('{');
    json.key("number").integer(p);
    json.key("name").null();
    json_raw_bytes(json, DELAY_FIELDS, row, 5);
    json.key("delay_frames").integer(f.delay_frames);
    json.key("echo_spacing_frames").frames_or_null(f.echo_spacing_frames);
    json.key("echo_spacing_seconds").seconds_or_null(f.echo_spacing_frames);
    json.key("swap_period_frames").frames_or_null(f.swap_period_frames);
    json.key("swap_period_seconds").seconds_or_null(f.swap_period_frames);
    json.key("feedback_fraction").real(percent(row[1]));
    json.key("floor_fraction").real(percent(row[2]));
    json.key("mix_fraction").real(percent(row[4]));
    json.key("first_falling_side").text(f.first_falling_side);
    json.close('}');
}

// The reverb's working parameters for a preset, set by the reverb itself.
std::unique_ptr<Reverb> reverb_for(const uint8_t* row)
{
    auto reverb = std::make_unique<Reverb>();
    reverb_start(*reverb, percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
    return reverb;
}

void json_reverb(JsonWriter& json, int p, const uint8_t* row)
{
    const auto r = reverb_for(row);
    json.open('{');
    json.key("number").integer(p);
    json.key("name").null();
    json_raw_bytes(json, REVERB_FIELDS, row, 5);
    json.key("verb_dry").real(r->verb_dry);
    json.key("verb_wet1").real(r->verb_wet1);
    json.key("verb_wet2").real(r->verb_wet2);
    json.key("verb_damp").real(r->verb_damp);
    json.key("verb_roomsize").real(r->verb_roomsize);
    json.close('}');
}

void json_eq(JsonWriter& json, int record, const float* row)
{
    json.open('{');
    json.key("number").integer(record);
    json.key("name").null();
    for (int i = 0; i < 4; ++i) json.key(EQ_FIELDS[i]).real(row[i]);
    json.key("lowpass_alpha").real(filter_alpha(row[1]));
    json.key("highpass_alpha").real(filter_alpha(row[3]));
    json.close('}');
}

std::string sounds_json(const SongSounds& song)
{
    const Sounds& s = song.sounds;
    JsonWriter json;
    json.open('{');
    json.key("instruments").open('[');
    for (int i = 0; i < INSTRUMENT_COUNT; ++i)
        json_instrument(json, i, song.instrument_names[i], s.instrument_bank[i]);
    json.close(']');
    json.key("channels").open('[');
    for (int k = 0; k < CHANNEL_COUNT; ++k) json_channel(json, song, k);
    json.close(']');
    json.key("delay_presets").open('[');
    for (int p = 1; p < FX_PRESET_COUNT; ++p) json_delay(json, p, s.delay_bank[p]);
    json.close(']');
    json.key("reverb_presets").open('[');
    for (int p = 1; p < FX_PRESET_COUNT; ++p) json_reverb(json, p, s.reverb_bank[p]);
    json.close(']');
    json.key("eq").open('[');
    for (int r = 0; r < EQ_RECORD_COUNT; ++r) json_eq(json, r, &s.eq_data[4 * r]);
    json.close(']');
    json.close('}');
    return json.take();
}

// Text: one block per section; within a block one line per field, its name,
// its value and what it means.

std::string field_line(std::string_view name, const std::string& value, const std::string& meaning)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "  %-15.*s %10s", static_cast<int>(name.size()), name.data(), value.c_str());
    return std::string(buffer) + (meaning.empty() ? "" : "  " + meaning) + "\n";
}

std::string heading(const char* kind, int number, const std::string& name)
{
    return std::string(kind) + " " + std::to_string(number) + (name.empty() ? "" : " " + name) + "\n";
}

std::string counted(uint64_t count, const char* unit)
{
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

std::string steps_and_seconds(uint32_t steps)
{
    return counted(steps, "envelope step") + ", " +
           printed("%.3f s", seconds(uint64_t{steps} * ENVELOPE_STEP_FRAMES));
}

std::string wave_envelope_meaning(const Envelope& env)
{
    if (env.env_wav_length == 0) return "the second waves sound at once";
    return "morphs to the second waves over " + steps_and_seconds(env.env_wav_length);
}

std::string volume_envelope_meaning(const Envelope& env)
{
    if (env.env_vol_type > 1) return "silent: no volume envelope";
    if (env.env_vol_length == 0) return "silent: a volume envelope of length 0";
    const char* way = env.env_vol_type == 0 ? "falls to 0" : "rises to the note's volume";
    return std::string(way) + " over " + steps_and_seconds(env.env_vol_length);
}

std::string sweep_meaning(const InstrumentFigures& f)
{
    if (!f.sweeps) return "no sweep";
    return std::string("glides ") + f.sweep_direction + (f.sweep_through_ties ? ", on through tied notes" : "");
}

std::string sweep_step_meaning(const InstrumentFigures& f)
{
    return "one pitch unit every " + counted(f.sweep_step_frames, "frame") + " (" +
           printed("%.1f units/s)", SAMPLE_RATE / static_cast<double>(f.sweep_step_frames));
}

std::string sweep_target_meaning(const Sweep& swp)
{
    const std::string semitones = counted(swp.swp_target, "semitone");
    if (swp.swp_type == 1 || swp.swp_type == 3) return "from the note to " + semitones + " below it";
    if (swp.swp_type == 2 || swp.swp_type == 4) return "from " + semitones + " below up to the note";
    return semitones + ", unused without a sweep";
}

std::string fade_meaning(const Fade& fade)
{
    if (!fade.frames) return "the amplitude wraps past 127 and never settles";
    if (fade.amplitude == 0) return "negative: the LFO never fades in";
    return "amplitude settles at " + std::to_string(fade.amplitude) + " after " + counted(*fade.frames, "frame") +
           printed(" (%.4f s)", seconds(*fade.frames));
}

std::string pan_row(const char* label, const double (&values)[PANNING_COUNT])
{
    std::string line = std::string("    ") + label;
    line.resize(16, ' ');
    for (double value : values) line += printed(" %8.4f", value);
    return line + "\n";
}

std::string pan_table(const HeardGains (&pan)[PANNING_COUNT])
{
    double rows[4][PANNING_COUNT];
    for (int p = 0; p < PANNING_COUNT; ++p) {
        rows[0][p] = pan[p].pan.left;
        rows[1][p] = pan[p].pan.right;
        rows[2][p] = pan[p].left;
        rows[3][p] = pan[p].right;
    }
    std::string text = "  pan law at";
    text.resize(16, ' ');
    for (int8_t p : SHOWN_PANNINGS) text += printed(" %8.0f", p);
    text += "\n" + pan_row("left gain", rows[0]) + pan_row("right gain", rows[1]) +
            pan_row("heard left", rows[2]) + pan_row("heard right", rows[3]);
    return text + "    (heard: after the stereo mix, the same wave on both sides)\n";
}

std::string text_instrument(int number, const std::string& name, const InstrumentRecord& record)
{
    const auto f = instrument_figures(record);
    const Voice& v = f->voice;
    const char* wave_roles[4] = {"first wave, left", "first wave, right", "second wave, left",
                                 "second wave, right"};
    std::string text = heading("instrument", number, name);
    for (int i = 0; i < 4; ++i) text += field_line(INSTRUMENT_FIELDS[i], std::to_string(record[i]), wave_roles[i]);
    const auto line = [&](int field, const std::string& meaning) {
        text += field_line(INSTRUMENT_FIELDS[field], std::to_string(record[field]), meaning);
    };
    line(INS_ENV_WAV_LENGTH, wave_envelope_meaning(v.env));
    line(INS_ENV_VOL_TYPE, f->env_vol_kind);
    line(INS_ENV_VOL_LENGTH, volume_envelope_meaning(v.env));
    line(INS_SWP_TYPE, sweep_meaning(*f));
    line(INS_SWP_LENGTH, sweep_step_meaning(*f));
    line(INS_SWP_TARGET, sweep_target_meaning(v.swp));
    line(INS_LFO_PITCH, printed("LFO at %.3f Hz", lfo_rate_hz(v.lfo)));
    line(INS_LFO_INTENSITY, fade_meaning(f->fade));
    line(INS_LFO_WAVEFORM, "reads the wave bank from entry " + std::to_string(lfo_window_start(v.lfo)));
    line(INS_LFO_LENGTH, "fade-in: amplitude up by 1 every " + counted(f->lfo_fade_step_frames, "frame"));
    line(INS_STEREO_MIX, "cross-feed " + shortest(v.osc.osc_stereo_mix) + " of each side into the other");
    line(INS_PHASE, "right second wave turned " + std::to_string(record[INS_PHASE]) + "/256 of a cycle");
    return text + pan_table(f->pan);
}

std::string text_channels(const SongSounds& song)
{
    const Sounds& s = song.sounds;
    std::string text = "channels\n  channel name             gain  reverb  delay\n";
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "  %7d %-16s %4u%%  %6u  %5u\n", k, song.channel_names[k].c_str(),
                      s.channel_gain[k], s.channel_fx[k][0], s.channel_fx[k][1]);
        text += buffer;
    }
    return text + "  (preset 0: off; a channel's delay runs before its reverb)\n";
}

std::string frames_and_seconds(uint32_t frames)
{
    return counted(frames, "frame") + printed(" (%.4f s)", seconds(frames));
}

std::string text_delay(int p, const uint8_t* row)
{
    const DelayFigures f = delay_figures(row);
    const auto fraction = [&](int field) { return shortest(percent(row[field])); };
    const auto byte = [&](int field) { return std::to_string(row[field]); };
    const std::string echo = f.echo_spacing_frames
                                 ? "echoes " + frames_and_seconds(*f.echo_spacing_frames) + " apart"
                                 : std::string("no echo: the line needs a time of at least 1");
    std::string text = heading("delay_preset", p, "");
    text += field_line("time", byte(0), "D = " + std::to_string(f.delay_frames) + " frames; " + echo);
    text += field_line("feedback", byte(1), fraction(1) + " of each echo comes back");
    text += field_line("floor", byte(2), "a falling side sinks to " + fraction(2));
    text += field_line("start_side", byte(3), std::string(f.first_falling_side) + " side falls at the first swap");
    text += field_line("mix", byte(4), fraction(4) + " of the echoed signal in the result");
    if (f.swap_period_frames) text += "  sides swap every " + frames_and_seconds(*f.swap_period_frames) + "\n";
    return text;
}

std::string text_reverb(int p, const uint8_t* row)
{
    const auto r = reverb_for(row);
    std::string text = heading("reverb_preset", p, "");
    for (int i = 0; i < 5; ++i)
        text += field_line(REVERB_FIELDS[i], std::to_string(row[i]), "percent: " + shortest(percent(row[i])));
    text += field_line("verb_dry", shortest(r->verb_dry), "dry level");
    text += field_line("verb_wet1", shortest(r->verb_wet1), "each side's reverb into itself");
    text += field_line("verb_wet2", shortest(r->verb_wet2), "each side's reverb into the other");
    text += field_line("verb_damp", shortest(r->verb_damp), "damping of the combs");
    text += field_line("verb_roomsize", shortest(r->verb_roomsize), "comb feedback (room size)");
    return text;
}

std::string text_eq(int record, const float* row)
{
    std::string text = heading("eq", record, "");
    text += field_line("lowpass_mix", shortest(row[0]), "share of the low-passed signal");
    text += field_line("lowpass_cutoff", shortest(row[1]), "Hz, alpha " + shortest(filter_alpha(row[1])));
    text += field_line("highpass_mix", shortest(row[2]), "share of the high-passed signal");
    text += field_line("highpass_cutoff", shortest(row[3]), "Hz, alpha " + shortest(filter_alpha(row[3])));
    return text + "  (the pair runs three times, low-pass first)\n";
}

std::string sounds_text(const SongSounds& song)
{
    const Sounds& s = song.sounds;
    std::string text;
    for (int i = 0; i < INSTRUMENT_COUNT; ++i)
        text += text_instrument(i, song.instrument_names[i], s.instrument_bank[i]) + "\n";
    text += text_channels(song) + "\n";
    for (int p = 1; p < FX_PRESET_COUNT; ++p) text += text_delay(p, s.delay_bank[p]) + "\n";
    for (int p = 1; p < FX_PRESET_COUNT; ++p) text += text_reverb(p, s.reverb_bank[p]) + "\n";
    for (int r = 0; r < EQ_RECORD_COUNT; ++r)
        text += text_eq(r, &s.eq_data[4 * r]) + (r + 1 < EQ_RECORD_COUNT ? "\n" : "");
    return text;
}

}  // namespace

std::string describe_sounds(const SongSounds& song, bool json)
{
    return json ? sounds_json(song) : sounds_text(song);
}
