// The WAV file writer: ./output.wav, 16-bit PCM stereo at 44,100 Hz.
#pragma once
#include <cstdint>

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

// The header of the song's file, in little-endian byte order.
wave_header song_wave_header();

// Writes the header and `count` interleaved samples to ./output.wav. The file
// is written under a temporary name and renamed into place only when
// complete, so a failed export never leaves a truncated or half-replaced
// file. Returns false, after reporting why, when the file could not be written.
bool wave_export(const int16_t* samples, uint32_t count);

// The same, to any path (the temporary file goes into the same folder).
bool wave_export_to(const char* path, const int16_t* samples, uint32_t count);
