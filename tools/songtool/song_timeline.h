// Where a song's ticks fall in frames, seconds and bars: the interpreter
// plays the song through the render's length with nobody listening, and
// what it finds (tempo changes, closing holds, restarts, bar lines missed)
// becomes the timeline of `info`, the spans of excerpts and the warnings
// of `check`.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/timeline.h"
#include "song_check.h"

constexpr uint32_t TICKS_PER_BAR = 128;  // a whole note
constexpr uint32_t TICKS_PER_BEAT = 32;  // a quarter note

// What the notation says about time beyond the block's bytes.
struct BarLine {
    uint32_t offset;  // the byte of the event written after the `|`
    int line = 0;     // where the `|` stands in the source
    int column = 0;
};
// Where the notation wrote a byte; line 0: nowhere (the header, padding).
struct SourcePlace {
    int line = 0;
    int column = 0;
};
struct SongMarks {
    uint32_t pickup = 0;  // ticks before bar 1; that pick-up is bar 0
    std::vector<BarLine> bar_lines;
    std::vector<SourcePlace> byte_places;  // one for each byte of the block
};

// From `tick` on, each tick runs `interval` frames after the one before;
// `tick` itself runs in the interpreter call after frame `frame`. `tempo`
// is the value that set it and `set_tick` the tick whose events did (the
// interval already begun then keeps its length).
struct TempoSpan {
    uint32_t tick;
    uint64_t frame;
    uint32_t interval;
    int tempo;
    uint32_t set_tick;
};

// A channel's closing hold is the loop of rests that ends its stream (or,
// without one, the rests that do): once there, it is silent until it
// starts over.
struct ChannelTiming {
    bool has_notes = false;  // plays any note at all (channel or called patterns)
    bool has_hold = false;   // its stream ends in rests
    uint64_t hold_ticks = 0; // how long they last
    bool reached = false;    // reached within the render
    uint32_t hold_tick = 0;  // the tick that reads the hold's first rest
    bool restarts = false;   // starts over within the render
    uint32_t restart_tick = 0;
};

struct SongTimeline {
    uint32_t pickup = 0;
    uint32_t ticks = 0;  // ticks 0 .. ticks-1 run within the render
    std::vector<TempoSpan> tempo;  // the first from tick 0, at tempo 50 (701 frames)
    std::array<ChannelTiming, CHANNEL_COUNT> channels{};
};

// A finding of the timeline that does not stop the song; `bar_line` is the
// index of the `|` in SongMarks::bar_lines it concerns, or -1.
struct SongWarning {
    SongError error;
    int bar_line = -1;
};

// Plays a block that passes check_song for the render's length.
// With `warnings`, also notes what a composer should hear about: channels
// that never reach a closing hold or start over, a song cut by the render's
// end, holds reached at different ticks, bar lines off the bar, ties into
// rests and tempos that clash in one tick.
SongTimeline song_timeline(const uint8_t* block, size_t size, const SongMarks& marks,
                           std::vector<SongWarning>* warnings = nullptr);

// The frame after which `tick` runs (past the render, at the last tempo).
uint64_t tick_frame(const SongTimeline& timeline, uint32_t tick);
// The first frame in which what `tick` does is heard.
uint64_t tick_heard_frame(const SongTimeline& timeline, uint32_t tick);

// Bar 0 is the pick-up (when there is one), bar 1 starts at tick `pickup`.
uint64_t bar_first_tick(const SongTimeline& timeline, uint32_t bar);
struct BarPosition {
    uint32_t bar;
    uint32_t beat;  // 1..4
    uint32_t tick;  // into the beat, 0..31
};
BarPosition bar_position(const SongTimeline& timeline, uint32_t tick);
// "bar 41", "bar 41.3" (beat 3) or "bar 41.3 + 5 ticks".
std::string bar_text(const SongTimeline& timeline, uint32_t tick);

// The song's length: the tick of its last closing hold, when every channel
// reaches one within the render. False when the render cuts the song.
bool song_end_tick(const SongTimeline& timeline, uint32_t& tick);
// Bars from bar 1 up to the song's end (the pick-up not counted), or up
// to the render's end when it cuts the song.
uint32_t song_bars(const SongTimeline& timeline);

// "2:08.54": minutes and seconds to the hundredth, rounded down.
std::string clock_time(uint64_t frame);
// Beats per minute of a tick interval, a beat being 32 ticks.
double beats_per_minute(uint32_t interval);
