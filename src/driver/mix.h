// Renders every channel and mixes it, through its effects, into the master.
#pragma once
#include <cstdint>

#include "driver/render.h"

// What a mix reports of its own progress, from the thread that called
// mix_channels: channel k rendered and through its effects, then the master
// equaliser finishing behind the last channel.
enum class MixStage { channel, equaliser };
using MixProgress = void (*)(void* context, MixStage stage, int channel, uint32_t done,
                             uint32_t total);

// Sees channel k's block as it enters the mix (after its gain, delay and
// reverb): `length` samples from sample `at` of the song. Called from the
// mixing thread, channel after channel, in order.
using MixObserver = void (*)(void* context, int channel, uint32_t at, const float* samples,
                             uint32_t length);

struct MixOptions {
    uint32_t frames = SONG_FRAMES;  // from the song's start
    // Channels added into the master. Every channel still passes through its
    // effects, so the reverb's carried state reaches the next one unchanged.
    bool in_master[RENDER_CHANNELS] = {true, true, true, true, true, true, true, true};
    bool say_progress_lines = true;  // songrender's "Processing channel" lines on standard output
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

// Returns the master mix of options.frames frames. Another thread renders
// the channels one after another; the calling thread takes them, in
// ascending order since the reverb's carried state links each channel to
// the one before, through their gain and effects into the master; and two
// more equalise the master behind the last one.
MasterMix mix_channels(const MixOptions& options);

// The whole song with every channel, as songrender plays it.
inline MasterMix mix_channels() { return mix_channels(MixOptions{}); }
