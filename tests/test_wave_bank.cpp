// The wave bank meets the shapes the oscillators and the LFO rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <vector>

#include "data/tables.h"

namespace {

int entry(int wave, int k) { return wavetable_data[wave * WAVE_LENGTH + (k & 255)]; }

// Share of the energy of harmonics 1..128 of one wave held by each harmonic.
std::vector<double> harmonic_share(int wave)
{
    std::vector<double> energy(WAVE_LENGTH / 2 + 1, 0.0);
    double total = 0.0;
    for (int h = 1; h <= WAVE_LENGTH / 2; ++h) {
        double re = 0.0, im = 0.0;
        for (int k = 0; k < WAVE_LENGTH; ++k) {
            const double angle = 2.0 * std::numbers::pi * h * k / WAVE_LENGTH;
            re += entry(wave, k) * std::cos(angle);
            im -= entry(wave, k) * std::sin(angle);
        }
        total += energy[h] = re * re + im * im;
    }
    for (double& e : energy) e /= total;
    return energy;
}

TEST(WaveBank, SampleShapesOfWaves0To7)
{
    std::set<int> levels;
    int square_flat = 0, steps = 0;
    for (int k = 0; k < WAVE_LENGTH; ++k) {
        for (int w = 0; w < WAVE_COUNT; ++w) ASSERT_LE(std::abs(entry(w, k)), 127) << w << " " << k;
        EXPECT_LE(std::abs(entry(0, k) - 127.0 * std::sin(2.0 * std::numbers::pi * k / WAVE_LENGTH)), 1.0) << k;
        EXPECT_GT(entry(2, k) * (k < 128 ? 1 : -1), 0) << "square half at " << k;
        square_flat += std::abs(entry(2, k)) == 111;
        EXPECT_LE(std::abs(entry(4, k) - (k < 209 ? 100 : -100)), 5) << k;
        EXPECT_LE(std::abs(entry(5, k) - (k < 75 ? 100 : -100)), 5) << k;
        EXPECT_EQ(entry(3, k), entry(7, k)) << k;
        levels.insert(entry(3, k));
        steps += entry(3, k) != entry(3, k + 1);
        EXPECT_EQ(entry(6, k) == entry(1, k - 35), k < 33 || k > 35) << "wave 6 is wave 1 delayed by 35, " << k;
    }
    EXPECT_GE(square_flat, 200);
    EXPECT_TRUE(levels.size() >= 3 && levels.size() <= 16) << levels.size();
    EXPECT_LE(steps, 16);  // long flat steps, not a smooth curve
    for (int edge : {0, 128}) {  // the square overshoots each edge and swings back
        int over = 0, under = 0;
        for (int d = 0; d < 12; ++d) {
            over += (edge ? -1 : 1) * entry(2, edge + d) > 111;
            under += (edge ? -1 : 1) * entry(2, edge + d) < 111;
        }
        EXPECT_TRUE(over > 0 && under > 0) << "edge " << edge;
    }
}

TEST(WaveBank, HarmonicCharacterOfWaves8To12)
{
    const auto w8 = harmonic_share(8), w10 = harmonic_share(10), w11 = harmonic_share(11);
    EXPECT_GT(w8[1] + w8[2] + w8[3], 0.97);
    EXPECT_GT(w10[2], 0.5);
    for (std::size_t h = 1; h < w10.size(); ++h) EXPECT_TRUE(h == 2 || w10[h] < w10[2]) << h;
    EXPECT_GT(w11[1] + w11[6] + w11[8], 0.9);
    for (int wave : {1, 6, 9, 12}) {  // irregular waves are rich in harmonics
        const auto s = harmonic_share(wave);
        EXPECT_GE(std::count_if(s.begin(), s.end(), [](double e) { return e > 0.005; }), 8) << wave;
    }
}

}  // namespace
