#include "song_render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "command_line.h"
#include "data/tables.h"
#include "driver/playback.h"
#include "fx/mixdown.h"
#include "output/wave.h"
#include "render_progress.h"

namespace {

constexpr const char* PROGRAM = "songtool";

// "0,3" -> channels 0 and 3.
bool parse_channels(const std::string& option, const std::string& text, bool (&chosen)[CHANNEL_COUNT],
                    std::string& error)
{
    size_t from = 0;
    while (true) {
        const size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (item.size() != 1 || item[0] < '0' || item[0] >= '0' + CHANNEL_COUNT) {
            error = option + ": '" + item + "' is not a channel 0 to 7 (write them as 0,3)";
            return false;
        }
        if (chosen[item[0] - '0']) return error = option + ": channel " + item + " given twice", false;
        chosen[item[0] - '0'] = true;
        if (comma == std::string::npos) return true;
        from = comma + 1;
    }
}

const std::string LENGTH_LIMIT = "a whole number of frames from 1 to " + std::to_string(SONG_FRAMES) +
                                 " (the song's 130 s)";

bool parse_frames(const std::string& text, uint32_t& frames, std::string& error)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = text.empty() || text[0] == '-' ? 0 : std::strtoull(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || errno != 0 || n < 1 || n > SONG_FRAMES) {
        error = "--frames: '" + text + "' is not " + LENGTH_LIMIT;
        return false;
    }
    frames = static_cast<uint32_t>(n);
    return true;
}

// Seconds to whole frames, rounded down; at least one frame.
bool parse_seconds(const std::string& text, uint32_t& frames, std::string& error)
{
    char* end = nullptr;
    const double s = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    const double limit = static_cast<double>(SONG_FRAMES) / SAMPLE_RATE;
    if (end == nullptr || *end != '\0' || !std::isfinite(s) || s * SAMPLE_RATE < 1.0 || s > limit) {
        error = "--seconds: '" + text + "' is not a time from 1/44100 to 130 seconds";
        return false;
    }
    frames = static_cast<uint32_t>(s * SAMPLE_RATE);
    return true;
}

