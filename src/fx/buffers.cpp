#include "fx/buffers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

void fx_fail(const char* message)
{
    std::fflush(stdout);
    std::printf("\nError: %s\n", message);  // a progress line may be open
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message);  // songrender or songtool
    std::exit(EXIT_FAILURE);
}

void* take_buffer(std::size_t bytes, const char* purpose)
{
    void* buffer = std::malloc(bytes);
    if (buffer == nullptr) {
        char message[160];
        std::snprintf(message, sizeof message, "out of memory: cannot allocate %zu bytes for %s",
                      bytes, purpose);
        fx_fail(message);
    }
    return buffer;
}
