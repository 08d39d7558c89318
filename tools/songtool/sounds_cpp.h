// A song's sounds as C++ source: the definition of a `Sounds` table, for the
// build to compile in (the defaults from data/sounds.txt, the embedded
// song's own sounds beside its block).
#pragma once
#include <string>

#include "song_sounds.h"

// "const Sounds NAME = {...};" with the instruments' and channels' names as
// comments. Every single-precision value is written so that it reads back
// as the same float.
std::string sounds_cpp(const SongSounds& sounds, const std::string& name);

// The instruments' and channels' names as the arrays default_instrument_names
// and default_channel_names.
std::string names_cpp(const SongSounds& sounds);
