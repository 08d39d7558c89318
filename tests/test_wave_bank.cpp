// The wave bank meets the shapes the oscillators and the LFO rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <vector>

#include "data/tables.h"

namespace {

int entry(int wave, int k) { return wavetable_data[wave * WAVE_LENGTH + (k & 255)]; }

// Energy of harmonics 1..128 of one wave (index = harmonic number).
std::vector<double> harmonic_energy(int wave)
{
    std::vector<double> energy(WAVE_LENGTH / 2 + 1, 0.0);
    for (int h = 1; h <= WAVE_LENGTH / 2; ++h) {
        double re = 0.0, im = 0.0;
        for (int k = 0; k < WAVE_LENGTH; ++k) {
            const double angle = 2.0 * std::numbers::pi * h * k / WAVE_LENGTH;
            re += entry(wave, k) * std::cos(angle);
            im -= entry(wave, k) * std::sin(angle);
        }
        energy[h] = re * re + im * im;
    }
    return energy;
}

double share(const std::vector<double>& energy, std::initializer_list<int> harmonics)
{
    double total = 0.0, part = 0.0;
    for (std::size_t h = 1; h < energy.size(); ++h) total += energy[h];
    for (int h : harmonics) part += energy[h];
    return part / total;
}

int harmonics_above(const std::vector<double>& energy, double fraction)
{
    double total = 0.0;
    for (double e : energy) total += e;
    int count = 0;
    for (double e : energy) count += e > fraction * total;
    return count;
}

TEST(WaveBank, EverySampleIsWithin127)
{
    for (int i = 0; i < WAVE_COUNT * WAVE_LENGTH; ++i) {
        EXPECT_GE(wavetable_data[i], -127) << i;
        EXPECT_LE(wavetable_data[i], 127) << i;
    }
}

TEST(WaveBank, Wave0IsASine)
{
    for (int k = 0; k < WAVE_LENGTH; ++k)
        EXPECT_LE(std::abs(entry(0, k) - 127.0 * std::sin(2.0 * std::numbers::pi * k / WAVE_LENGTH)), 1.0) << k;
}

TEST(WaveBank, Wave2IsASquareOf111WithRingingAtBothEdges)
{
    int flat = 0;
    for (int k = 0; k < WAVE_LENGTH; ++k) {
        const int level = k < 128 ? 111 : -111;
        EXPECT_GT(entry(2, k) * level, 0) << "wrong half at " << k;
        flat += entry(2, k) == level;
    }
    EXPECT_GE(flat, 200);
    // Each edge overshoots and swings back within a few entries.
    for (int edge : {0, 128}) {
        const int sign = edge == 0 ? 1 : -1;
        int over = 0, under = 0;
        for (int d = 0; d < 12; ++d) {
            over += sign * entry(2, edge + d) > 111;
            under += sign * entry(2, edge + d) < 111;
        }
        EXPECT_GT(over, 0) << "edge " << edge;
        EXPECT_GT(under, 0) << "edge " << edge;
    }
}

TEST(WaveBank, Waves4And5ArePulsesOf209And75Entries)
{
    for (auto [wave, high] : {std::pair{4, 209}, std::pair{5, 75}}) {
        for (int k = 0; k < WAVE_LENGTH; ++k) {
            const int expected = k < high ? 100 : -100;
            EXPECT_LE(std::abs(entry(wave, k) - expected), 5) << "wave " << wave << " entry " << k;
        }
    }
}

TEST(WaveBank, Waves3And7AreTheSameSteppedWave)
{
    std::set<int> levels;
    int changes = 0;
    for (int k = 0; k < WAVE_LENGTH; ++k) {
        EXPECT_EQ(entry(3, k), entry(7, k)) << k;
        levels.insert(entry(3, k));
        changes += entry(3, k) != entry(3, k + 1);
    }
    EXPECT_GE(levels.size(), 3u);
    EXPECT_LE(levels.size(), 16u);
    EXPECT_LE(changes, 16);  // long flat steps, not a smooth curve
}

TEST(WaveBank, Wave6IsWave1DelayedBy35ExceptAtTheSplice)
{
    for (int k = 0; k < WAVE_LENGTH; ++k) {
        const bool splice = k >= 33 && k <= 35;
        EXPECT_EQ(entry(6, k) == entry(1, k - 35), !splice) << k;
    }
}

TEST(WaveBank, HarmonicCharacterOfWaves8To11)
{
    EXPECT_GT(share(harmonic_energy(8), {1, 2, 3}), 0.97);
    const auto wave10 = harmonic_energy(10);
    EXPECT_GT(share(wave10, {2}), 0.5);
    for (std::size_t h = 3; h < wave10.size(); ++h) EXPECT_LT(wave10[h], wave10[2]) << h;
    EXPECT_LT(wave10[1], wave10[2]);
    EXPECT_GT(share(harmonic_energy(11), {1, 6, 8}), 0.9);
}

TEST(WaveBank, IrregularWavesAreRichInHarmonics)
{
    for (int wave : {1, 6, 9, 12}) EXPECT_GE(harmonics_above(harmonic_energy(wave), 0.005), 8) << wave;
}

}  // namespace
