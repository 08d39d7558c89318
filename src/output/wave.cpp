#include "output/wave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/render.h"

namespace {

constexpr uint32_t SONG_DATA_BYTES = SONG_SAMPLES * 2;

[[maybe_unused]] uint16_t byte_swap(uint16_t v) { return __builtin_bswap16(v); }
[[maybe_unused]] uint32_t byte_swap(uint32_t v) { return __builtin_bswap32(v); }
[[maybe_unused]] int16_t byte_swap(int16_t v) { return static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v))); }

template <typename T>
T little_endian(T value)
{
    if constexpr (std::endian::native == std::endian::little) return value;
    else return byte_swap(value);
}

void report_failure(const char* path, int error)
{
    std::fflush(stdout);
    std::printf("Error: could not write %s: %s\n", path, std::strerror(error));
    std::fflush(stdout);
    std::fprintf(stderr, "songrender: could not write %s: %s\n", path, std::strerror(error));
}

// Samples in little-endian order, in pieces so a big-endian host needs no
// second copy of the song.
bool write_samples(std::FILE* file, const int16_t* samples, uint32_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        return std::fwrite(samples, sizeof *samples, count, file) == count;
    } else {
        int16_t piece[4096];
        for (uint32_t done = 0; done < count;) {
            const uint32_t n = std::min<uint32_t>(count - done, 4096);
            for (uint32_t i = 0; i < n; ++i) piece[i] = little_endian(samples[done + i]);
            if (std::fwrite(piece, sizeof *piece, n, file) != n) return false;
            done += n;
        }
        return true;
    }
}

// Permissions a plain fopen(path, "w") would have given the file.
mode_t default_file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

wave_header song_wave_header()
{
    wave_header h;
    std::memcpy(h.riff_id, "RIFF", 4);
    h.riff_size = little_endian<uint32_t>(SONG_DATA_BYTES + 36);
    std::memcpy(h.wave_id, "WAVE", 4);
    std::memcpy(h.fmt_id, "fmt ", 4);
    h.fmt_size = little_endian<uint32_t>(16);
    h.audio_format = little_endian<uint16_t>(1);
    h.channel_count = little_endian<uint16_t>(2);
    h.sample_rate = little_endian<uint32_t>(SAMPLE_RATE);
    h.byte_rate = little_endian<uint32_t>(SAMPLE_RATE * 4);
    h.block_align = little_endian<uint16_t>(4);
    h.bits_per_sample = little_endian<uint16_t>(16);
    std::memcpy(h.data_id, "data", 4);
    h.data_size = little_endian<uint32_t>(SONG_DATA_BYTES);
    return h;
}

bool wave_export_to(const char* path, const int16_t* samples, uint32_t count)
{
    std::string temp = folder_of(path) + "/.output.wav.XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        report_failure(path, errno);
        return false;
    }
    fchmod(fd, default_file_mode());
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        unlink(temp.c_str());
        report_failure(path, error);
        return false;
    }

    const wave_header header = song_wave_header();
    errno = 0;
    bool ok = std::fwrite(&header, sizeof header, 1, file) == 1;
    std::puts("Writing to output file...");
    std::fflush(stdout);
    ok = ok && write_samples(file, samples, count);
    ok = ok && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temp.c_str(), path) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        report_failure(path, error != 0 ? error : EIO);
        return false;
    }
    std::puts("Successfully written! (Maybe, there's no error checking.)");
    return true;
}

bool wave_export(const int16_t* samples, uint32_t count)
{
    return wave_export_to("./output.wav", samples, count);
}
