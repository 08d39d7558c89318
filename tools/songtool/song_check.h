// The rules every song block obeys, checked before the interpreter ever
// reads it: the interpreter itself trusts its data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "song/bytecode.h"

// Where a broken rule sits: a channel's own stream (pattern -1), a pattern
// on its own (channel -1), a pattern as a channel plays it, or the song's
// layout (both -1).
struct SongPlace {
    int channel = -1;
    int pattern = -1;
};

struct SongError {
    SongPlace place;
    uint32_t offset;      // byte offset in the block
    std::string rule;     // short name of the rule, e.g. "loop-depth"
    std::string message;  // what is wrong
};

// "song", "channel 3", "pattern 5", "pattern 5 (called from channel 7)"
std::string song_place_name(const SongPlace& place);

// "instrument 14 does not exist (instruments are 0..13)", for an instrument
// number as written (the assembler quotes numbers too large for a byte).
std::string unknown_instrument_message(const std::string& number);

// "channel 3, offset 0x04A2: MESSAGE"
std::string format_song_error(const SongError& error);

// All rule violations of the block, in the order found; empty when the
// block is a valid song.
std::vector<SongError> check_song(const uint8_t* block, size_t size);

// A stream's events from `start` up to (not including) its closing `end`.
struct StreamEvent {
    uint32_t pos;
    Event event;
};
struct Stream {
    std::vector<StreamEvent> events;
    uint32_t end_pos = 0;  // position of the closing `end`
};
// Decodes the stream starting at `start`; false if it has an undefined byte
// or runs off the block before its `end`.
bool decode_stream(const uint8_t* block, size_t size, uint32_t start, Stream& stream);

// What a channel plays: its own stream, then the body of each pattern it
// calls (once each, by number). The block must pass check_song.
struct ChannelStreams {
    Stream own;
    std::vector<std::pair<int, Stream>> patterns;
};
ChannelStreams channel_streams(const uint8_t* block, size_t size, int channel);
