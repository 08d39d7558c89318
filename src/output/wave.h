// The WAV file writer: 16-bit PCM stereo files at 44,100 Hz of any length,
// and 32-bit float files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "output/draft.h"

#pragma pack(push, 1)
struct wave_header {
    char riff_id[4];           // "RIFF"
    uint32_t riff_size;        // file size - 8
    char wave_id[4];           // "WAVE"
    char fmt_id[4];            // "fmt "
    uint32_t fmt_size;         // 16
    uint16_t audio_format;     // 1 = integer PCM
    uint16_t channel_count;    // 2
    uint32_t sample_rate;      // 44100
    uint32_t byte_rate;        // sample_rate * block_align
    uint16_t block_align;      // bytes per frame
    uint16_t bits_per_sample;  // 16
    char data_id[4];           // "data"
    uint32_t data_size;        // bytes of samples
};
#pragma pack(pop)
static_assert(sizeof(wave_header) == 44, "the WAV header is 44 bytes");

// The header of a file of `count` interleaved 16-bit samples, in
// little-endian byte order.
wave_header pcm_wave_header(uint32_t count);

// Something to do once the header is written and the samples follow
// (songrender says so).
struct WaveProgress {
    void (*writing_samples)(void* context) = nullptr;
    void* context = nullptr;
};

// Writes the header and `count` interleaved samples to `path`, whole or not
// at all (a draft, see output/draft.h). Returns 0, or the reason (an errno
// value).
int wave_write_pcm(const char* path, const int16_t* samples, uint32_t count, WaveProgress progress = {});
// The same, but only ready (see draft_ready): `draft` is put in place with
// draft_place, or dropped with draft_discard.
int wave_ready_pcm(Draft& draft, const char* path, const int16_t* samples, uint32_t count,
                   WaveProgress progress = {});

// A stereo 32-bit float file (format 3, with a fact chunk) built while its
// samples stream in, unnamed until float_wave_ready and draft_place.
struct FloatWave {
    Draft draft;
    uint32_t count = 0;  // samples appended
    int error = 0;       // why the first write that failed did (an errno value), or 0
};

// 0, or the reason the file cannot be made.
int float_wave_open(FloatWave& wave, const char* path);
void float_wave_append(FloatWave& wave, const float* samples, uint32_t count);
// Keeps only the first `count` samples appended (all of them when there are
// no more).
void float_wave_keep(FloatWave& wave, uint32_t count);
// Multiplies every sample by `scale` in place and writes the header, leaving
// the file ready (see draft_ready) to be put in place with
// draft_place(wave.draft); 0, or the reason it failed (nothing is left).
int float_wave_ready(FloatWave& wave, float scale);
// Drops the file, ready or not.
void float_wave_discard(FloatWave& wave);
