// songtool render: a song rendered by the engine songrender uses, with
// channels soloed or muted, a shorter length or an excerpt, stems and
// playback.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/mix.h"
#include "song_timeline.h"

// Whose peak becomes 32767: the whole song's (all eight channels over the
// rendered length), so that a few channels keep their level in the song,
// or the chosen mix's own.
enum class Normalise { song, self };

// A place given to --from or --to: "41" (bar), "41.3" (bar and beat),
// "1:23.5" (minutes and seconds) or "end" (--to only).
struct SongPoint {
    enum class Kind { none, bar, time, end } kind = Kind::none;
    uint32_t bar = 0, beat = 0;  // Kind::bar; beat 1 to 4, or 0 for the bar's first tick
    uint64_t frame = 0;          // Kind::time
    std::string text;            // as given, for messages
};

// The frames of the render that are written and played, [first, end):
// with --to end, the end is where the output has gone silent for good, but
// not before `earliest_end` (nor after `end`).
struct RenderSpan {
    uint32_t first = 0;
    uint32_t end = SONG_FRAMES;
    uint32_t earliest_end = SONG_FRAMES;
};

struct RenderRequest {
    std::string song, output, stems_dir;
    uint32_t frames = SONG_FRAMES;
    bool in_master[CHANNEL_COUNT] = {true, true, true, true, true, true, true, true};
    Normalise normalise = Normalise::song;
    SongPoint from, to;  // the excerpt, Kind::none where not given
    RenderSpan span;     // all the frames, until excerpt_span sets it
    bool play = false;
    bool loop = false;   // plays over and over until interrupted (implies play)
    bool werror = false;  // the song's warnings stop the render
    bool show_progress = false;  // a progress bar on standard error
};

// Reads the arguments after "render"; false with a message in `error` on a
// usage error.
bool parse_render_arguments(const std::vector<std::string>& args, RenderRequest& request,
                            std::string& error);

// Reads a place for `option` (--from or --to); false with a message in
// `error` when it is malformed.
bool parse_song_point(const std::string& option, const std::string& text, SongPoint& point,
                      std::string& error);

// Whether the request asks for an excerpt, which needs the song's timeline.
bool wants_excerpt(const RenderRequest& request);

// The span of request.from and request.to in the song of `timeline`; false
// with a message in `error` when a place lies beyond the render or --from
// is not before --to.
bool excerpt_span(const RenderRequest& request, const SongTimeline& timeline, RenderSpan& span,
                  std::string& error);

// Renders `block` (a valid song) with `sounds` as songrender would if both
// were compiled in, and writes and plays what the request asks for. Returns 0, or 1 after
// reporting on `err` a file that could not be written.
int render_song(const std::vector<uint8_t>& block, const Sounds& sounds, const RenderRequest& request,
                std::ostream& err);
