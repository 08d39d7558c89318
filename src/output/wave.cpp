#include "output/wave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <string>

#include "base/timeline.h"
#include "output/draft.h"

namespace {

[[maybe_unused]] uint16_t byte_swap(uint16_t v) { return __builtin_bswap16(v); }
[[maybe_unused]] uint32_t byte_swap(uint32_t v) { return __builtin_bswap32(v); }
[[maybe_unused]] int16_t byte_swap(int16_t v) { return static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v))); }
[[maybe_unused]] float byte_swap(float v) { return std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(v))); }

template <typename T>
T little_endian(T value)
{
    if constexpr (std::endian::native == std::endian::little) return value;
    else return byte_swap(value);
}

// Samples in little-endian order, in pieces so a big-endian host needs no
// second copy of the song.
template <typename T>
bool write_samples(std::FILE* file, const T* samples, uint32_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        return std::fwrite(samples, sizeof *samples, count, file) == count;
    } else {
        T piece[4096];
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min<uint32_t>(count - done, 4096);
            for (uint32_t i = 0; i < n; ++i) piece[i] = little_endian(samples[done + i]);
            if (std::fwrite(piece, sizeof *piece, n, file) != n) return false;
            done += n;
        }
        return true;
    }
}

// Header of a stereo file at the song's rate: fmt_size 16 and PCM, or 18
// with the extension size 0 for other formats (which also need a fact chunk).
void fill_header(wave_header& h, uint32_t fmt_size, uint16_t format, uint16_t bits,
                 uint32_t extra_bytes, uint32_t data_bytes)
{
    const uint16_t frame_bytes = static_cast<uint16_t>(2 * bits / 8);
    std::memcpy(h.riff_id, "RIFF", 4);
    h.riff_size = little_endian<uint32_t>(data_bytes + 36 + extra_bytes);
    std::memcpy(h.wave_id, "WAVE", 4);
    std::memcpy(h.fmt_id, "fmt ", 4);
    h.fmt_size = little_endian<uint32_t>(fmt_size);
    h.audio_format = little_endian<uint16_t>(format);
    h.channel_count = little_endian<uint16_t>(2);
    h.sample_rate = little_endian<uint32_t>(SAMPLE_RATE);
    h.byte_rate = little_endian<uint32_t>(SAMPLE_RATE * frame_bytes);
    h.block_align = little_endian<uint16_t>(frame_bytes);
    h.bits_per_sample = little_endian<uint16_t>(bits);
    std::memcpy(h.data_id, "data", 4);
    h.data_size = little_endian<uint32_t>(data_bytes);
}

}  // namespace

wave_header pcm_wave_header(uint32_t count)
{
    wave_header h;
    fill_header(h, 16, 1, 16, 0, count * 2);
    return h;
}

int wave_ready_pcm(Draft& draft, const char* path, const int16_t* samples, uint32_t count, WaveProgress progress)
{
    if (const int error = draft_open(draft, path)) return error;
    errno = 0;
    const wave_header header = pcm_wave_header(count);
    bool ok = std::fwrite(&header, sizeof header, 1, draft.file) == 1;
    if (progress.writing_samples != nullptr) progress.writing_samples(progress.context);
    ok = ok && write_samples(draft.file, samples, count);
    return draft_ready(draft, ok);
}

int wave_write_pcm(const char* path, const int16_t* samples, uint32_t count, WaveProgress progress)
{
    Draft draft;
    const int error = wave_ready_pcm(draft, path, samples, count, progress);
    return error != 0 ? error : draft_place(draft);
}

