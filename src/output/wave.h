// The WAV file writer: ./output.wav, 16-bit PCM stereo at 44,100 Hz; and
// for the song tool, files of any length and 32-bit float files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

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

// The header of the song's file (SONG_SAMPLES samples).
wave_header song_wave_header();

// Writes the header and `count` interleaved samples to ./output.wav. The file
// is written under a temporary name and renamed into place only when
// complete, so a failed export never leaves a truncated or half-replaced
// file. Returns false, after reporting why, when the file could not be written.
bool wave_export(const int16_t* samples, uint32_t count);

// The same, to any path (the temporary file goes into the same folder).
bool wave_export_to(const char* path, const int16_t* samples, uint32_t count);

// A tool's file of `count` samples, written as safely but without
// songrender's progress lines; a failure is reported on standard error
// only, as "PROGRAM: could not write PATH: REASON".
bool wave_write_pcm(const char* path, const int16_t* samples, uint32_t count, const char* program);

// A stereo 32-bit float file (format 3, with a fact chunk) built while its
// samples stream in, under a temporary name until float_wave_finish.
struct FloatWave {
    std::FILE* file = nullptr;
    std::string temp, path;
    const char* program = nullptr;
    uint32_t count = 0;  // samples appended
    bool ok = false;     // every write so far went through
};

// False, reported as wave_write_pcm does, if the file cannot be made.
bool float_wave_open(FloatWave& wave, const char* path, const char* program);
void float_wave_append(FloatWave& wave, const float* samples, uint32_t count);
// Multiplies every sample by `scale` in place, writes the header and renames
// the file into place; false, reported, if anything failed (nothing is left).
bool float_wave_finish(FloatWave& wave, float scale);
// Removes an unfinished file.
void float_wave_discard(FloatWave& wave);
