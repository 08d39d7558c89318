#include "driver/mix.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"

// Three threads pass the song along, block by block and channel after
// channel: one renders and converts, one delays, and this one reverbs and
// mixes into the master. When the renderer has handed over its last block it
// follows the mix of the last channel with the master equaliser. On a
// two-core board the three share the cores; the bounded queues keep memory
// to a few blocks.

namespace {

constexpr int SLOT_COUNT = 4;  // blocks a stage may run ahead of the next

struct Slot {
    float samples[2 * RENDER_BLOCK_FRAMES];
    uint32_t frames;
};

// A bounded queue of blocks from one thread to the next, in order.
class BlockQueue {
public:
    Slot& free_slot()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ < SLOT_COUNT; });
        return slots_[(next_read_ + filled_) % SLOT_COUNT];
    }

    void publish()
    {
        std::lock_guard lock(mutex_);
        ++filled_;
        changed_.notify_all();
    }

    Slot& next_filled()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ > 0; });
        return slots_[next_read_];
    }

    void release()
    {
        std::lock_guard lock(mutex_);
        next_read_ = (next_read_ + 1) % SLOT_COUNT;
        --filled_;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Slot slots_[SLOT_COUNT];
    int next_read_ = 0;
    int filled_ = 0;
};

// How many samples of the master hold their final mix.
class MixProgress {
public:
    void advance_to(uint32_t samples)
    {
        std::lock_guard lock(mutex_);
        mixed_ = samples;
        changed_.notify_all();
    }

    uint32_t wait_beyond(uint32_t samples)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return mixed_ > samples; });
        return mixed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t mixed_ = 0;
};

struct Pipeline {
    BlockQueue rendered, delayed;
    MixProgress mixed;
    DelayRun delays[RENDER_CHANNELS] = {};
    float* master = nullptr;
};

uint32_t block_frames(uint32_t done)
{
    return SONG_FRAMES - done < RENDER_BLOCK_FRAMES ? SONG_FRAMES - done : RENDER_BLOCK_FRAMES;
}

// Every channel rendered on its own, times its gain; then the equaliser,
// following the mix of the last channel.
void render_and_equalise(Pipeline& p)
{
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        render_channel_start();
        for (uint32_t done = 0; done < SONG_FRAMES; done += block_frames(done)) {
            Slot& slot = p.rendered.free_slot();
            slot.frames = block_frames(done);
            render_channel_block(k, slot.frames);
            channel_to_float(k, slot.samples, slot.frames);
            p.rendered.publish();
        }
    }
    MasterEqualiser eq = master_equaliser_start();
    for (uint32_t done = 0; done < SONG_SAMPLES;) {
        const uint32_t mixed = p.mixed.wait_beyond(done);
        filter_chain_block(eq.stages, p.master + done, mixed - done);
        done = mixed;
    }
}

void delay_channels(Pipeline& p)
{
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        for (uint32_t done = 0; done < SONG_FRAMES;) {
            Slot& in = p.rendered.next_filled();
            Slot& out = p.delayed.free_slot();
            out.frames = in.frames;
            std::memcpy(out.samples, in.samples, 2 * in.frames * sizeof(float));
            p.rendered.release();
            if (channel_has_delay(k)) delay_block(p.delays[k], out.samples, 2 * out.frames);
            p.delayed.publish();
            done += out.frames;
        }
    }
}

// Channel k's blocks through its reverb into the master.
void reverb_and_mix(Pipeline& p, int k)
{
    std::printf("Processing channel %d: ", k);
    std::fflush(stdout);
    say_channel_effects(k);
    const bool reverb = channel_has_reverb(k);
    if (reverb) channel_reverb_start(k);
    for (uint32_t done = 0; done < SONG_SAMPLES;) {
        Slot& slot = p.delayed.next_filled();
        const uint32_t length = 2 * slot.frames;
        if (reverb) reverb_block(slot.samples, length);
        float* into = p.master + done;
        for (uint32_t i = 0; i < length; ++i) into[i] = into[i] + slot.samples[i];
        done += length;
        p.delayed.release();
        if (k == RENDER_CHANNELS - 1) p.mixed.advance_to(done);
    }
    if (reverb) reverb_finish();
    std::putchar('\n');
}

}  // namespace

float* mix_channels()
{
    auto* p = new Pipeline;
    p->master = take_floats(SONG_SAMPLES, "the master mix");
    std::memset(p->master, 0, SONG_SAMPLES * sizeof(float));
    // The delay lines are taken here, before the other threads start, so a
    // refused preset or a failed allocation ends the program from this one.
    for (int k = 0; k < RENDER_CHANNELS; ++k)
        if (channel_has_delay(k)) p->delays[k] = channel_delay_start(k);

    std::thread renderer(render_and_equalise, std::ref(*p));
    std::thread delayer(delay_channels, std::ref(*p));
    for (int k = 0; k < RENDER_CHANNELS; ++k) reverb_and_mix(*p, k);
    delayer.join();
    renderer.join();

    for (DelayRun& run : p->delays)
        if (run.line != nullptr) delay_finish(run);
    float* master = p->master;
    delete p;
    return master;
}
