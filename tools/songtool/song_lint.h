// What does not stop a song but almost surely is not what its composer
// meant: the warnings of `check`.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/tables.h"
#include "song_timeline.h"

// Every warning about a block that passes check_song: panning beyond the
// sides, commands that do nothing on the drum channel, patterns no channel
// calls, and what the timeline finds as the song plays.
std::vector<SongWarning> lint_song(const uint8_t* block, size_t size, const SongMarks& marks);

// Which instruments a channel can load: those its stream or its patterns
// select, and instrument 0, which every channel starts with.
std::array<bool, INSTRUMENT_COUNT> instruments_played(const uint8_t* block, size_t size);
