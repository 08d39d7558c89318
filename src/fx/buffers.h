// Whole-song working buffers taken from the heap for one use, and the way the
// effects refuse settings they cannot work with.
#pragma once
#include <cstddef>
#include <cstdint>

// Reports a fault that leaves the mix impossible ("Error: " + message on
// standard output, the same on standard error) and ends the program with
// status 1.
[[noreturn]] void fx_fail(const char* message);

// malloc that never hands back a buffer it did not get: on failure it
// reports what could not be allocated and ends the program with status 1.
void* take_buffer(std::size_t bytes, const char* purpose);

inline float* take_floats(std::size_t count, const char* purpose)
{
    return static_cast<float*>(take_buffer(count * sizeof(float), purpose));
}

// take_floats for a whole-song buffer, zeroed. It is fresh anonymous memory,
// aligned to and backed by huge pages where the kernel offers them: its first
// touch then costs a few dozen page faults instead of eleven thousand, which
// on small boards and virtual machines is a large share of the run, and it
// is touched first where it is filled, not by a zeroing pass.
float* take_song_floats(std::size_t count, const char* purpose);

// Backs a buffer of count floats from take_song_floats with memory now,
// leaving its contents as they are, so that a thread with time to spare
// takes the first-touch faults instead of the one that fills it. Only a
// hint: without kernel support it does nothing.
void prefault_song_floats(float* samples, std::size_t count);

// Gives back a buffer of count floats from take_song_floats.
void release_song_floats(float* samples, std::size_t count);
