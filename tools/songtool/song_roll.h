// The piano roll: what the interpreter plays, tick by tick, and its picture.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data/tables.h"
#include "song/bytecode.h"
#include "song_sounds.h"
#include "song_timeline.h"

constexpr uint32_t ROLL_TICKS_PER_BAR = 128;  // a whole note
constexpr uint32_t ROLL_TICKS_PER_BEAT = 32;  // a quarter note
// What a picture can show: beyond these the roll is cut (a pathological song
// could otherwise ask for millions of shapes).
constexpr uint32_t ROLL_MAX_TICKS = 512 * ROLL_TICKS_PER_BAR;
constexpr size_t ROLL_MAX_EVENTS = 200000;
// Where tick 0 lies in the picture, and the pixels of a tick.
constexpr double ROLL_LEFT_PX = 56;
constexpr double ROLL_TICK_PX = 1;

struct RollNote {
    int channel;
    uint32_t start, end;  // ticks; the note sounds from start until end
    int pitch;            // index into the note table
    int tied_from;        // pitch of the note it continues (a tie to another pitch), or -1
    uint32_t offset = 0;  // of the note event in the block
};

struct RollHit {
    uint32_t tick;
    int sample;  // drum sample 0..9
    uint32_t offset = 0;  // of the note event in the block
};

struct RollTempo {
    uint32_t tick;
    int value;  // a tick every 14 value + 1 frames
};

struct RollCall {
    uint32_t tick;
    int channel;
    int pattern;
};

struct Roll {
    std::vector<RollNote> notes;
    std::vector<RollHit> hits;
    std::vector<RollTempo> tempos;  // the first one is in force from tick 0
    std::vector<RollCall> calls;
    std::array<int64_t, CHANNEL_COUNT> hold_tick;  // -1: no closing hold reached
    uint32_t end_tick = 0;                         // the roll covers ticks 0 .. end_tick-1
    bool cut = false;  // the song goes on past end_tick, beyond what a picture can show
    uint32_t pickup = 0;  // ticks before bar 1 (the pick-up, bar 0, is not counted)
    std::array<std::string, CHANNEL_COUNT> channel_names;  // for the legend; empty: none
    // Where the notation wrote each byte of the block (see SongMarks); empty
    // for a block. Each note and hit of an SVG then names its source as
    // data-source="LINE:COLUMN".
    std::vector<SourcePlace> byte_places;
};

// The bars the song lasts, counted from the pick-up: up to the last closing
// hold when every channel reaches one, else as far as the roll runs.
uint32_t counted_bars(const Roll& roll);

// Plays the song with the interpreter and notes what every channel does,
// until every channel with a closing hold has reached it plus one bar of
// the hold, or for as long as songrender plays. The block must pass
// check_song. Leaves the voice and song state as the run left it.
Roll observe_roll(const uint8_t* block, size_t size, const Sounds& sounds = default_sounds);

// The same, labelled as the song's text wrote it: its channel names, its
// pick-up and where each byte came from.
Roll observe_song_roll(const std::vector<uint8_t>& block, const SongSounds& sounds, const SongMarks& marks);

enum class RollFormat { svg, png };
// The format a file name asks for (".svg" or ".png"); false for others.
bool roll_format_of(const std::string& path, RollFormat& format);

// Draws the roll, headed by `title` and its bar count, as the bytes of an
// SVG or PNG file in `picture`. False with a message in `error` if it
// cannot be drawn (a PNG too large). Scale: one pixel per tick (128 per
// bar), 5 per semitone, whole octaves from c.
bool draw_roll(const Roll& roll, const std::string& title, RollFormat format, std::string& picture,
               std::string& error);
