#include "fx/buffers.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void* out_of_memory(std::size_t bytes, const char* purpose, Fault& fault)
{
    fail(fault, "out of memory: cannot allocate %zu bytes for %s", bytes, purpose);
    return nullptr;
}

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

std::size_t in_whole_huge_pages(std::size_t bytes) { return (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE; }

}  // namespace

void* take_buffer(std::size_t bytes, const char* purpose, Fault& fault)
{
    void* buffer = std::malloc(bytes);
    return buffer != nullptr ? buffer : out_of_memory(bytes, purpose, fault);
}

float* take_song_floats(std::size_t count, const char* purpose, Fault& fault)
{
    const std::size_t bytes = count * sizeof(float);
    const std::size_t length = in_whole_huge_pages(bytes);
    // One huge page more than needed, so an aligned run fits; the slack
    // before and after it goes back at once.
    void* region = mmap(nullptr, length + HUGE_PAGE, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return static_cast<float*>(out_of_memory(bytes, purpose, fault));
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

void trim_song_floats(float* samples, std::size_t count, std::size_t from, std::size_t to)
{
    const long page_size = sysconf(_SC_PAGESIZE);
    if (page_size <= 0) return;
    const auto page = static_cast<std::size_t>(page_size);
    auto* const bytes = reinterpret_cast<unsigned char*>(samples);
    const std::size_t kept_from = from / page * page, kept_to = (to + page - 1) / page * page;
    const std::size_t end = in_whole_huge_pages(count * sizeof(float));
    if (kept_from > 0) madvise(bytes, kept_from, MADV_DONTNEED);
    if (kept_to < end) madvise(bytes + kept_to, end - kept_to, MADV_DONTNEED);
}

void release_song_floats(float* samples, std::size_t count)
{
    if (samples != nullptr) munmap(samples, in_whole_huge_pages(count * sizeof(float)));
}
