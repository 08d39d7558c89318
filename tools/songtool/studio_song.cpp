#include "studio_song.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "driver/mix.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"
#include "song_asm.h"
#include "song_info.h"
#include "song_roll.h"

namespace {

// Holds one of the studio's mixes for as long as it lives.
class MixTurn {
public:
    explicit MixTurn(StudioSong& song) : song_(song) { song_.mixes.acquire(); }
    ~MixTurn() { song_.mixes.release(); }
    MixTurn(const MixTurn&) = delete;
    MixTurn& operator=(const MixTurn&) = delete;

private:
    StudioSong& song_;
};

// The mix of the first `frames` frames of the channels `in_master` leaves in.
// It ends unfinished once `stop` is true.
bool mix_text(StudioSong& song, const StudioText& text, const bool (&in_master)[CHANNEL_COUNT], uint32_t frames,
              MasterMix& mix, std::string& error, const std::atomic<bool>* stop = nullptr)
{
    MixOptions options{text.block.data(), &text.sounds.sounds};
    options.frames = frames;
    options.stop = stop;
    std::copy(std::begin(in_master), std::end(in_master), options.in_master);
    Fault fault;
    const MixTurn turn(song);
    if (mix_channels(options, mix, fault)) return true;
    error = fault.message;
    return false;
}

// Samples [first, first + count) of the mix at `peak`'s level, which take
// its memory; null with the reason (the memory given back) when there is
// none for them.
std::shared_ptr<const StudioSamples> samples_of(MasterMix& mix, size_t first, size_t count, float peak,
                                                std::string& error)
{
    try {
        return std::make_shared<const StudioSamples>(mix, first, count, peak);
    } catch (const std::bad_alloc&) {
        mix_release(mix);  // the samples never took it
        error = "out of memory: cannot keep the samples";
        return nullptr;
    }
}

// The text's full mix, made here unless another thread is making it (then
// waited for) or has made it. A mix that `stop` ends leaves it to be made
// by the next who asks.
bool full_mix(StudioSong& song, StudioText& text, FullMix& result, std::string& error,
              const std::atomic<bool>* stop = nullptr)
{
    std::unique_lock lock(text.mutex);
    text.mixed.wait(lock, [&] { return text.full_mix.state != FullMix::State::running; });
    if (text.full_mix.state == FullMix::State::ready) return result = text.full_mix, true;
    if (stop != nullptr && *stop) return error = MIX_STOPPED, false;
    text.full_mix.state = FullMix::State::running;
    lock.unlock();

    constexpr bool every_channel[CHANNEL_COUNT] = {true, true, true, true, true, true, true, true};
    MasterMix mix{};
    FullMix made;
    if (mix_text(song, text, every_channel, SONG_FRAMES, mix, error, stop))
        if (auto samples = samples_of(mix, 0, mix.length, mix.peak, error))
            made = {FullMix::State::ready, mix.peak, std::move(samples)};
    const bool ok = made.state == FullMix::State::ready;
    lock.lock();
    text.full_mix = made;  // State::none again after a failure, for a later try
    result = made;
    text.mixed.notify_all();
    return ok;
}

void run_mixer(StudioSong& song)
{
    std::unique_lock lock(song.mutex);
    for (;;) {
        song.wake.wait(lock, [&] { return song.stopping || song.pending != nullptr; });
        if (song.stopping) return;
        const std::shared_ptr<StudioText> text = song.mixing = std::move(song.pending);
        song.pending.reset();
        song.newer_text = false;
        lock.unlock();
        FullMix unused;
        std::string error;  // a request for the text meets it again
        full_mix(song, *text, unused, error, &song.newer_text);
        lock.lock();
        song.mixing.reset();
    }
}

std::shared_ptr<StudioText> assembled(const StudioSong& song, const std::string& source)
{
    auto text = std::make_shared<StudioText>();
    text->text = source;
    text->valid = assemble_song(source, song.path, text->block, text->sounds, text->marks, text->findings);
    if (text->valid) text->timeline = song_timeline(text->block.data(), text->block.size(), text->marks);
    return text;
}

// The kept sound with that id, or the end; under song.mutex.
std::vector<StudioSound>::iterator find_sound(StudioSong& song, uint64_t id)
{
    return std::find_if(song.sounds.begin(), song.sounds.end(), [id](const StudioSound& sound) { return sound.id == id; });
}

}  // namespace

StudioSamples::StudioSamples(MasterMix& mix, size_t first, size_t count, float peak) : mix_(mix)
{
    mix.samples = nullptr;
    int16_t* song = master_to_song(mix_.samples + first, static_cast<uint32_t>(count), peak);
    if constexpr (std::endian::native == std::endian::big)
        for (size_t i = 0; i < count; ++i)
            song[i] = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(song[i])));
    // The floats are spent: only the samples' half of their memory stays.
    const size_t from = first * sizeof(float);
    trim_song_floats(mix_.samples, mix_.length, from, from + count * sizeof(int16_t));
    samples_ = song;
}

void studio_start(StudioSong& song) { song.mixer = std::thread(run_mixer, std::ref(song)); }

void studio_stop(StudioSong& song)
{
    {
        std::lock_guard lock(song.mutex);
        song.stopping = true;
        song.newer_text = true;  // nobody will hear the mix under way
    }
    song.wake.notify_all();
    if (song.mixer.joinable()) song.mixer.join();
}

