// Costs of the render path: one wave-table bake and one whole frame.
#include <benchmark/benchmark.h>

#include "driver/render.h"
#include "voice/oscillator.h"

static void BM_update_wavetable(benchmark::State& state)
{
    for (auto _ : state) {
        update_wavetable(0, 10, 6, 10, 3, 37, 20, 1.0f, 0.2f);
        benchmark::DoNotOptimize(osc_wavetable[0][0][0]);
    }
}
BENCHMARK(BM_update_wavetable);

static void BM_render_frames(benchmark::State& state)
{
    render_reset();
    voice_setup();
    uint32_t f = 0;
    for (auto _ : state) {
        render_frame(f);
        f = (f + 1) % SONG_FRAMES;
    }
}
BENCHMARK(BM_render_frames);
