#include "fx/buffers.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>

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

std::size_t in_whole_huge_pages(std::size_t bytes) { return (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE; }

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
    const std::size_t length = in_whole_huge_pages(bytes);
    // One huge page more than needed, so an aligned run fits; the slack
    // before and after it goes back at once.
    void* region = mmap(nullptr, length + HUGE_PAGE, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) out_of_memory(bytes, purpose);
    auto* const first = static_cast<unsigned char*>(region);
    auto* const start = first + (HUGE_PAGE - reinterpret_cast<std::uintptr_t>(first) % HUGE_PAGE) % HUGE_PAGE;
    if (start != first) munmap(first, static_cast<std::size_t>(start - first));
    munmap(start + length, static_cast<std::size_t>(first + HUGE_PAGE - start));
#ifdef MADV_HUGEPAGE
    madvise(start, length, MADV_HUGEPAGE);  // only a hint
#endif
    return reinterpret_cast<float*>(start);
}

void prefault_song_floats([[maybe_unused]] float* samples, [[maybe_unused]] std::size_t count)
{
#ifdef MADV_POPULATE_WRITE
    madvise(samples, count * sizeof(float), MADV_POPULATE_WRITE);
#endif
}

void release_song_floats(float* samples, std::size_t count)
{
    if (samples != nullptr) munmap(samples, in_whole_huge_pages(count * sizeof(float)));
}
