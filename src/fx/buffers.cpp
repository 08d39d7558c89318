#include "fx/buffers.h"

#include <cstdio>
#include <cstdlib>

void* take_buffer(std::size_t bytes, const char* purpose)
{
    void* buffer = std::malloc(bytes);
    if (buffer == nullptr) {
        std::fflush(stdout);
        std::printf("\nError: out of memory: cannot allocate %zu bytes for %s\n", bytes, purpose);
        std::fprintf(stderr, "songrender: out of memory: cannot allocate %zu bytes for %s\n",
                     bytes, purpose);
        std::exit(EXIT_FAILURE);
    }
    return buffer;
}
