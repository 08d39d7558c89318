// The disassembler: song block -> song notation that assembles back to the
// same bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// False (with a message in `error`) if the block is too short to hold its
// offset table; any longer block is written out, broken or not.
bool disassemble_song(const uint8_t* block, size_t size, std::string& text, std::string& error);
