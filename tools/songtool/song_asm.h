// The assembler: song notation -> song block.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "song_findings.h"

// Assembles `source` (read from file `filename`, used in messages) into
// `block` and checks the result. Returns false with messages of the form
// "FILE:LINE:COLUMN: error: MESSAGE" in `errors` if the source or the song
// it describes is invalid.
bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<std::string>& errors);
// The same, with each error's place and rule.
bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<Finding>& findings);

// The notation alone, without the song checks: any block the notation can
// spell, valid or not (for the disassembler's round trip).
bool assemble_notation(const std::string& source, const std::string& filename,
                       std::vector<uint8_t>& block, std::vector<std::string>& errors);
