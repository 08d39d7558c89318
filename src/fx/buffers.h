// Whole-song working buffers taken from the heap for one use.
#pragma once
#include <cstddef>
#include <cstdint>

// malloc that never hands back a buffer it did not get: on failure it
// reports what could not be allocated and ends the program with status 1.
void* take_buffer(std::size_t bytes, const char* purpose);

inline float* take_floats(std::size_t count, const char* purpose)
{
    return static_cast<float*>(take_buffer(count * sizeof(float), purpose));
}