std::shared_ptr<StudioText> studio_text(StudioSong& song, const std::string& source)
{
    // Assembled under the lock (a few milliseconds), so that requests that
    // come together with one text share one StudioText and its mixes. A
    // text let go is given back (23 MB unmapped) once the lock is free.
    std::shared_ptr<StudioText> dropped;
    std::lock_guard lock(song.mutex);
    auto found = std::find_if(song.recent.begin(), song.recent.end(),
                              [&](const std::shared_ptr<StudioText>& text) { return text->text == source; });
    std::shared_ptr<StudioText> text = found != song.recent.end() ? *found : assembled(song, source);
    if (found == song.recent.end()) {
        // Whoever sent it has moved on from the text being mixed in the background.
        if (song.mixing != nullptr) song.newer_text = true;
        song.recent.push_front(text);
        if (song.recent.size() > STUDIO_TEXTS_KEPT) {
            dropped = std::move(song.recent.back());
            dropped->replaced = true;
            song.recent.pop_back();
        }
    }
    for (const auto& other : song.recent) other->replaced = other != text;
    return text;
}

void studio_prepare(StudioSong& song, const std::shared_ptr<StudioText>& text)
{
    if (!text->valid) return;
    {
        std::lock_guard lock(song.mutex);
        if (text == song.mixing) return;
        song.pending = text;
        song.newer_text = true;
    }
    song.wake.notify_all();
}

bool studio_render_request(const StudioText& text, const StudioRenderRequest& asked, RenderRequest& request,
                           std::string& error)
{
    // The command line's own reading, so that a request means what the
    // same options to `songtool render` mean and is refused in its words.
    std::vector<std::string> args{"render", "SONG", "-o", "OUT.wav"};
    const std::pair<const char*, const std::string*> options[] = {
        {"--from", &asked.from}, {"--to", &asked.to}, {"--solo", &asked.solo}, {"--mute", &asked.mute}};
    for (const auto& [option, value] : options)
        if (!value->empty()) args.insert(args.end(), {option, *value});
    if (!parse_render_arguments(args, request, error)) return false;
    if (request.to.kind == SongPoint::Kind::end)
        return error = "--to: end is not served here: leave out 'to' for the render's end", false;
    return !wants_excerpt(request) || excerpt_span(request, text.timeline, request.span, error);
}

bool studio_render(StudioSong& song, StudioText& text, const RenderRequest& request, StudioWave& wave,
                   std::string& error, const std::atomic<bool>* stop)
{
    const RenderSpan& span = wave.span = request.span;
    wave.first = 2 * size_t{span.first};
    wave.count = 2 * size_t{span.end - span.first};
    wave.header = pcm_wave_header(static_cast<uint32_t>(wave.count));
    const bool every_channel =
        std::all_of(std::begin(request.in_master), std::end(request.in_master), [](bool in) { return in; });
    // Every excerpt is at the whole song's level; when every channel plays,
    // it is a piece of the full mix itself.
    MasterMix mix{};
    if (!every_channel && !mix_text(song, text, request.in_master, span.end, mix, error, stop)) return false;
    FullMix full;
    if (!full_mix(song, text, full, error, stop)) {
        mix_release(mix);
        return false;
    }
    if (every_channel) {
        wave.samples = full.song;
        return true;
    }
    wave.samples = samples_of(mix, wave.first, wave.count, full.peak, error);
    wave.first = 0;
    return wave.samples != nullptr;
}

uint64_t studio_keep_sound(StudioSong& song, std::shared_ptr<const StudioWave> wave, uint64_t playing)
{
    std::vector<StudioSound> dropped;  // given back once the lock is free
    std::lock_guard lock(song.mutex);
    const uint64_t id = song.next_sound++;
    song.sounds.push_back({id, std::move(wave)});
    while (song.sounds.size() > STUDIO_SOUNDS_KEPT) {
        // The oldest first among equals: the vector runs from old to new.
        auto least = song.sounds.end();
        for (auto it = song.sounds.begin(); it + 1 != song.sounds.end(); ++it)
            if (it->id != playing && (least == song.sounds.end() || it->fetched < least->fetched)) least = it;
        dropped.push_back(std::move(*least));
        song.sounds.erase(least);
    }
    return id;
}

bool studio_forget_sound(StudioSong& song, uint64_t id)
{
    std::shared_ptr<const StudioWave> dropped;  // given back once the lock is free
    std::lock_guard lock(song.mutex);
    const auto found = find_sound(song, id);
    if (found == song.sounds.end()) return false;
    dropped = std::move(found->wave);
    song.sounds.erase(found);
    return true;
}

std::shared_ptr<const StudioWave> studio_sound(StudioSong& song, uint64_t id)
{
    std::lock_guard lock(song.mutex);
    const auto found = find_sound(song, id);
    if (found == song.sounds.end()) return nullptr;
    found->fetched = ++song.fetches;
    return found->wave;
}

bool studio_roll(StudioSong& song, const StudioText& text, std::string& svg, std::string& error)
{
    const std::lock_guard lock(song.drawing);
    return draw_roll(observe_song_roll(text.block, text.sounds, text.marks), song.path, RollFormat::svg, svg, error);
}

std::string studio_timeline(const StudioText& text, bool json)
{
    return song_info(text.block.data(), text.block.size(), text.marks, text.sounds.channel_names, json);
}

std::string studio_sounds(const StudioText& text, bool json) { return describe_sounds(text.sounds, json); }
