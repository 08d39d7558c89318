// The rules every song block obeys, checked before the interpreter ever
// reads it: the interpreter itself trusts its data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "song/bytecode.h"

struct SongError {
    std::string context;  // "song", "channel 3", "pattern 5 (called from channel 7)"
    uint32_t offset;      // byte offset in the block
    std::string message;  // the rule broken
};

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
