#include "song_render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>

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
};

// Shares of the whole job: the eight channels, then the equaliser's tail,
// then normalising and writing.
constexpr double CHANNELS_SHARE = 0.9, EQUALISER_SHARE = 0.05;

void on_mix_progress(void* context, MixStage stage, int k, uint32_t done, uint32_t total)
{
    auto& run = *static_cast<RenderRun*>(context);
    const double part = total == 0 ? 1.0 : static_cast<double>(done) / total;
    if (stage == MixStage::equaliser) {
        run.bar.show("equaliser", CHANNELS_SHARE + EQUALISER_SHARE * part);
        return;
    }
    std::string name = "channel " + std::to_string(k) + ": render";
    if (channel_has_delay(run.sounds, k)) name += ", delay";
    if (channel_has_reverb(run.sounds, k)) name += ", reverb";
    run.bar.show(name, CHANNELS_SHARE * (k + part) / CHANNEL_COUNT);
}

void on_channel_block(void* context, int k, uint32_t, const float* samples, uint32_t length)
{
    auto& run = *static_cast<RenderRun*>(context);
    if (run.stem_wanted[k]) float_wave_append(run.stems[k], samples, length);
}

// "songtool: could not write PATH: REASON" on `err`; false when there was
// something to say.
bool written(int error, const std::string& path, std::ostream& err)
{
    if (error != 0) err << PROGRAM << ": could not write " << path << ": " << std::strerror(error) << '\n';
    return error == 0;
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

// Every stem times the master's normalisation, in full-scale floats: a
// 16-bit sample s becomes s / 32768.
bool finish_stems(RenderRun& run, float peak, std::ostream& err)
{
    const float scale = peak == 0.0f ? 0.0f : 32767.0f / peak / 32768.0f;
    bool ok = true;
    for (int k = 0; k < CHANNEL_COUNT; ++k)
        if (run.stem_wanted[k])
            ok = written(float_wave_finish(run.stems[k], scale), run.stems[k].path, err) && ok;
    return ok;
}

}  // namespace

bool parse_render_arguments(const std::vector<std::string>& args, RenderRequest& r, std::string& error)
{
    bool solo[CHANNEL_COUNT] = {}, mute[CHANNEL_COUNT] = {};
    bool soloed = false, length_given = false;
    std::vector<std::string> seen;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takes_value = a == "-o" || a == "--solo" || a == "--mute" || a == "--frames" ||
                                 a == "--seconds" || a == "--stems";
        if (takes_value || a == "--play") {
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
        } else if (a == "--play") r.play = true;
        else if (r.song.empty() && !a.empty() && a[0] != '-') r.song = a;
        else return error = "unexpected '" + a + "'", false;
        if (!ok) return false;
    }
    if (r.song.empty()) return error = "no SONG given", false;
    if (r.output.empty() && !r.play) return error = "render needs -o OUT.wav, --play or both", false;
    for (int k = 0; k < CHANNEL_COUNT; ++k) r.in_master[k] = (!soloed || solo[k]) && !mute[k];
    return true;
}

int render_song(const std::vector<uint8_t>& block, const Sounds& sounds, const RenderRequest& request,
                std::ostream& err)
{
    RenderRun run{request, sounds, {}, {}, ProgressBar(request.show_progress, stderr)};
    if (!request.stems_dir.empty() && (!make_stems_dir(request.stems_dir, err) || !open_stems(run, err))) {
        discard_stems(run);
        return EXIT_FAILURE;
    }

    MixOptions options{block.data(), &sounds};
    options.frames = request.frames;
    std::copy(std::begin(request.in_master), std::end(request.in_master), options.in_master);
    options.observe = request.stems_dir.empty() ? nullptr : on_channel_block;
    options.progress = on_mix_progress;
    options.context = &run;
    MasterMix mix{};
    Fault fault;
    if (!mix_channels(options, mix, fault)) {
        run.bar.finish();
        discard_stems(run);
        err << PROGRAM << ": " << fault.message << '\n';
        return EXIT_FAILURE;
    }

    const uint32_t samples = 2 * request.frames;
    run.bar.show("writing", CHANNELS_SHARE + EQUALISER_SHARE);
    const int16_t* song = master_to_song(mix.samples, samples, mix.peak);
    bool ok = request.output.empty() ||
              written(wave_write_pcm(request.output.c_str(), song, samples), request.output, err);
    if (!request.stems_dir.empty()) ok = ok ? finish_stems(run, mix.peak, err) : (discard_stems(run), false);
    run.bar.finish();
    if (ok && request.play) play_and_report(song, samples);
    mix_release(mix);
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
