// Spellings shared by the assembler and the disassembler of the song
// notation, so that what one writes the other reads.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// Length code -> its spelling: MML lengths (4 = quarter = 32 ticks), dotted
// lengths, and 0 for the code that takes no time.
inline constexpr std::string_view LENGTH_SPELLING[16] = {
    "1", "2", "4", "8", "16", "32", "64", "128",
    "2.", "4.", "8.", "16.", "32.", "64.", "128.", "0",
};

// Note number 1..12 -> its spelling within the octave.
inline constexpr std::string_view NOTE_SPELLING[13] = {
    "", "c", "c+", "d", "d+", "e", "f", "f+", "g", "g+", "a", "a+", "b",
};

// Note number of a plain note letter a..g.
constexpr int note_letter_number(char letter)
{
    constexpr int numbers[7] = {10, 12, 1, 3, 5, 6, 8};  // a b c d e f g
    return numbers[letter - 'a'];
}

// Name the disassembler gives pattern p.
inline std::string pattern_label(int p) { return "p" + std::to_string(p); }