// Only digits, from 1 to `most` of them.
bool read_digits(const std::string& text, size_t most, uint64_t& value)
{
    if (text.empty() || text.size() > most) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// "M:SS" or "M:SS.fff" to the frame at that time, rounded down; worked in
// whole numbers, so that "0:01.5" is frame 66150 exactly.
bool parse_time(const std::string& text, uint64_t& frame)
{
    const size_t colon = text.find(':');
    const size_t dot = text.find('.', colon);
    const std::string whole = text.substr(colon + 1, dot == std::string::npos ? dot : dot - colon - 1);
    uint64_t minutes = 0, seconds = 0, fraction = 0, fraction_scale = 1;
    if (!read_digits(text.substr(0, colon), 4, minutes) || whole.size() != 2 || !read_digits(whole, 2, seconds) ||
        seconds >= 60)
        return false;
    if (dot != std::string::npos) {
        const std::string digits = text.substr(dot + 1);
        if (!read_digits(digits, 9, fraction)) return false;
        for (size_t i = 0; i < digits.size(); ++i) fraction_scale *= 10;
    }
    frame = (minutes * 60 + seconds) * SAMPLE_RATE + fraction * SAMPLE_RATE / fraction_scale;
    return true;
}

// "41" or "41.3".
bool parse_bar(const std::string& text, SongPoint& point)
{
    const size_t dot = text.find('.');
    uint64_t bar = 0, beat = 0;
    if (!read_digits(text.substr(0, dot), 6, bar)) return false;
    if (dot != std::string::npos && !read_digits(text.substr(dot + 1), 1, beat)) return false;
    point.kind = SongPoint::Kind::bar;
    point.bar = static_cast<uint32_t>(bar);
    point.beat = static_cast<uint32_t>(beat);
    return true;
}

// The first frame in which a bar or time is heard; false when it lies
// beyond the render.
bool point_frame(const std::string& option, const SongPoint& point, const SongTimeline& timeline,
                 uint64_t& frame, std::string& error)
{
    if (point.kind == SongPoint::Kind::time) {
        frame = point.frame;
        if (frame <= SONG_FRAMES) return true;
        return error = option + ": " + point.text + " is beyond the render's end (" + clock_time(SONG_FRAMES) + ")",
               false;
    }
    if (point.bar == 0 && timeline.pickup == 0)
        return error = option + ": bar 0 is a pick-up, and this song has none", false;
    // A beat counts as bar_position counts it: a pick-up is the end of bar
    // 0, so a pick-up of two beats holds beats 3 and 4.
    const int64_t tick = point.beat == 0 ? static_cast<int64_t>(bar_first_tick(timeline, point.bar))
                                         : int64_t{timeline.pickup} + (int64_t{point.bar} - 1) * TICKS_PER_BAR +
                                               int64_t{point.beat - 1} * TICKS_PER_BEAT;
    if (tick < 0)
        return error = option + ": bar " + point.text + " is before the pick-up, which begins at " + bar_text(timeline, 0),
               false;
    if (tick >= timeline.ticks)
        return error = option + ": bar " + point.text + " is beyond the render, which ends in " +
                       bar_text(timeline, timeline.ticks - 1),
               false;
    frame = tick_heard_frame(timeline, static_cast<uint32_t>(tick));
    return true;
}

// A folder for the stems, made if it is not there yet.
bool make_stems_dir(const std::string& dir, std::ostream& err)
{
    struct stat info;
    if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    if (mkdir(dir.c_str(), 0777) == 0) return true;
    err << PROGRAM << ": cannot make the stems folder " << dir << ": " << std::strerror(errno) << '\n';
    return false;
}

// The run: what the mix reports goes to the stems and the progress bar.
struct RenderRun {
    const RenderRequest& request;
    const Sounds& sounds;
    FloatWave stems[CHANNEL_COUNT];
    bool stem_wanted[CHANNEL_COUNT] = {};
    ProgressBar bar;
    // The part of the bar the mix under way fills, and what it is for.
    double mix_start = 0.0, mix_share = 1.0;
    std::string mix_purpose;
};

// Shares of a mix: the eight channels, then the equaliser's tail, then
// normalising and writing.
constexpr double CHANNELS_SHARE = 0.9, EQUALISER_SHARE = 0.05;

void show_mix_stage(RenderRun& run, const std::string& stage, double part)
{
    run.bar.show(run.mix_purpose + stage, run.mix_start + run.mix_share * part);
}

void on_mix_progress(void* context, MixStage stage, int k, uint32_t done, uint32_t total)
{
    auto& run = *static_cast<RenderRun*>(context);
    const double part = total == 0 ? 1.0 : static_cast<double>(done) / total;
    if (stage == MixStage::equaliser) {
        show_mix_stage(run, "equaliser", CHANNELS_SHARE + EQUALISER_SHARE * part);
        return;
    }
    std::string name = "channel " + std::to_string(k) + ": render";
    if (channel_has_delay(run.sounds, k)) name += ", delay";
    if (channel_has_reverb(run.sounds, k)) name += ", reverb";
    show_mix_stage(run, name, CHANNELS_SHARE * (k + part) / CHANNEL_COUNT);
}

// A stem holds the span's frames only.
void on_channel_block(void* context, int k, uint32_t at, const float* samples, uint32_t length)
{
    auto& run = *static_cast<RenderRun*>(context);
    if (!run.stem_wanted[k]) return;
    const uint32_t from = std::max(at, 2 * run.request.span.first);
    const uint32_t to = std::min(at + length, 2 * run.request.span.end);
    if (from < to) float_wave_append(run.stems[k], samples + (from - at), to - from);
}

bool open_stems(RenderRun& run, std::ostream& err)
{
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        if (!run.request.in_master[k]) continue;
        const std::string path = run.request.stems_dir + "/channel-" + std::to_string(k) + ".wav";
        if (!written(float_wave_open(run.stems[k], path.c_str()), path, err)) return false;
        run.stem_wanted[k] = true;
    }
    return true;
}

void discard_stems(RenderRun& run)
{
    for (FloatWave& stem : run.stems) float_wave_discard(stem);
}

// Every stem, cut to `count` samples, times the master's normalisation, in
// full-scale floats (a 16-bit sample s becomes s / 32768), ready to be put
// in place.
bool ready_stems(RenderRun& run, float peak, uint32_t count, std::ostream& err)
{
    const float scale = peak == 0.0f ? 0.0f : 32767.0f / peak / 32768.0f;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        if (!run.stem_wanted[k]) continue;
        float_wave_keep(run.stems[k], count);
        if (!written(float_wave_ready(run.stems[k], scale), run.stems[k].draft.path, err)) return false;
    }
    return true;
}

// The main file and the stems appear together or not at all: each is
// written out and synced before any of them is renamed into place.
bool write_files(RenderRun& run, const int16_t* excerpt, uint32_t count, float peak, std::ostream& err)
{
    const std::string& output = run.request.output;
    Draft main_file;
    const bool ready = (output.empty() || written(wave_ready_pcm(main_file, output.c_str(), excerpt, count), output, err)) &&
                       ready_stems(run, peak, count, err);
    if (!ready) {
        draft_discard(main_file);
        discard_stems(run);
        return false;
    }
    bool ok = output.empty() || written(draft_place(main_file), output, err);
    for (int k = 0; k < CHANNEL_COUNT; ++k)
        if (run.stem_wanted[k]) ok = written(draft_place(run.stems[k].draft), run.stems[k].draft.path, err) && ok;
    return ok;
}

