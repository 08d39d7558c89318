// Seeded mutation test of the song decoder, checker, disassembler and assembler: no crash
// or hang, the notation spells every block exactly, and whatever the checker accepts the
// interpreter plays without leaving its tables (watched by the sanitizers in the asan build).
#include <gtest/gtest.h>

#include <random>

#include "song_asm.h"
#include "song_check.h"
#include "song_disasm.h"
#include "song_test_songs.h"

namespace {

using Block = std::vector<uint8_t>;

Block mutate(Block block, std::mt19937& rng)
{
    for (int e = 1 + static_cast<int>(rng() % 4); e > 0 && !block.empty(); --e) {
        const size_t at = rng() % block.size();
        switch (rng() % 6) {
        case 0: block[at] = static_cast<uint8_t>(rng()); break;
        case 1: block[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: block.insert(block.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
        case 3: block.erase(block.begin() + static_cast<long>(at)); break;
        case 4: block.resize(at); break;
        default:  // a command byte with a small operand, where songs break most
            block[at] = static_cast<uint8_t>(0xF0 | (rng() % 16));
            if (at + 1 < block.size()) block[at + 1] = static_cast<uint8_t>(rng() % 64);
        }
    }
    return block;
}

// Mutated blocks through disassembler, checker and interpreter; mangled notation through the assembler.
TEST(SongFuzz, SongToolsAndInterpreterSurviveMutatedSongs)
{
    const std::string alphabet = "abcdefgrlovtkp@&[]*$<>+-#.0123456789 \n;|=_xABF";
    std::vector<std::string> texts;
    std::vector<Block> seeds;
    for (const auto& song : test_songs()) texts.push_back(song.second), seeds.push_back(assemble_ok(song.second));
    std::mt19937 rng(20240611);
    int accepted = 0;
    for (int tried = 0; tried < 5000; ++tried) {  // a fixed count: the same mutants everywhere
        const Block block = mutate(seeds[rng() % seeds.size()], rng);
        std::string text, error;
        std::vector<std::string> errors;
        if (disassemble_song(block.data(), block.size(), text, error)) {
            Block again;
            ASSERT_TRUE(assemble_notation(text, "fuzz.txt", again, errors)) << errors[0];
            ASSERT_EQ(again, block) << text;
        }
        if (check_song(block.data(), block.size()).empty()) {
            ++accepted;
            const auto engine = engine_playing(block);
            const TarqListeners to = every_voice(*engine);
            for (int t = 0; t < 3000; ++t, tarq(engine->tarq, to)) engine->tarq.tick_counter = 0;  // a tick on every call
        }
        text = texts[rng() % texts.size()];
        for (int e = 1 + static_cast<int>(rng() % 6); e > 0; --e) {
            const size_t at = rng() % text.size();
            if (rng() % 2) text[at] = alphabet[rng() % alphabet.size()];
            else text.erase(at, rng() % 8);
            if (text.empty()) text = "x";
        }
        Block assembled;
        errors.clear();
        if (assemble_song(text, "fuzz.txt", assembled, errors)) {
            EXPECT_TRUE(check_song(assembled.data(), assembled.size()).empty());
        } else {
            ASSERT_FALSE(errors.empty());
            EXPECT_EQ(errors[0].rfind("fuzz.txt:", 0), 0u) << errors[0];
            EXPECT_NE(errors[0].find(": error: "), std::string::npos) << errors[0];
        }
    }
    EXPECT_GT(accepted, 50);  // the interpreter did get to play mutants
}

}  // namespace
