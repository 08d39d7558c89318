// Working buffers taken from the heap for one use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/fault.h"

// malloc that names what it could not get: null, with "out of memory:
// cannot allocate N bytes for PURPOSE" in `fault`, when it fails.
void* take_buffer(std::size_t bytes, const char* purpose, Fault& fault);

inline float* take_floats(std::size_t count, const char* purpose, Fault& fault)
{
    return static_cast<float*>(take_buffer(count * sizeof(float), purpose, fault));
}

// take_floats for a whole-song buffer. It is fresh anonymous memory,
// aligned to and backed by huge pages where the kernel offers them: its
// first touch then costs a few dozen page faults instead of eleven
// thousand, which on small boards and virtual machines is a large share of
// the run. Its contents start unspecified (in practice zero).
float* take_song_floats(std::size_t count, const char* purpose, Fault& fault);

// Backs a buffer of count floats from take_song_floats with memory now,
// leaving its contents as they are, so that a thread with time to spare
// takes the first-touch faults instead of the one that fills it. Only a
// hint: without kernel support it does nothing.
void prefault_song_floats(float* samples, std::size_t count);

// Gives the memory of a buffer of count floats from take_song_floats back
// to the system, all but its bytes [from, to), which stay as they are. Only
// a hint; the buffer is still given back whole with release_song_floats.
void trim_song_floats(float* samples, std::size_t count, std::size_t from, std::size_t to);

// Gives back a buffer of count floats from take_song_floats.
void release_song_floats(float* samples, std::size_t count);