// The channels `in_master` names mixed into `mix`, feeding the stems when
// `with_stems`; false after reporting why the mix could not be made.
bool mix_song(RenderRun& run, const std::vector<uint8_t>& block, const bool (&in_master)[CHANNEL_COUNT],
              bool with_stems, MasterMix& mix, std::ostream& err)
{
    MixOptions options{block.data(), &run.sounds};
    options.frames = run.request.frames;
    std::copy(std::begin(in_master), std::end(in_master), options.in_master);
    options.observe = with_stems ? on_channel_block : nullptr;
    options.progress = on_mix_progress;
    options.context = &run;
    Fault fault;
    if (mix_channels(options, mix, fault)) return true;
    err << PROGRAM << ": " << fault.message << '\n';
    return false;
}

bool leaves_a_channel_out(const RenderRequest& request)
{
    return std::find(std::begin(request.in_master), std::end(request.in_master), false) !=
           std::end(request.in_master);
}

// The whole song's peak, from a mix of every channel before the chosen
// one, which fills the second half of the bar.
bool song_level_peak(RenderRun& run, const std::vector<uint8_t>& block, float& peak, std::ostream& err)
{
    constexpr bool every_channel[CHANNEL_COUNT] = {true, true, true, true, true, true, true, true};
    run.mix_purpose = "song level, ";
    run.mix_share = 0.5;
    MasterMix full{};
    if (!mix_song(run, block, every_channel, false, full, err)) return false;
    peak = full.peak;
    mix_release(full);
    run.mix_purpose.clear();
    run.mix_start = 0.5;
    return true;
}

// The frame after the last one in which a sample is not 0.
uint32_t silent_from(const int16_t* song, uint32_t samples)
{
    uint32_t i = samples;
    while (i > 0 && song[i - 1] == 0) --i;
    return (i + 1) / 2;
}

uint32_t span_end(const RenderSpan& span, const int16_t* song, uint32_t samples)
{
    if (span.earliest_end == span.end) return span.end;
    return std::clamp(silent_from(song, samples), span.earliest_end, span.end);
}

constexpr uint32_t END_TAIL_FRAMES = 5 * SAMPLE_RATE;  // --to end: the effects' tail at most

}  // namespace

bool parse_song_point(const std::string& option, const std::string& text, SongPoint& point, std::string& error)
{
    point.text = text;
    const bool to = option == "--to";
    if (text == "end" && !to) return error = option + ": end is for --to only", false;
    if (text == "end" && to) point.kind = SongPoint::Kind::end;
    else if (text.find(':') != std::string::npos) point.kind = SongPoint::Kind::time;
    if (point.kind == SongPoint::Kind::end ||
        (point.kind == SongPoint::Kind::time ? parse_time(text, point.frame) : parse_bar(text, point))) {
        const bool beat_given = text.find('.') != std::string::npos;
        if (point.kind != SongPoint::Kind::bar || !beat_given || (point.beat >= 1 && point.beat <= 4)) return true;
        return error = option + ": '" + text + "' has beat " + std::to_string(point.beat) +
                       ", and a bar has beats 1 to 4",
               false;
    }
    error = option + ": '" + text + "' is not a bar (41), a bar and beat (41.3), a time (1:23.5)" +
            (to ? " or end" : "");
    return false;
}

bool wants_excerpt(const RenderRequest& request)
{
    return request.from.kind != SongPoint::Kind::none || request.to.kind != SongPoint::Kind::none;
}

bool excerpt_span(const RenderRequest& r, const SongTimeline& timeline, RenderSpan& span, std::string& error)
{
    uint64_t first = 0, end = r.frames, earliest_end = r.frames;
    if (r.from.kind != SongPoint::Kind::none && !point_frame("--from", r.from, timeline, first, error)) return false;
    uint32_t hold_tick = 0;
    if (r.to.kind == SongPoint::Kind::end && song_end_tick(timeline, hold_tick)) {
        earliest_end = std::min<uint64_t>(tick_heard_frame(timeline, hold_tick), r.frames);
        end = std::min<uint64_t>(earliest_end + END_TAIL_FRAMES, r.frames);
    } else if (r.to.kind == SongPoint::Kind::bar || r.to.kind == SongPoint::Kind::time) {
        if (!point_frame("--to", r.to, timeline, end, error)) return false;
        earliest_end = end = std::min<uint64_t>(end, r.frames);
    }
    if (first >= earliest_end)
        return error = "--from " + (r.from.text.empty() ? "0:00" : r.from.text) + " is not before --to " +
                       (r.to.text.empty() ? "the render's end" : r.to.text),
               false;
    span = {static_cast<uint32_t>(first), static_cast<uint32_t>(end), static_cast<uint32_t>(earliest_end)};
    return true;
}

