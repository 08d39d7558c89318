#include "driver/mix.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"

// Two threads pass the song along, block by block and channel after
// channel: one renders, and this one takes each block through the channel's
// gain, delay and reverb into the master. Rendering and the effects each
// keep a core of a two-core board busy, and a block stays in the cache of
// the core that works its effects and mixes it. Two more threads follow the
// mix of the last channel with the master equaliser's two halves, one
// behind the other. A ring of a few blocks between the first two keeps
// memory small. A run that cannot go on (a thread that cannot start) is
// cancelled: every wait returns at once and each thread stops.

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
    // The next slot for stage s, once the stage before has done it; null
    // once the run is cancelled.
    Slot* next(Stage s)
    {
        std::unique_lock lock(mutex_);
        ready_[s].wait(lock, [&] {
            return cancelled_ ||
                   (s == RENDERED ? done_[RENDERED] - done_[MIXED] < SLOT_COUNT : done_[s] < done_[s - 1]);
        });
        return cancelled_ ? nullptr : &slots_[done_[s] % SLOT_COUNT];
    }

    void cancel()
    {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        for (auto& ready : ready_) ready.notify_all();
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
    bool cancelled_ = false;
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

    // How far the stage has got once it is beyond `samples`; `samples`
    // itself once the run is cancelled.
    uint32_t wait_beyond(uint32_t samples)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancelled_ || finished_ > samples; });
        return cancelled_ ? samples : finished_;
    }

    void cancel()
    {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t finished_ = 0;
    bool cancelled_ = false;
};

struct Pipeline {
    explicit Pipeline(const MixOptions& o) : options(o), frames(o.frames), samples(2 * o.frames) {}
    const MixOptions& options;
    const uint32_t frames, samples;  // of the master
    BlockRing blocks;
    Progress mixed, half_equalised, equalised;
    ChannelChain chains[CHANNEL_COUNT] = {};
    int chains_started = 0;
    Reverb reverb;
    float* master = nullptr;
    float peak = 0.0f;

    void cancel()
    {
        blocks.cancel();
        mixed.cancel();
        half_equalised.cancel();
        equalised.cancel();
    }

    ~Pipeline()
    {
        for (int k = 0; k < chains_started; ++k) channel_chain_finish(chains[k]);
    }
};

uint32_t block_frames(const Pipeline& p, uint32_t done)
{
    return p.frames - done < RENDER_BLOCK_FRAMES ? p.frames - done : RENDER_BLOCK_FRAMES;
}

// Every channel rendered on its own, each from a fresh engine.
void render_channels(Pipeline& p)
{
    const auto engine = std::make_unique<Engine>();
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        engine_start(*engine, p.options.song, p.options.sounds->instrument_bank, k);
        for (uint32_t done = 0; done < p.frames; done += block_frames(p, done)) {
            Slot* slot = p.blocks.next(RENDERED);
            if (slot == nullptr) return;
            slot->frames = block_frames(p, done);
            render_channel_block(*engine, k, slot->frames, slot->rendered);
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
        if (until == done) return;  // cancelled
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
    ChannelChain& chain = p.chains[k];
    channel_chain_enter(chain, p.reverb);
    report(p, MixStage::channel, k, 0);
    for (uint32_t done = 0; done < p.samples;) {
        Slot* slot = p.blocks.next(MIXED);
        if (slot == nullptr) return;
        const uint32_t length = 2 * slot->frames;
        channel_chain_block(chain, p.reverb, slot->rendered, slot->samples, slot->frames);
        if (o.observe != nullptr) o.observe(o.context, k, done, slot->samples, length);
        if (o.in_master[k]) {
            float* into = p.master + done;
            for (uint32_t i = 0; i < length; ++i) into[i] = into[i] + slot->samples[i];
        }
        done += length;
        p.blocks.finish(MIXED);
        if (k == CHANNEL_COUNT - 1) p.mixed.advance_to(done);
        report(p, MixStage::channel, k, done);
    }
    channel_chain_leave(chain, p.reverb);
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
        report(p, MixStage::equaliser, CHANNEL_COUNT - 1, done);
    }
    return peak;
}

// The threads of a run, joined when it ends however it ends.
class Threads {
public:
    ~Threads()
    {
        for (std::thread& t : threads_)
            if (t.joinable()) t.join();
    }

    // False, with the reason, if the thread cannot start.
    template <class... Args>
    bool start(Fault& fault, Args&&... args)
    {
        try {
            threads_.emplace_back(std::forward<Args>(args)...);
            return true;
        } catch (const std::system_error& e) {
            return fail(fault, "cannot start a render thread: %s", e.what());
        }
    }

private:
    std::vector<std::thread> threads_;
};

// The pipeline's own memory: the ring, the reverb, the master, the delay lines.
bool take_memory(Pipeline& p, Fault& fault)
{
    p.master = take_song_floats(p.samples, "the master mix", fault);
    if (p.master == nullptr) return false;
    for (; p.chains_started < CHANNEL_COUNT; ++p.chains_started)
        if (!channel_chain_start(p.chains[p.chains_started], *p.options.sounds, p.chains_started, fault))
            return false;
    return true;
}

bool run(Pipeline& p, Fault& fault)
{
    MasterEqualiser eq = master_equaliser_start(*p.options.sounds);
    Threads threads;
    // The master's first touch is a thread of its own: the mix that fills
    // it is the pipeline's busiest stage.
    const bool started =
        threads.start(fault, prefault_song_floats, p.master, std::size_t{p.samples}) &&
        threads.start(fault, render_channels, std::ref(p)) &&
        threads.start(fault, equalise_behind, std::ref(p), std::ref(eq.first), std::ref(p.mixed),
                      std::ref(p.half_equalised)) &&
        threads.start(fault, equalise_behind, std::ref(p), std::ref(eq.second), std::ref(p.half_equalised),
                      std::ref(p.equalised));
    if (!started) {
        p.cancel();
        return false;
    }
    for (int k = 0; k < CHANNEL_COUNT; ++k) mix_channel(p, k);
    p.peak = follow_equaliser(p);
    return true;
}

}  // namespace

bool mix_channels(const MixOptions& options, MasterMix& mix, Fault& fault)
{
    std::unique_ptr<Pipeline> p(new (std::nothrow) Pipeline(options));
    if (p == nullptr) return fail(fault, "out of memory: cannot allocate the blocks between the render threads");
    if (!take_memory(*p, fault) || !run(*p, fault)) {
        release_song_floats(p->master, p->samples);
        return false;
    }
    mix = MasterMix{p->master, p->samples, p->peak};
    return true;
}

void mix_release(MasterMix& mix)
{
    release_song_floats(mix.samples, mix.length);
    mix.samples = nullptr;
}
