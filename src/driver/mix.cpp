#include "driver/mix.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"

// Two threads pass the song along, block by block and channel after
// channel: one renders, and this one takes each block through the channel's
// gain, delay and reverb into the master. Rendering and the effects each
// keep a core of a two-core board busy, and a block stays in the cache of
// the core that works its effects and mixes it. Two more threads follow the
// mix of the last channel with the master equaliser's two halves, one
// behind the other. A ring of a few blocks between the first two keeps
// memory small.

namespace {

constexpr uint32_t SLOT_COUNT = 8;  // blocks in flight between the threads

struct Slot {
    int16_t rendered[RENDER_BLOCK_FRAMES][2];
    float samples[2 * RENDER_BLOCK_FRAMES];  // rendered times the channel's gain, then its effects
    uint32_t frames;
};

// A ring of blocks that pass two stages in order: the mixer takes the
// slots in turn as the renderer releases them, and the renderer waits for a
// slot the mixer has freed. One thread works each stage, and a finished
// block wakes only the stage that waits for it.
enum Stage { RENDERED = 0, MIXED = 1, STAGE_COUNT = 2 };

class BlockRing {
public:
    // The next slot for stage s, once the stage before has done it.
    Slot& next(Stage s)
    {
        std::unique_lock lock(mutex_);
        ready_[s].wait(lock, [&] {
            return s == RENDERED ? done_[RENDERED] - done_[MIXED] < SLOT_COUNT : done_[s] < done_[s - 1];
        });
        return slots_[done_[s] % SLOT_COUNT];
    }

    void finish(Stage s)
    {
        {
            std::lock_guard lock(mutex_);
            ++done_[s];
        }
        ready_[(s + 1) % STAGE_COUNT].notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_[STAGE_COUNT];  // stage s may have a block
    Slot slots_[SLOT_COUNT];
    uint64_t done_[STAGE_COUNT] = {};  // blocks each stage has finished
};

// How many samples of the master a stage has finished.
class Progress {
public:
    void advance_to(uint32_t samples)
    {
        {
            std::lock_guard lock(mutex_);
            finished_ = samples;
        }
        changed_.notify_all();
    }

    uint32_t wait_beyond(uint32_t samples)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return finished_ > samples; });
        return finished_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t finished_ = 0;
};

struct Pipeline {
    explicit Pipeline(const MixOptions& o) : options(o), frames(o.frames), samples(2 * o.frames) {}
    const MixOptions& options;
    const uint32_t frames, samples;  // of the master
    BlockRing blocks;
    Progress mixed, half_equalised, equalised;
    DelayRun delays[RENDER_CHANNELS] = {};
    float* master = nullptr;
};

uint32_t block_frames(const Pipeline& p, uint32_t done)
{
    return p.frames - done < RENDER_BLOCK_FRAMES ? p.frames - done : RENDER_BLOCK_FRAMES;
}

// Every channel rendered on its own.
void render_channels(Pipeline& p)
{
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        render_channel_start();
        for (uint32_t done = 0; done < p.frames; done += block_frames(p, done)) {
            Slot& slot = p.blocks.next(RENDERED);
            slot.frames = block_frames(p, done);
            render_channel_block(k, slot.frames, slot.rendered);
            p.blocks.finish(RENDERED);
        }
    }
}

// A chain of equaliser stages over the master as far as `ready` has got,
// reporting its own progress to `finished`. It reports at least every
// block, even when far more is ready, so that the chain behind it never
// waits for a long stretch to be finished whole.
void equalise_behind(Pipeline& p, FilterStage (&chain)[FILTER_CHAIN_LENGTH], Progress& ready,
                     Progress& finished)
{
    constexpr uint32_t STRIDE = 2 * RENDER_BLOCK_FRAMES;
    for (uint32_t done = 0; done < p.samples;) {
        const uint32_t until = done + std::min(ready.wait_beyond(done) - done, STRIDE);
        filter_chain_block(chain, p.master + done, until - done);
        done = until;
        finished.advance_to(done);
    }
}

void report(const Pipeline& p, MixStage stage, int k, uint32_t done)
{
    if (p.options.progress != nullptr) p.options.progress(p.options.context, stage, k, done, p.samples);
}

