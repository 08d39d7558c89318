// What a song does, channel by channel, as the interpreter plays it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "data/tables.h"
#include "song/bytecode.h"

// When a channel reaches its closing hold (the trailing loop of 255 whole
// rests before its `end`): the tick, counted from 0 for the tick after
// frame 0, and the frame whose interpreter call runs it.
struct HoldTime {
    bool has_hold = false;  // the stream ends with the closing hold
    bool reached = false;   // reached within the frame limit
    uint32_t tick = 0;
    uint32_t frame = 0;
};

// Plays the song with the interpreter (tarq) from program-start state until
// every channel with a closing hold has reached it or frame_limit frames
// have run. The block must pass check_song. Leaves the voice and song state
// as the run left it.
std::array<HoldTime, CHANNEL_COUNT> closing_hold_times(const uint8_t* block, size_t size,
                                                       uint32_t frame_limit,
                                                       const Sounds& sounds = default_sounds);

// The report of `songtool info`; the block must pass check_song.
std::string song_info(const uint8_t* block, size_t size, const Sounds& sounds = default_sounds);
