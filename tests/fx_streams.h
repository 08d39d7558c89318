// Effect test helpers: stereo noise, a buffer cut into blocks, bit-exact comparison.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
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

// Calls process(block, floats) on consecutive blocks whose frame counts cycle through sizes.
template <class Process>
void in_blocks(std::vector<float>& buffer, const std::vector<uint32_t>& sizes, Process process)
{
    const size_t frames = buffer.size() / 2;
    for (size_t f = 0, k = 0; f < frames; k = (k + 1) % sizes.size()) {
        const auto count = static_cast<uint32_t>(std::min<size_t>(sizes[k], frames - f));
        process(&buffer[2 * f], 2 * count);
        f += count;
    }
}

inline ::testing::AssertionResult same_bits(const std::vector<float>& expected, const std::vector<float>& actual)
{
    if (expected.size() != actual.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < expected.size(); ++i)
        if (std::bit_cast<uint32_t>(expected[i]) != std::bit_cast<uint32_t>(actual[i]))
            return ::testing::AssertionFailure() << "first difference at float " << i << " (frame " << i / 2
                                                 << "): expected " << expected[i] << ", got " << actual[i];
    return ::testing::AssertionSuccess();
}
