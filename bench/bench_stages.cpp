// Costs of each stage of a whole run and of the whole run without playback,
// on the embedded song or on a whole song's float buffer of noise.
//
// The file also builds in the tree of the straightforward pipeline
// (4976298), which kept every channel whole: bench/compare --stages copies
// it there, so both columns of the README's table come from this source.
// The two benchmarks whose calls differ between the pipelines choose theirs
// by the driver header that only the streamed one has.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/delay.h"
#include "fx/filter.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "output/wave.h"
#include "voice/oscillator.h"

#if __has_include("driver/mix.h")
#include "driver/mix.h"
#define STREAMED_PIPELINE 1
#endif

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

// Standard output to /dev/null while the stages print their progress.
class Quiet {
public:
    Quiet() : saved_(dup(1))
    {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Quiet()
    {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }

void BM_update_wavetable(benchmark::State& state)
{
    for (auto _ : state) {
        update_wavetable(0, 10, 6, 10, 3, 37, 20, 1.0f, 0.2f);
        benchmark::DoNotOptimize(osc_wavetable[0][0][0]);
    }
}

// A bake under a running wave envelope: the mix moves every time, so both
// sides' waves are morphed anew.
void BM_update_wavetable_moving_mix(benchmark::State& state)
{
    uint8_t mix = 0;
    for (auto _ : state) {
        update_wavetable(0, 10, 6, 10, 3, mix, 20, 1.0f, 0.2f);
        mix = static_cast<uint8_t>((mix + 1) % 101);
        benchmark::DoNotOptimize(osc_wavetable[0][0][0]);
    }
}

void BM_render_all_channels(benchmark::State& state)
{
    for (auto _ : state) {
        render_reset();
#ifdef STREAMED_PIPELINE
        for (int k = 0; k < RENDER_CHANNELS; ++k) {
            render_channel_start();
            for (uint32_t done = 0; done < SONG_FRAMES; done += RENDER_BLOCK_FRAMES)
                render_channel_block(k, std::min(RENDER_BLOCK_FRAMES, SONG_FRAMES - done));
        }
#else
        voice_setup();
        render_song();
#endif
        benchmark::DoNotOptimize(channel_buffer_int);
    }
}

void BM_delay_preset(benchmark::State& state)
{
    const uint8_t* row = delay_bank[state.range(0)];
    on_song(state, [row](float* b) {
        delay_process(b, SONG_SAMPLES, 100u * row[0], row[3], percent(row[1]), percent(row[2]),
                      percent(row[4]));
    });
}

void BM_reverb_preset(benchmark::State& state)
{
    const uint8_t* row = reverb_bank[state.range(0)];
    reverb_reset();
    on_song(state, [row](float* b) {
        reverb_process(b, SONG_SAMPLES, percent(row[0]), percent(row[1]), percent(row[2]),
                       percent(row[3]), percent(row[4]));
    });
}

void BM_equaliser_one_run(benchmark::State& state)
{
    on_song(state, [](float* b) { filter_process(b, SONG_SAMPLES, FILTER_LOW_PASS, eq_data[0], eq_data[1]); });
}

void BM_equaliser_twelve_runs(benchmark::State& state)
{
    on_song(state, [](float* b) { master_equalise(b, SONG_SAMPLES); });
}

void BM_peak_and_conversion(benchmark::State& state)
{
    std::vector<int16_t> song(SONG_SAMPLES);
    on_song(state, [&song](float* b) { master_normalise(b, song.data(), SONG_SAMPLES); });
}

void BM_export(benchmark::State& state)
{
    std::vector<int16_t> song(SONG_SAMPLES, 1234);
    char path[] = "/tmp/songrender-bench-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    for (auto _ : state) {
        Quiet quiet;
        benchmark::DoNotOptimize(wave_export_to(path, song.data(), SONG_SAMPLES));
    }
    unlink(path);
}

// From the start to output.wav written, playback left out.
void BM_whole_run_without_playback(benchmark::State& state)
{
    char folder[] = "/tmp/songrender-bench-XXXXXX";
    const char* dir = mkdtemp(folder);
    const std::string path = std::string(dir) + "/output.wav";
    for (auto _ : state) {
        Quiet quiet;
        render_reset();
        reverb_reset();
#ifdef STREAMED_PIPELINE
        const MasterMix mix = mix_channels();
        const int16_t* song = master_to_song(mix.samples, mix.length, mix.peak);
        benchmark::DoNotOptimize(wave_export_to(path.c_str(), song, SONG_SAMPLES));
        release_song_floats(mix.samples, mix.length);
#else
        voice_setup();
        render_song();
        float* master = take_floats(SONG_SAMPLES, "the master mix");
        std::memset(master, 0, SONG_SAMPLES * sizeof(float));
        for (int k = 0; k < RENDER_CHANNELS; ++k) {
            float* channel = take_floats(SONG_SAMPLES, "a channel mix buffer");
            channel_to_float(k, channel);
            channel_effects(k, channel, SONG_SAMPLES);
            for (uint32_t i = 0; i < SONG_SAMPLES; ++i) master[i] = master[i] + channel[i];
            std::free(channel);
        }
        master_equalise(master, SONG_SAMPLES);
        auto* song = static_cast<int16_t*>(take_buffer(SONG_SAMPLES * sizeof(int16_t), "the finished song"));
        master_normalise(master, song, SONG_SAMPLES);
        std::free(master);
        benchmark::DoNotOptimize(wave_export_to(path.c_str(), song, SONG_SAMPLES));
        std::free(song);
#endif
    }
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace

BENCHMARK(BM_update_wavetable);
BENCHMARK(BM_update_wavetable_moving_mix);
BENCHMARK(BM_render_all_channels)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_delay_preset)->DenseRange(1, FX_PRESET_COUNT - 1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_reverb_preset)->DenseRange(1, FX_PRESET_COUNT - 1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_equaliser_one_run)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_equaliser_twelve_runs)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_peak_and_conversion)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_export)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_whole_run_without_playback)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
