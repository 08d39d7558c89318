// What the fuzz targets require of every input, shared by the libFuzzer
// targets (fuzz_target.cpp, one per probe) and the unit tests that replay
// their corpora and mutate the test songs. A probe returns what went wrong,
// empty when the input was handled as it must be; reads outside a buffer
// and undefined behaviour are the sanitizers' to catch.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A song block: the disassembly assembles back to the same bytes, and a
// block that check_song accepts plays through the interpreter and the voices
// without reading outside the block, nesting loops deeper than the
// interpreter holds or reading an event twice in one tick (a stall).
std::string probe_song_block(const uint8_t* data, size_t size);

// Song notation: errors in the compiler's form; an assembled song passes
// check_song, plays as a checked block must, and comes back through the
// disassembler as the same bytes.
std::string probe_notation(const uint8_t* data, size_t size);

// A sounds file, read both over the defaults and as the defaults file:
// errors in the compiler's form, and false exactly when one is an error.
std::string probe_sound_sections(const uint8_t* data, size_t size);

// A command line, one argument a line (the first names the command):
// parse_arguments and songtool render's parser accept only what they say
// they accept and give a reason for the rest.
std::string probe_command_line(const uint8_t* data, size_t size);

// The probes by the name of their target, which is also their corpus folder.
struct FuzzProbe {
    const char* name;
    std::string (*probe)(const uint8_t* data, size_t size);
};
inline constexpr FuzzProbe FUZZ_PROBES[] = {
    {"song_block", probe_song_block},
    {"song_notation", probe_notation},
    {"sound_sections", probe_sound_sections},
    {"command_line", probe_command_line},
};
