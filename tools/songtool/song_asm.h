// The assembler: song notation -> song block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "song_findings.h"
#include "song_sounds.h"
#include "song_timeline.h"

// Assembles `source` (read from file `filename`, used in messages) into
// `block` and checks the result. Returns false with messages of the form
// "FILE:LINE:COLUMN: error: MESSAGE" in `errors` if the source or the song
// it describes is invalid; warnings come as "...: warning: MESSAGE".
bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<std::string>& errors);
// The same, with each error's place and rule.
bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<Finding>& findings);
// The same, with the song's sounds: `sounds` comes in as the sounds the song
// starts from (the defaults) and leaves with what its sound sections change.
bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, SongSounds& sounds, std::vector<Finding>& findings);
// The same, with what the notation says of time (its pick-up and bar lines).
// Findings include the song's warnings; false only for errors.
bool assemble_song(const std::string& source, const std::string& filename, std::vector<uint8_t>& block,
                   SongSounds& sounds, SongMarks& marks, std::vector<Finding>& findings);

// The notation alone, without the song checks: any block the notation can
// spell, valid or not (for the disassembler's round trip).
bool assemble_notation(const std::string& source, const std::string& filename,
                       std::vector<uint8_t>& block, std::vector<std::string>& errors);

// A sounds file: sound sections and channel headers with their mix, no
// music. Changes `sounds` as a song's sections would.
bool assemble_sounds(const std::string& source, const std::string& filename, SongSounds& sounds,
                     std::vector<Finding>& findings);
// The defaults file (data/sounds.txt): a sounds file that sets every field of
// every table, read over zeros, so that it needs no defaults of its own.
bool assemble_default_sounds(const std::string& source, const std::string& filename, SongSounds& sounds,
                             std::vector<Finding>& findings);
