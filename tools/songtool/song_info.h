// `songtool info`: what a song holds, channel by channel, and its timeline
// as the interpreter plays it: length, tempo map, bar times and closing
// holds.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "song_timeline.h"

// The report for a block that passes check_song, with the notation's marks
// and channel names (empty: none); as JSON with `json`.
std::string song_info(const uint8_t* block, size_t size, const SongMarks& marks,
                      const std::array<std::string, CHANNEL_COUNT>& names, bool json);
