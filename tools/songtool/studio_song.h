// What songtool studio knows of the song: each text the page sends is
// assembled and checked once, and its renders are made on their own
// threads and shared by every request for that text. The state is a value
// the server owns; every function may be called from any thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "driver/mix.h"
#include "output/wave.h"
#include "song_findings.h"
#include "song_render.h"
#include "song_sounds.h"
#include "song_timeline.h"

// 16-bit stereo samples in the file's (little-endian) byte order, made in
// place in the memory of the mix they come from, which they keep.
class StudioSamples {
public:
    // Samples [first, first + count) of the mix at `peak`'s level; the
    // mix's memory is theirs from now on.
    StudioSamples(MasterMix& mix, size_t first, size_t count, float peak);
    ~StudioSamples() { mix_release(mix_); }
    StudioSamples(const StudioSamples&) = delete;
    StudioSamples& operator=(const StudioSamples&) = delete;
    const int16_t* data() const { return samples_; }

private:
    MasterMix mix_;
    const int16_t* samples_;
};

// The whole song with every channel, normalised to its own peak: the song's
// level for every excerpt of this text.
struct FullMix {
    enum class State { none, running, ready } state = State::none;
    float peak = 0.0f;
    std::shared_ptr<const StudioSamples> song;
};

// One text of the song, as assembled.
struct StudioText {
    std::string text;
    std::vector<Finding> findings;
    bool valid = false;  // no errors: it can be drawn and played
    std::vector<uint8_t> block;
    SongSounds sounds;
    SongMarks marks;
    SongTimeline timeline;

    std::mutex mutex;
    std::condition_variable mixed;  // full_mix left State::running
    FullMix full_mix;
    // Another text was asked for after it: the page that sent it has moved on.
    std::atomic<bool> replaced{false};
};

// An excerpt as a WAV file: the header, then `count` samples of `samples`
// from `first` on; they are the song's frames [span.first, span.end).
struct StudioWave {
    RenderSpan span;
    wave_header header;
    std::shared_ptr<const StudioSamples> samples;
    size_t first = 0, count = 0;
};

// A wave kept at an address of its own, so that a player can fetch it, or a
// range of it, as often as it needs while it plays.
struct StudioSound {
    uint64_t id;
    std::shared_ptr<const StudioWave> wave;
    uint64_t fetched = 0;  // when it was last fetched, counted in fetches; 0: never
};

constexpr int STUDIO_MIXES = 2;  // mixes at once: each takes 46 MB and keeps every core busy
constexpr size_t STUDIO_TEXTS_KEPT = 2;
// A new sound, the one its asker plays, and the one fetched last besides
// (the page's player, which fetches its sound as it plays, once another
// sound asked for meanwhile named the one it replaced). Waves of one text
// share its full mix; a solo or mute has 23 MB of its own.
constexpr size_t STUDIO_SOUNDS_KEPT = 3;

struct StudioSong {
    std::string path;  // SONG, named in findings
    std::mutex mutex;
    std::deque<std::shared_ptr<StudioText>> recent;  // newest first
    std::counting_semaphore<STUDIO_MIXES> mixes{STUDIO_MIXES};
    std::mutex drawing;  // cairo and fontconfig draw one roll at a time
    std::vector<StudioSound> sounds;  // under `mutex`, the newest last
    uint64_t next_sound = 1, fetches = 0;

    // The mixer in the background: it mixes the newest text it was given,
    // dropping the mix it is making when a newer one comes.
    std::condition_variable wake;
    std::shared_ptr<StudioText> pending;
    std::shared_ptr<StudioText> mixing;   // the text it is mixing
    std::atomic<bool> newer_text{false};  // a text waits that is not the one it is mixing
    bool stopping = false;
    std::thread mixer;
};

// Starts and stops the background mixer.
void studio_start(StudioSong& song);
void studio_stop(StudioSong& song);

// The text assembled and checked, from the recent ones when it is one.
std::shared_ptr<StudioText> studio_text(StudioSong& song, const std::string& text);

// Has the background mixer make the text's full mix next (if it is valid).
void studio_prepare(StudioSong& song, const std::shared_ptr<StudioText>& text);

// What a render request names: an excerpt from `from` to `to` (as
// `render --from --to` reads them, either empty for the song's start or
// the render's end) of the channels `solo` and `mute` leave in (as
// `render --solo --mute`). False with the reason for a bad request.
struct StudioRenderRequest {
    std::string from, to, solo, mute;
};
bool studio_render_request(const StudioText& text, const StudioRenderRequest& asked, RenderRequest& request,
                           std::string& error);

// The excerpt as `songtool render` writes it at the song's level. False
// with the reason when the mix fails (out of memory) or, once `stop` is
// true, is left unmade (the reason then MIX_STOPPED).
bool studio_render(StudioSong& song, StudioText& text, const RenderRequest& request, StudioWave& wave,
                   std::string& error, const std::atomic<bool>* stop = nullptr);

// Keeps the wave as a sound and returns its id. Beyond STUDIO_SOUNDS_KEPT
// it lets go of the least recently fetched (the oldest of those never
// fetched, which the page asked for and then dropped), but never of the
// sound `playing` names (0: none), which the asker is still playing.
uint64_t studio_keep_sound(StudioSong& song, std::shared_ptr<const StudioWave> wave, uint64_t playing);

// Lets go of the sound with that id; false when there is none.
bool studio_forget_sound(StudioSong& song, uint64_t id);

// The kept sound with that id's wave, counted as fetched now; null when
// there is none.
std::shared_ptr<const StudioWave> studio_sound(StudioSong& song, uint64_t id);

// The roll's SVG with each note's source, the timeline and the sounds, as
// `roll`, `info --json` and `sounds --json` give them (the text forms
// without `json`). The text must be valid. The roll may fail (cairo).
bool studio_roll(StudioSong& song, const StudioText& text, std::string& svg, std::string& error);
std::string studio_timeline(const StudioText& text, bool json);
std::string studio_sounds(const StudioText& text, bool json);
