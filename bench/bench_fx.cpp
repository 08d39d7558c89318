// Costs of the post-render effects on one whole song's float buffer of noise.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "driver/render.h"
#include "fx/delay.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"

namespace {

const std::vector<float>& song_noise()
{
    static const std::vector<float> noise = [] {
        std::mt19937 random(1);
        std::uniform_real_distribution<float> level(-30000.0f, 30000.0f);
        std::vector<float> buffer(SONG_SAMPLES);
        for (float& sample : buffer) sample = level(random);
        return buffer;
    }();
    return noise;
}

// Runs process on a fresh copy of the noise per iteration; the copy is not timed.
template <class Process>
void on_song(benchmark::State& state, Process process)
{
    std::vector<float> buffer(SONG_SAMPLES);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(buffer.data(), song_noise().data(), SONG_SAMPLES * sizeof(float));
        state.ResumeTiming();
        process(buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_delay_song(benchmark::State& state)
{
    on_song(state, [](float* b) { delay_process(b, SONG_SAMPLES, 25500, 1, 0.99f, 0.2f, 0.5f); });
}

void BM_reverb_song(benchmark::State& state)
{
    reverb_reset();
    on_song(state, [](float* b) { reverb_process(b, SONG_SAMPLES, 2.0f, 1.0f, 0.4f, 1.0f, 0.8f); });
}

void BM_master_equalise_song(benchmark::State& state)
{
    on_song(state, [](float* b) { master_equalise(b, SONG_SAMPLES); });
}

}  // namespace

BENCHMARK(BM_delay_song)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_reverb_song)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_master_equalise_song)->Unit(benchmark::kMillisecond)->Iterations(3);
