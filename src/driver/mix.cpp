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

namespace {

constexpr int SLOT_COUNT = 4;  // blocks the producer may run ahead

struct Slot {
    float samples[2 * RENDER_BLOCK_FRAMES];
    uint32_t frames;
};

// Blocks of the song, channel after channel, handed from the thread that
// renders and delays them to the one that reverbs and mixes them, in order.
class BlockQueue {
public:
    float* free_slot()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ < SLOT_COUNT; });
        return slots_[(next_read_ + filled_) % SLOT_COUNT].samples;
    }

    void publish(uint32_t frames)
    {
        std::lock_guard lock(mutex_);
        slots_[(next_read_ + filled_) % SLOT_COUNT].frames = frames;
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

uint32_t block_frames(uint32_t done)
{
    return SONG_FRAMES - done < RENDER_BLOCK_FRAMES ? SONG_FRAMES - done : RENDER_BLOCK_FRAMES;
}

// Every channel rendered on its own, times its gain, through its delay.
void produce(BlockQueue& queue, DelayRun* delays)
{
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        render_channel_start();
        for (uint32_t done = 0; done < SONG_FRAMES; done += block_frames(done)) {
            const uint32_t frames = block_frames(done);
            render_channel_block(k, frames);
            float* block = queue.free_slot();
            channel_to_float(k, block, frames);
            if (channel_has_delay(k)) delay_block(delays[k], block, 2 * frames);
            queue.publish(frames);
        }
    }
}

// Channel k's blocks through its reverb into the master.
void consume_channel(BlockQueue& queue, int k, float* master)
{
    std::printf("Processing channel %d: ", k);
    std::fflush(stdout);
    say_channel_effects(k);
    const bool reverb = channel_has_reverb(k);
    if (reverb) channel_reverb_start(k);
    for (uint32_t done = 0; done < SONG_SAMPLES;) {
        Slot& slot = queue.next_filled();
        const uint32_t length = 2 * slot.frames;
        if (reverb) reverb_block(slot.samples, length);
        float* into = master + done;
        for (uint32_t i = 0; i < length; ++i) into[i] = into[i] + slot.samples[i];
        done += length;
        queue.release();
    }
    if (reverb) reverb_finish();
    std::putchar('\n');
}

}  // namespace

float* mix_channels()
{
    float* master = take_floats(SONG_SAMPLES, "the master mix");
    std::memset(master, 0, SONG_SAMPLES * sizeof *master);
    // The delay lines are taken here, before the second thread starts, so a
    // refused preset or a failed allocation ends the program from this one.
    DelayRun delays[RENDER_CHANNELS] = {};
    for (int k = 0; k < RENDER_CHANNELS; ++k)
        if (channel_has_delay(k)) delays[k] = channel_delay_start(k);

    auto* queue = new BlockQueue;
    std::thread producer(produce, std::ref(*queue), delays);
    for (int k = 0; k < RENDER_CHANNELS; ++k) consume_channel(*queue, k, master);
    producer.join();
    delete queue;
    for (DelayRun& run : delays)
        if (run.line != nullptr) delay_finish(run);
    return master;
}
