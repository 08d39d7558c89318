// Renders every channel and mixes it, through its effects, into the master.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/fault.h"
#include "base/timeline.h"
#include "data/tables.h"

// What a mix reports of its own progress: channel k through its effects
// and into the master (done from 0, when the channel starts, to total), one
// channel after another in ascending order, then the master equaliser
// finishing behind the last channel. Calls may come from any of the mix's
// threads, never two at once.
enum class MixStage { channel, equaliser };
using MixProgress = void (*)(void* context, MixStage stage, int channel, uint32_t done,
                             uint32_t total);

// Sees channel k's block as it enters the mix (after its gain, delay and
// reverb): `length` samples from sample `at` of the song. Each channel's
// blocks come in order, one at a time; blocks of different channels may
// come at once from different threads.
using MixObserver = void (*)(void* context, int channel, uint32_t at, const float* samples,
                             uint32_t length);

// What an instrumented mix measured, in seconds of the steady clock.
constexpr int MIX_MAX_THREADS = 8;
enum MixWork { MIX_RENDER, MIX_EFFECTS, MIX_ADD, MIX_EQUALISE, MIX_WORK_KINDS };
struct MixTimes {
    int threads = 0;
    bool guessed = false;    // channels ran at once from guessed reverb states
    bool fell_back = false;  // a guess did not hold, so the mix was made again in order
    double busy[MIX_MAX_THREADS][MIX_WORK_KINDS] = {};  // each thread's work, by kind
    double critical_path = 0.0;  // the longest chain of work that had to follow one another
    double wall = 0.0;
};

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
    int threads = 0;          // at most this many (0: one for each core the process may use)
    const std::atomic<bool>* stop = nullptr;  // once true, the mix ends unfinished
    MixTimes* times = nullptr;                // filled in when given
};

// The master mix, equalised, and the largest magnitude in it.
struct MasterMix {
    float* samples;   // taken with take_song_floats
    uint32_t length;  // samples: twice the frames
    float peak;
};

// What a mix that options.stop ended reports.
inline constexpr char MIX_STOPPED[] = "the mix was stopped";

// The master mix of options.frames frames into `mix`, by threads that take
// the channels' blocks as work in a fixed order: the sums into the master
// are made in channel order, block by block, so the result never depends on
// the threads. The reverb's carried state links each channel to the one
// before; to run the channels at once, each starts from a guess and its
// head is made again once the state before it is known, which must then
// match the guessed run's (or the whole mix is made again in order). False,
// with the reason in `fault`, when the mix cannot be made (memory, a
// refused preset) or was stopped.
bool mix_channels(const MixOptions& options, MasterMix& mix, Fault& fault);
// Gives back the master's memory.
void mix_release(MasterMix& mix);
