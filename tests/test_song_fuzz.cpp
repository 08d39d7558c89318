// The fuzz targets' requirements (tests/fuzz/song_probes.h) in every build:
// every seed and kept finding of their corpora, and a fixed set of mutants
// of the test songs, so that builds without libFuzzer (GCC, ThreadSanitizer,
// the ARM build) hold the song tools to the same rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "song_check.h"
#include "song_probes.h"
#include "song_test_songs.h"

namespace {

using Block = std::vector<uint8_t>;

Block read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Block(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each corpus holds seeds, and every input a fuzz run found fault with once.
TEST(SongFuzz, EveryInputOfTheCorporaMeetsItsTarget)
{
    for (const FuzzProbe& target : FUZZ_PROBES) {
        int inputs = 0;
        for (const auto& file : std::filesystem::directory_iterator(std::filesystem::path(SONGRENDER_FUZZ_CORPUS) / target.name)) {
            const Block input = read_bytes(file.path());
            EXPECT_EQ(target.probe(input.data(), input.size()), "") << file.path();
            ++inputs;
        }
        EXPECT_GE(inputs, 4) << target.name;  // the corpus is there and holds its seeds
    }
}

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

std::string mangle(std::string text, std::mt19937& rng)
{
    const std::string alphabet = "abcdefgrlovtkp@&[]*$<>+-#.0123456789 \n;|=_xABF";
    for (int e = 1 + static_cast<int>(rng() % 6); e > 0; --e) {
        const size_t at = rng() % text.size();
        if (rng() % 2) text[at] = alphabet[rng() % alphabet.size()];
        else text.erase(at, rng() % 8);
        if (text.empty()) text = "x";
    }
    return text;
}

// Mutated blocks through the block target, mangled notation through the notation's.
TEST(SongFuzz, MutantsOfTheTestSongsMeetTheTargets)
{
    std::vector<std::string> texts;
    std::vector<Block> seeds;
    for (const auto& song : test_songs()) texts.push_back(song.second), seeds.push_back(assemble_ok(song.second));
    std::mt19937 rng(20240611);
    int accepted = 0;
    for (int tried = 0; tried < 2000; ++tried) {  // a fixed count: the same mutants everywhere
        const Block block = mutate(seeds[rng() % seeds.size()], rng);
        accepted += check_song(block.data(), block.size()).empty();
        ASSERT_EQ(probe_song_block(block.data(), block.size()), "");
        const std::string text = mangle(texts[rng() % texts.size()], rng);
        ASSERT_EQ(probe_notation(reinterpret_cast<const uint8_t*>(text.data()), text.size()), "") << text;
    }
    EXPECT_GT(accepted, 20);  // the interpreter did get to play mutants
}

}  // namespace
