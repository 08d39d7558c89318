#include "fx/buffers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

void fx_fail(const char* message)
{
    std::fflush(stdout);
    std::printf("\nError: %s\n", message);  // a progress line may be open
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message);  // songrender or songtool
    std::exit(EXIT_FAILURE);
}

namespace {

[[noreturn]] void out_of_memory(std::size_t bytes, const char* purpose)
{
    char message[160];
    std::snprintf(message, sizeof message, "out of memory: cannot allocate %zu bytes for %s", bytes,
                  purpose);
    fx_fail(message);
}

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

}  // namespace

void* take_buffer(std::size_t bytes, const char* purpose)
{
    void* buffer = std::malloc(bytes);
    if (buffer == nullptr) out_of_memory(bytes, purpose);
    return buffer;
}

float* take_song_floats(std::size_t count, const char* purpose)
{
    const std::size_t bytes = count * sizeof(float);
    const std::size_t whole_pages = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    void* buffer = nullptr;
    if (posix_memalign(&buffer, HUGE_PAGE, whole_pages) != 0) out_of_memory(bytes, purpose);
#ifdef MADV_HUGEPAGE
    madvise(buffer, whole_pages, MADV_HUGEPAGE);  // only a hint
#endif
    std::memset(buffer, 0, bytes);
    return static_cast<float*>(buffer);
}
