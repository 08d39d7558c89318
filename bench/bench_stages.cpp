// Costs of each stage of a whole run and of the whole run without playback,
// on the embedded song or on a whole song's float buffer of noise.
//
// The file also builds in the tree of the straightforward pipeline
// (4976298), which kept every channel whole in process-wide buffers:
// bench/compare --stages copies it there, so both columns of the README's
// table come from this source. Each stage is one small function per tree,
// chosen by the timeline header that only the engine of values has; the
// benchmarks themselves are shared.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
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

#if __has_include("base/timeline.h")
#define ENGINE_OF_VALUES 1
#include "driver/mix.h"
#endif

namespace {

float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }

#ifdef ENGINE_OF_VALUES

const uint8_t* delay_row(int p) { return tarq_sounds.delay_bank[p]; }
const uint8_t* reverb_row(int q) { return tarq_sounds.reverb_bank[q]; }

void bake(Oscillator& osc, uint8_t mix) { update_wavetable(osc, 10, 6, 10, 3, mix, 20, 1.0f, 0.2f); }

void render_all_channels()
{
    const auto engine = std::make_unique<Engine>();
    std::vector<int16_t> block(2 * RENDER_BLOCK_FRAMES);
    auto* const out = reinterpret_cast<int16_t(*)[2]>(block.data());
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        engine_start(*engine, tarq_data, tarq_sounds.instrument_bank, k);
        for (uint32_t done = 0; done < SONG_FRAMES; done += RENDER_BLOCK_FRAMES)
            render_channel_block(*engine, k, std::min(RENDER_BLOCK_FRAMES, SONG_FRAMES - done), out);
        benchmark::DoNotOptimize(block.data());
    }
}

void delay_song(float* b, const uint8_t* row)
{
    DelayRun run;
    Fault fault;
    if (!delay_start(run, 100u * row[0], row[3], percent(row[1]), percent(row[2]), percent(row[4]), fault)) std::abort();
    delay_block(run, b, SONG_SAMPLES);
    delay_finish(run);
}

// One reverb carries its state from run to run, as it does from channel to channel.
void reverb_song(float* b, const uint8_t* row)
{
    static const auto reverb = std::make_unique<Reverb>();
    reverb_start(*reverb, percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
    reverb_block(*reverb, b, SONG_SAMPLES);
    reverb_finish(*reverb);
}

void equalise_once(float* b)
{
    FilterStage stage = filter_start(FILTER_LOW_PASS, tarq_sounds.eq_data[0], tarq_sounds.eq_data[1]);
    filter_block(stage, b, SONG_SAMPLES);
}

void equalise_master(float* b)
{
    MasterEqualiser eq = master_equaliser_start(tarq_sounds);
    filter_chain_block(eq.first, b, SONG_SAMPLES);
    filter_chain_block(eq.second, b, SONG_SAMPLES);
}

void peak_and_convert(float* b, int16_t* song)
{
    normalise_to_16_bits(b, song, SONG_SAMPLES, master_peak_of(b, SONG_SAMPLES));
}

int export_song(const char* path, const int16_t* song) { return wave_write_pcm(path, song, SONG_SAMPLES); }

// As songrender: the mix, normalised in place, written.
int whole_run(const char* path)
{
    MasterMix mix{};
    Fault fault;
    if (!mix_channels(MixOptions{tarq_data, &tarq_sounds}, mix, fault)) std::abort();
    const int16_t* song = master_to_song(mix.samples, mix.length, mix.peak);
    const int error = wave_write_pcm(path, song, mix.length);
    mix_release(mix);
    return error;
}

#else  // the straightforward pipeline: process-wide state, whole-buffer stages

const uint8_t* delay_row(int p) { return delay_bank[p]; }
const uint8_t* reverb_row(int q) { return reverb_bank[q]; }

void bake(int, uint8_t mix)
{
    update_wavetable(0, 10, 6, 10, 3, mix, 20, 1.0f, 0.2f);
    benchmark::DoNotOptimize(osc_wavetable[0][0][0]);
}

void render_all_channels()
{
    render_reset();
    voice_setup();
    render_song();
    benchmark::DoNotOptimize(channel_buffer_int);
}

void delay_song(float* b, const uint8_t* row)
{
    delay_process(b, SONG_SAMPLES, 100u * row[0], row[3], percent(row[1]), percent(row[2]), percent(row[4]));
}

void reverb_song(float* b, const uint8_t* row)
{
    reverb_process(b, SONG_SAMPLES, percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
}

void equalise_once(float* b) { filter_process(b, SONG_SAMPLES, FILTER_LOW_PASS, eq_data[0], eq_data[1]); }
void equalise_master(float* b) { master_equalise(b, SONG_SAMPLES); }
void peak_and_convert(float* b, int16_t* song) { master_normalise(b, song, SONG_SAMPLES); }

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

int export_song(const char* path, const int16_t* song)
{
    Quiet quiet;
    return wave_export_to(path, song, SONG_SAMPLES) ? 0 : 1;
}

int whole_run(const char* path)
{
    Quiet quiet;
    render_reset();
    reverb_reset();
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
    const bool written = wave_export_to(path, song, SONG_SAMPLES);
    std::free(song);
    return written ? 0 : 1;
}

#endif

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

void BM_update_wavetable(benchmark::State& state)
{
#ifdef ENGINE_OF_VALUES
    Oscillator osc;
#else
    int osc = 0;
#endif
    for (auto _ : state) {
        bake(osc, 37);
        benchmark::ClobberMemory();
    }
}

// A bake under a running wave envelope: the mix moves every time, so both
// sides' waves are morphed anew.
void BM_update_wavetable_moving_mix(benchmark::State& state)
{
#ifdef ENGINE_OF_VALUES
    Oscillator osc;
#else
    int osc = 0;
#endif
    uint8_t mix = 0;
    for (auto _ : state) {
        bake(osc, mix);
        mix = static_cast<uint8_t>((mix + 1) % 101);
        benchmark::ClobberMemory();
    }
}

void BM_render_all_channels(benchmark::State& state)
{
    for (auto _ : state) render_all_channels();
}

void BM_delay_preset(benchmark::State& state)
{
    const uint8_t* row = delay_row(static_cast<int>(state.range(0)));
    on_song(state, [row](float* b) { delay_song(b, row); });
}

void BM_reverb_preset(benchmark::State& state)
{
    const uint8_t* row = reverb_row(static_cast<int>(state.range(0)));
    on_song(state, [row](float* b) { reverb_song(b, row); });
}

void BM_equaliser_one_run(benchmark::State& state) { on_song(state, equalise_once); }

void BM_equaliser_twelve_runs(benchmark::State& state) { on_song(state, equalise_master); }

void BM_peak_and_conversion(benchmark::State& state)
{
    std::vector<int16_t> song(SONG_SAMPLES);
    on_song(state, [&song](float* b) { peak_and_convert(b, song.data()); });
}

void BM_export(benchmark::State& state)
{
    std::vector<int16_t> song(SONG_SAMPLES, 1234);
    char path[] = "/tmp/songrender-bench-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    for (auto _ : state) benchmark::DoNotOptimize(export_song(path, song.data()));
    unlink(path);
}

// From the start to output.wav written, playback left out.
void BM_whole_run_without_playback(benchmark::State& state)
{
    char folder[] = "/tmp/songrender-bench-XXXXXX";
    const char* dir = mkdtemp(folder);
    const std::string path = std::string(dir) + "/output.wav";
    for (auto _ : state) benchmark::DoNotOptimize(whole_run(path.c_str()));
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