bool parse_render_arguments(const std::vector<std::string>& args, RenderRequest& r, std::string& error)
{
    bool solo[CHANNEL_COUNT] = {}, mute[CHANNEL_COUNT] = {};
    bool soloed = false, length_given = false;
    std::vector<std::string> seen;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takes_value = a == "-o" || a == "--solo" || a == "--mute" || a == "--frames" ||
                                 a == "--seconds" || a == "--stems" || a == "--normalise" || a == "--from" ||
                                 a == "--to";
        if (takes_value || a == "--play" || a == "--loop" || a == "--werror") {
            if (std::find(seen.begin(), seen.end(), a) != seen.end()) return error = a + " given twice", false;
            seen.push_back(a);
        }
        if (takes_value && i + 1 == args.size()) return error = a + " needs a value", false;
        bool ok = true;
        if (a == "-o") r.output = args[++i];
        else if (a == "--stems") r.stems_dir = args[++i];
        else if (a == "--solo") ok = parse_channels(a, args[++i], solo, error), soloed = true;
        else if (a == "--mute") ok = parse_channels(a, args[++i], mute, error);
        else if (a == "--frames" || a == "--seconds") {
            if (length_given) return error = "give --frames or --seconds, not both", false;
            length_given = true;
            ok = a == "--frames" ? parse_frames(args[++i], r.frames, error)
                                 : parse_seconds(args[++i], r.frames, error);
        } else if (a == "--normalise") {
            const std::string& level = args[++i];
            if (level != "song" && level != "self")
                return error = "--normalise: '" + level + "' is not song or self", false;
            r.normalise = level == "song" ? Normalise::song : Normalise::self;
        } else if (a == "--from") ok = parse_song_point(a, args[++i], r.from, error);
        else if (a == "--to") ok = parse_song_point(a, args[++i], r.to, error);
        else if (a == "--play") r.play = true;
        else if (a == "--loop") r.play = r.loop = true;
        else if (a == "--werror") r.werror = true;
        else if (r.song.empty() && !a.empty() && a[0] != '-') r.song = a;
        else return error = "unexpected '" + a + "'", false;
        if (!ok) return false;
    }
    if (r.song.empty()) return error = "no SONG given", false;
    if (r.output.empty() && !r.play) return error = "render needs -o OUT.wav, --play or both", false;
    if (r.stems_dir == STANDARD_OUTPUT) return error = "--stems needs a folder, not standard output", false;
    if (r.output == STANDARD_OUTPUT && r.play)
        return error = "-o - and --play: the playback's lines would go into the WAV file on standard output", false;
    if (length_given && wants_excerpt(r))
        return error = "an excerpt (--from, --to) is of the whole render: leave out --frames and --seconds", false;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        if (solo[k] && mute[k])
            return error = "channel " + std::to_string(k) + " is both soloed and muted", false;
        r.in_master[k] = (!soloed || solo[k]) && !mute[k];
    }
    r.span = {0, r.frames, r.frames};
    return true;
}

int render_song(const std::vector<uint8_t>& block, const Sounds& sounds, const RenderRequest& request,
                std::ostream& err)
{
    RenderRun run{request, sounds, {}, {}, ProgressBar(request.show_progress, stderr), 0.0, 1.0, {}};
    const bool with_stems = !request.stems_dir.empty();
    if (with_stems && (!make_stems_dir(request.stems_dir, err) || !open_stems(run, err))) {
        discard_stems(run);
        return EXIT_FAILURE;
    }

    const bool song_level = request.normalise == Normalise::song && leaves_a_channel_out(request);
    float song_peak = 0.0f;
    MasterMix mix{};
    if ((song_level && !song_level_peak(run, block, song_peak, err)) ||
        !mix_song(run, block, request.in_master, with_stems, mix, err)) {
        run.bar.finish();
        discard_stems(run);
        return EXIT_FAILURE;
    }

    const float peak = song_level ? song_peak : mix.peak;
    const uint32_t samples = 2 * request.frames;
    show_mix_stage(run, "writing", CHANNELS_SHARE + EQUALISER_SHARE);
    const int16_t* song = master_to_song(mix.samples, samples, peak);
    const int16_t* excerpt = song + 2 * std::size_t{request.span.first};
    const uint32_t count = 2 * (span_end(request.span, song, samples) - request.span.first);
    const bool ok = write_files(run, excerpt, count, peak, err);
    run.bar.finish();
    if (ok && request.play)
        play_and_report(excerpt, count, request.loop ? PlaybackRepeat::forever : PlaybackRepeat::once);
    mix_release(mix);
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
