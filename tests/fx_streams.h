// Helpers for the effect tests: random stereo material, a song cut into
// blocks, and a bit-for-bit comparison of two buffers.
#pragma once
#include <gtest/gtest.h>

#include <bit>
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

// Interleaved stereo noise at the level of loud channel buffers.
inline std::vector<float> stereo_noise(uint32_t frames, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> level(-40000.0f, 40000.0f);
    std::vector<float> buffer(2 * static_cast<size_t>(frames));
    for (float& sample : buffer) sample = level(random);
    return buffer;
}

// Hands the buffer to process(block, length) in consecutive blocks whose
// frame counts cycle through sizes, the last block taking what is left.
template <class Process>
void in_blocks(std::vector<float>& buffer, const std::vector<uint32_t>& sizes, Process process)
{
    const auto frames = static_cast<uint32_t>(buffer.size() / 2);
    uint32_t f = 0;
    for (auto size = sizes.begin(); f < frames; size = (size + 1 == sizes.end()) ? sizes.begin() : size + 1) {
        const uint32_t count = std::min(*size, frames - f);
        process(&buffer[2 * static_cast<size_t>(f)], 2 * count);
        f += count;
    }
}

inline ::testing::AssertionResult same_bits(const std::vector<float>& expected,
                                            const std::vector<float>& actual)
{
    if (expected.size() != actual.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::bit_cast<uint32_t>(expected[i]) != std::bit_cast<uint32_t>(actual[i]))
            return ::testing::AssertionFailure() << "first difference at float " << i << " (frame "
                                                 << i / 2 << "): expected " << expected[i]
                                                 << ", got " << actual[i];
    }
    return ::testing::AssertionSuccess();
}