namespace {

// The float file's header: the PCM layout's fields with fmt grown by the
// two-byte extension size, then a fact chunk with the frame count, then data.
#pragma pack(push, 1)
struct float_wave_header {
    char riff_id[4];
    uint32_t riff_size;
    char wave_id[4];
    char fmt_id[4];
    uint32_t fmt_size;  // 18
    uint16_t audio_format;  // 3 = IEEE float
    uint16_t channel_count;
    uint32_t sample_rate;
    uint32_t byte_rate;
    uint16_t block_align;
    uint16_t bits_per_sample;  // 32
    uint16_t extension_size;   // 0
    char fact_id[4];           // "fact"
    uint32_t fact_size;        // 4
    uint32_t frame_count;
    char data_id[4];
    uint32_t data_size;
};
#pragma pack(pop)
static_assert(sizeof(float_wave_header) == 58, "the float WAV header is 58 bytes");

float_wave_header float_header(uint32_t count)
{
    constexpr uint32_t EXTRA = 2 + 12;  // extension size, fact chunk
    wave_header pcm;
    fill_header(pcm, 18, 3, 32, EXTRA, count * 4);
    float_wave_header h;
    std::memcpy(&h, &pcm, offsetof(wave_header, data_id));  // up to bits_per_sample
    h.extension_size = 0;
    std::memcpy(h.fact_id, "fact", 4);
    h.fact_size = little_endian<uint32_t>(4);
    h.frame_count = little_endian<uint32_t>(count / 2);
    std::memcpy(h.data_id, "data", 4);
    h.data_size = pcm.data_size;
    return h;
}

// Keeps the reason of the first write that failed; false once one has.
bool went_through(FloatWave& wave, bool ok)
{
    if (!ok && wave.error == 0) wave.error = errno != 0 ? errno : EIO;
    return wave.error == 0;
}

}  // namespace

int float_wave_open(FloatWave& wave, const char* path)
{
    wave = FloatWave{};
    if (const int error = draft_open(wave.draft, path)) return error;
    const float_wave_header placeholder{};
    errno = 0;
    went_through(wave, std::fwrite(&placeholder, sizeof placeholder, 1, wave.draft.file) == 1);
    return 0;
}

void float_wave_append(FloatWave& wave, const float* samples, uint32_t count)
{
    if (wave.error == 0) went_through(wave, write_samples(wave.draft.file, samples, count));
    wave.count += count;
}

void float_wave_keep(FloatWave& wave, uint32_t count)
{
    if (count >= wave.count) return;
    const auto size = static_cast<off_t>(sizeof(float_wave_header) + 4ull * count);
    if (wave.error == 0)
        went_through(wave, std::fflush(wave.draft.file) == 0 && ftruncate(fileno(wave.draft.file), size) == 0);
    wave.count = count;
}

int float_wave_ready(FloatWave& wave, float scale)
{
    constexpr uint32_t PIECE = 4096;
    float piece[PIECE];
    const long data_start = static_cast<long>(sizeof(float_wave_header));
    bool ok = wave.error == 0 && went_through(wave, std::fflush(wave.draft.file) == 0);
    for (uint32_t done = 0; ok && done < wave.count;) {
        const uint32_t n = std::min(wave.count - done, PIECE);
        const long at = data_start + 4L * done;
        ok = std::fseek(wave.draft.file, at, SEEK_SET) == 0 && std::fread(piece, 4, n, wave.draft.file) == n;
        for (uint32_t i = 0; ok && i < n; ++i)
            piece[i] = little_endian(little_endian(piece[i]) * scale);
        ok = ok && std::fseek(wave.draft.file, at, SEEK_SET) == 0 && std::fwrite(piece, 4, n, wave.draft.file) == n;
        done += n;
    }
    const float_wave_header header = float_header(wave.count);
    ok = ok && std::fseek(wave.draft.file, 0, SEEK_SET) == 0 &&
         std::fwrite(&header, sizeof header, 1, wave.draft.file) == 1;
    went_through(wave, ok);
    errno = wave.error;  // the reason draft_ready reports
    return draft_ready(wave.draft, wave.error == 0);
}

void float_wave_discard(FloatWave& wave) { draft_discard(wave.draft); }
