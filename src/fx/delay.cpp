#include "fx/delay.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fx/blend.h"
#include "fx/buffers.h"

namespace {

constexpr double GAIN_STEP = 0.001;

// A rising side climbs to the first value at or above 1.0, a falling side
// sinks to the first value at or below the floor; each step in double.
float step_gain(float gain, bool falling, float floor)
{
    if (!falling && gain < 1.0f) return static_cast<float>(static_cast<double>(gain) + GAIN_STEP);
    if (falling && gain > floor) return static_cast<float>(static_cast<double>(gain) - GAIN_STEP);
    return gain;
}

// True when step_gain leaves the side's gain as it is.
bool gain_settled(float gain, bool falling, float floor)
{
    return !(!falling && gain < 1.0f) && !(falling && gain > floor);
}

// Every D + 2 frames the sides trade roles; state 0 lowers the right side
// next, state 1 the left. Any other state never lowers either side.
void count_to_swap(DelayRun& run)
{
    if (run.swap_counter <= run.swap_period) {
        ++run.swap_counter;
        return;
    }
    run.swap_counter = 0;
    if (run.swap_state == 0) {
        run.falling[0] = false;
        run.falling[1] = true;
        run.swap_state = 1;
    } else if (run.swap_state == 1) {
        run.falling[0] = true;
        run.falling[1] = false;
        run.swap_state = 0;
    }
}

// At frame m, processed frame m + 1 - H (the oldest in the ring) enters the
// line, scaled by this frame's gains, and the slot written H - 1 feeds ago
// becomes the next frame's echo. The song's last frame would feed the line
// too, but no frame follows to hear it, so a stream need not know where it
// ends.
void feed_line(DelayRun& run)
{
    const float* source = &run.recent[2 * run.newest];
    float* slot = &run.line[2 * run.cursor];
    for (int side = 0; side < 2; ++side) slot[side] = source[side] * run.gain[side];
    run.cursor = run.cursor + 1 == run.half ? 0 : run.cursor + 1;
    const float* next = &run.line[2 * run.cursor];
    for (int side = 0; side < 2; ++side) run.pending[side] = run.feedback * next[side];
}

}  // namespace

DelayRun delay_start(uint32_t delay, uint32_t swap_state, float feedback, float floor, float mix)
{
    const uint32_t half = delay / 2;
    if (half == 0) fx_fail("delay length D must be at least 2");
    DelayRun run{};
    run.half = half;
    run.swap_period = delay;
    run.feedback = feedback;
    run.floor = floor;
    run.mix = mix;
    run.swap_state = swap_state;
    run.frames_until_feed = half;
    run.line = take_floats(4 * static_cast<std::size_t>(half), "the delay line");
    run.recent = run.line + 2 * static_cast<std::size_t>(half);
    std::memset(run.line, 0, 4 * static_cast<std::size_t>(half) * sizeof(float));
    return run;
}

namespace {

// One frame at a time, in the order the sound is defined: gains, the
// processed frame and the blend, then the line fed. A line of one slot
// (D of 2 or 3) echoes the frame just processed into the next one, so
// nothing can be worked ahead.
void delay_frames(DelayRun& run, float* block, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f) {
        for (int side = 0; side < 2; ++side)
            run.gain[side] = step_gain(run.gain[side], run.falling[side], run.floor);
        count_to_swap(run);

        float* processed = &run.recent[2 * run.newest];
        for (int side = 0; side < 2; ++side) {
            float& sample = block[2 * f + side];
            processed[side] = sample + run.pending[side];
            sample = blend_wet_dry(run.mix, processed[side], sample);
        }
        run.newest = run.newest + 1 == run.half ? 0 : run.newest + 1;

        if (run.frames_until_feed != 0) --run.frames_until_feed;
        else feed_line(run);
    }
}

constexpr uint32_t CHUNK = 512;

// Up to H - 1 frames (and at most CHUNK) at once. Every line slot and every
// processed frame these frames read was written before them, so the reads
// go first, then the element-wise steps, then the writes.
void delay_chunk(DelayRun& run, float* block, uint32_t n)
{
    float gains[CHUNK][2], pending[CHUNK][2], feeds[CHUNK][2];
    for (uint32_t t = 0; t < n;) {
        const bool settled = gain_settled(run.gain[0], run.falling[0], run.floor) &&
                             gain_settled(run.gain[1], run.falling[1], run.floor);
        if (settled && run.swap_counter <= run.swap_period) {
            // Both gains hold and the swap counter only counts until it is due.
            const uint32_t hold = std::min(n - t, run.swap_period - run.swap_counter + 1);
            for (uint32_t end = t + hold; t < end; ++t)
                for (int side = 0; side < 2; ++side) gains[t][side] = run.gain[side];
            run.swap_counter += hold;
            continue;
        }
        for (int side = 0; side < 2; ++side)
            gains[t][side] = run.gain[side] = step_gain(run.gain[side], run.falling[side], run.floor);
        count_to_swap(run);
        ++t;
    }
    const uint32_t H = run.half;
    const auto wrap = [H](uint32_t i) { return i >= H ? i - H : i; };  // i < 2H
    const uint32_t quiet = std::min(n, run.frames_until_feed);  // frames before the first feed
    const uint32_t fed = n - quiet;
    // The echo each frame hears: set by the feed of an earlier frame.
    for (uint32_t t = 0; t < quiet; ++t)
        for (int side = 0; side < 2; ++side) pending[t][side] = run.pending[side];
    for (uint32_t t = quiet, slot = wrap(run.cursor + 1); t < n; ++t, slot = wrap(slot + 1)) {
        for (int side = 0; side < 2; ++side) {
            pending[t][side] = run.pending[side];
            run.pending[side] = run.feedback * run.line[2 * slot + side];
        }
    }
    // What each feed puts into the line: the oldest processed frame at the
    // feeding frame's gains.
    for (uint32_t t = quiet, at = wrap(run.newest + quiet + 1); t < n; ++t, at = wrap(at + 1))
        for (int side = 0; side < 2; ++side) feeds[t][side] = run.recent[2 * at + side] * gains[t][side];
    for (uint32_t t = 0, at = run.newest; t < n; ++t, at = wrap(at + 1)) {
        for (int side = 0; side < 2; ++side) {
            float& sample = block[2 * t + side];
            const float processed = sample + pending[t][side];
            run.recent[2 * at + side] = processed;
            sample = blend_wet_dry(run.mix, processed, sample);
        }
    }
    for (uint32_t t = quiet, slot = run.cursor; t < n; ++t, slot = wrap(slot + 1))
        for (int side = 0; side < 2; ++side) run.line[2 * slot + side] = feeds[t][side];
    run.newest = (run.newest + n) % H;
    run.cursor = (run.cursor + fed) % H;  // n < H
    run.frames_until_feed -= quiet;
}

}  // namespace

void delay_block(DelayRun& run, float* block, uint32_t length)
{
    const uint32_t frames = length / 2;
    if (run.half == 1) {
        delay_frames(run, block, frames);
        return;
    }
    const uint32_t most = std::min(CHUNK, run.half - 1);
    for (uint32_t done = 0; done < frames; done += most)
        delay_chunk(run, block + 2 * done, std::min(most, frames - done));
}

void delay_finish(DelayRun& run)
{
    std::free(run.line);
    run.line = nullptr;
    run.recent = nullptr;
}

void delay_process(float* buffer, uint32_t length, uint32_t delay, uint32_t swap_state,
                   float feedback, float floor, float mix)
{
    DelayRun run = delay_start(delay, swap_state, feedback, floor, mix);
    delay_block(run, buffer, length);
    delay_finish(run);
}