// Channel k's blocks through its gain, delay and reverb into the master
// (unless it is left out of it). Channels come in ascending order: the
// reverb's carried state links each channel to the one before.
void mix_channel(Pipeline& p, int k)
{
    const MixOptions& o = p.options;
    if (o.say_progress_lines) {
        std::printf("Processing channel %d: ", k);
        std::fflush(stdout);
        say_channel_effects(k);
    }
    const bool reverb = channel_has_reverb(k);
    if (reverb) channel_reverb_start(k);
    report(p, MixStage::channel, k, 0);
    for (uint32_t done = 0; done < p.samples;) {
        Slot& slot = p.blocks.next(MIXED);
        const uint32_t length = 2 * slot.frames;
        channel_to_float(k, slot.rendered, slot.samples, slot.frames);
        if (channel_has_delay(k)) delay_block(p.delays[k], slot.samples, length);
        if (reverb) reverb_block(slot.samples, length);
        if (o.observe != nullptr) o.observe(o.context, k, done, slot.samples, length);
        if (o.in_master[k]) {
            float* into = p.master + done;
            for (uint32_t i = 0; i < length; ++i) into[i] = into[i] + slot.samples[i];
        }
        done += length;
        p.blocks.finish(MIXED);
        if (k == RENDER_CHANNELS - 1) p.mixed.advance_to(done);
        report(p, MixStage::channel, k, done);
    }
    if (reverb) reverb_finish();
    if (o.say_progress_lines) std::putchar('\n');
}

// Follows the equaliser's second half as it finishes the master, finding
// the master's peak on the way.
float follow_equaliser(Pipeline& p)
{
    float peak = 0.0f;
    for (uint32_t done = 0; done < p.samples;) {
        const uint32_t finished = p.equalised.wait_beyond(done);
        peak = std::max(peak, master_peak_of(p.master + done, finished - done));
        done = finished;
        report(p, MixStage::equaliser, RENDER_CHANNELS - 1, done);
    }
    return peak;
}

// The threads of the run; one that cannot be started ends the program with
// a clear message instead of an abort.
template <class... Args>
std::thread start_thread(Args&&... args)
{
    try {
        return std::thread(std::forward<Args>(args)...);
    } catch (const std::system_error& e) {
        char message[160];
        std::snprintf(message, sizeof message, "cannot start a render thread: %s", e.what());
        fx_fail(message);
    }
}

}  // namespace

MasterMix mix_channels(const MixOptions& options)
{
    auto* p = new (std::nothrow) Pipeline(options);
    if (p == nullptr) fx_fail("out of memory: cannot allocate the blocks between the render threads");
    p->master = take_song_floats(p->samples, "the master mix");
    // The delay lines are taken here, before the other threads start, so a
    // refused preset or a failed allocation ends the program before any
    // other thread runs.
    for (int k = 0; k < RENDER_CHANNELS; ++k)
        if (channel_has_delay(k)) p->delays[k] = channel_delay_start(k);

    MasterEqualiser eq = master_equaliser_start();
    // The master's first touch is a thread of its own: the mix that fills
    // it is the pipeline's busiest stage.
    std::thread prefault = start_thread(prefault_song_floats, p->master, std::size_t{p->samples});
    std::thread renderer = start_thread(render_channels, std::ref(*p));
    std::thread eq_first = start_thread(equalise_behind, std::ref(*p), std::ref(eq.first),
                                        std::ref(p->mixed), std::ref(p->half_equalised));
    std::thread eq_second = start_thread(equalise_behind, std::ref(*p), std::ref(eq.second),
                                         std::ref(p->half_equalised), std::ref(p->equalised));
    for (int k = 0; k < RENDER_CHANNELS; ++k) mix_channel(*p, k);
    const float peak = follow_equaliser(*p);
    eq_second.join();
    prefault.join();
    eq_first.join();
    renderer.join();

    for (DelayRun& run : p->delays)
        if (run.line != nullptr) delay_finish(run);
    const MasterMix mix{p->master, p->samples, peak};
    delete p;
    return mix;
}
