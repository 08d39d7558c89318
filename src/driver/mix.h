// Renders every channel and mixes it, through its effects, into the master.
#pragma once
#include <cstdint>

#include "base/fault.h"
#include "base/timeline.h"
#include "data/tables.h"

// What a mix reports of its own progress, from the thread that called
// mix_channels: channel k rendered and through its effects (done from 0,
// when the channel starts, to total), then the master equaliser finishing
// behind the last channel.
enum class MixStage { channel, equaliser };
using MixProgress = void (*)(void* context, MixStage stage, int channel, uint32_t done,
                             uint32_t total);

// Sees channel k's block as it enters the mix (after its gain, delay and
// reverb): `length` samples from sample `at` of the song. Called from the
// mixing thread, channel after channel, in order.
using MixObserver = void (*)(void* context, int channel, uint32_t at, const float* samples,
                             uint32_t length);

struct MixOptions {
    const uint8_t* song;   // a block that passes the song checks
    const Sounds* sounds;  // its instruments, mix and effects
    uint32_t frames = SONG_FRAMES;        // from the song's start
    // Channels added into the master. Every channel still passes through its
    // effects, so the reverb's carried state reaches the next one unchanged.
    bool in_master[CHANNEL_COUNT] = {true, true, true, true, true, true, true, true};
    MixObserver observe = nullptr;
    MixProgress progress = nullptr;
    void* context = nullptr;  // handed to observe and progress
};

// The master mix, equalised, and the largest magnitude in it.
struct MasterMix {
    float* samples;   // taken with take_song_floats
    uint32_t length;  // samples: twice the frames
    float peak;
};

// The master mix of options.frames frames into `mix`. Another thread renders
// the channels one after another; the calling thread takes them, in
// ascending order since the reverb's carried state links each channel to
// the one before, through their gain and effects into the master; and two
// more equalise the master behind the last one. False, with the reason in
// `fault` and every thread joined, when the mix cannot be made (memory, a
// refused preset, a thread that cannot start).
bool mix_channels(const MixOptions& options, MasterMix& mix, Fault& fault);

// Gives back the master's memory.
void mix_release(MasterMix& mix);
