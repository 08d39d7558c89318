// A song's sounds as its text gives them: the engine's tables together with
// the names the song gives its instruments and channels.
#pragma once
#include <string>

#include "data/tables.h"

struct SongSounds {
    Sounds sounds = default_sounds;
    std::string instrument_names[INSTRUMENT_COUNT];  // empty where none is given
    std::string channel_names[CHANNEL_COUNT];
};

// `songtool sounds`: every instrument with its fields and what they mean in
// time and pitch, every channel's gain and effects, every preset with its
// derived figures; as text for a reader, or as JSON for other tools.
std::string describe_sounds(const SongSounds& song, bool json);
