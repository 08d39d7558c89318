// A song's sounds as its text gives them: the engine's tables together with
// the names the song gives its instruments and channels.
#pragma once
#include <array>
#include <cstddef>
#include <string>

#include "data/tables.h"

template <std::size_t N>
std::array<std::string, N> name_list(const char* const (&names)[N])
{
    std::array<std::string, N> list;
    for (std::size_t i = 0; i < N; ++i) list[i] = names[i];
    return list;
}

struct SongSounds {
    Sounds sounds = default_sounds;
    std::array<std::string, INSTRUMENT_COUNT> instrument_names = name_list(default_instrument_names);  // empty: none
    std::array<std::string, CHANNEL_COUNT> channel_names = name_list(default_channel_names);
};

// `songtool sounds`: every instrument with its fields and what they mean in
// time and pitch, every channel's gain and effects, every preset with its
// derived figures; as text for a reader, or as JSON for other tools.
std::string describe_sounds(const SongSounds& song, bool json);
