#include "fx/delay.h"

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

void delay_block(DelayRun& run, float* block, uint32_t length)
{
    const uint32_t frames = length / 2;
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
