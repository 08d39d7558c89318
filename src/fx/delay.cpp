#include "fx/delay.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fx/blend.h"
#include "fx/buffers.h"

namespace {

constexpr double GAIN_STEP = 0.001;

// Frames worked as one stretch. Each stretch is walked twice (blend, then
// line feed), so it is kept small enough to stay in cache; recent holds H
// frames more, so the feed still finds frames up to H back from the
// stretch's start once the blend has written the whole stretch.
constexpr uint32_t STRETCH_FRAMES = 1024;

// A rising side climbs to the first value at or above 1.0, a falling side
// sinks to the first value at or below the floor; each step in double.
float step_gain(float gain, bool falling, float floor)
{
    if (!falling && gain < 1.0f) return static_cast<float>(static_cast<double>(gain) + GAIN_STEP);
    if (falling && gain > floor) return static_cast<float>(static_cast<double>(gain) - GAIN_STEP);
    return gain;
}

bool gain_moves(const DelayRun& run, int side)
{
    return run.falling[side] ? run.gain[side] > run.floor : run.gain[side] < 1.0f;
}

// The gains of the next frames, left and right interleaved. They follow the
// frame count alone, never the signal, and stand still from the moment both
// sides reach their bounds until the next swap.
void step_gains(DelayRun& run, float* gains, uint32_t frames)
{
    float left = run.gain[0], right = run.gain[1];
    if (gain_moves(run, 0) || gain_moves(run, 1)) {
        const float floor = run.floor;
        for (std::size_t f = 0; f < frames; ++f) {
            gains[2 * f] = left = step_gain(left, run.falling[0], floor);
            gains[2 * f + 1] = right = step_gain(right, run.falling[1], floor);
        }
    } else {
        for (std::size_t f = 0; f < frames; ++f) {
            gains[2 * f] = left;
            gains[2 * f + 1] = right;
        }
    }
    run.gain[0] = left;
    run.gain[1] = right;
}

// Frames up to and including the next swap, which comes when the counter
// has passed D: every D + 2 frames.
uint64_t frames_to_swap(const DelayRun& run)
{
    return static_cast<uint64_t>(run.swap_period) + 2 - run.swap_counter;
}

// Counts frames (no more than frames_to_swap) towards the swap, which takes
// effect from the frame after it; state 0 lowers the right side next,
// state 1 the left. Any other state never lowers either side.
void count_to_swap(DelayRun& run, uint32_t frames)
{
    if (frames < frames_to_swap(run)) {
        run.swap_counter += frames;
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

// Slot of recent holding processed frame m + 1 - H, m being the frame that
// newest takes.
uint32_t oldest(const DelayRun& run)
{
    return (run.newest + run.recent_frames - run.half + 1) % run.recent_frames;
}

// The longest stretch that can be worked as one: the gains only swap roles
// after its last frame, no ring wraps inside it, and no frame hears an echo
// fed within it (an echo travels H frames through the line). The frame of
// the first feed is worked alone, as it still hears no echo.
uint32_t stretch_length(const DelayRun& run, uint32_t frames)
{
    if (run.frames_until_feed == 0 && !run.echoing) return 1;
    uint64_t count = std::min<uint64_t>({frames, STRETCH_FRAMES, run.half, frames_to_swap(run),
                                         run.half - run.cursor, run.recent_frames - run.newest,
                                         run.recent_frames - oldest(run)});
    if (run.frames_until_feed != 0) count = std::min<uint64_t>(count, run.frames_until_feed);
    return static_cast<uint32_t>(count);
}

// processed = sample + feedback * line slot (no echo until the line is
// heard), kept in recent; the block takes the wet/dry blend.
template <bool echoing>
void blend_stretch(const DelayRun& run, float* block, uint32_t frames)
{
    const float feedback = run.feedback, mix = run.mix;
    const float* echo = &run.line[2 * run.cursor];
    float* processed = &run.recent[2 * run.newest];
    for (uint32_t i = 0; i < 2 * frames; ++i) {
        const float sample = block[i];
        const float pending = echoing ? feedback * echo[i] : 0.0f;
        const float wet = sample + pending;
        processed[i] = wet;
        block[i] = blend_wet_dry(mix, wet, sample);
    }
}

// At frame m, processed frame m + 1 - H enters the line, scaled by this
// frame's gains; the slot is heard H frames later. The song's last frame
// feeds the line too, but no frame follows to hear it, so a stream need not
// know where it ends.
void feed_stretch(DelayRun& run, const float* gains, uint32_t frames)
{
    if (run.frames_until_feed != 0) {
        run.frames_until_feed -= frames;
        return;
    }
    const float* source = &run.recent[2 * oldest(run)];
    float* slot = &run.line[2 * run.cursor];
    for (uint32_t i = 0; i < 2 * frames; ++i) slot[i] = source[i] * gains[i];
    run.cursor = run.cursor + frames == run.half ? 0 : run.cursor + frames;
    run.echoing = true;
}

}  // namespace

namespace {

std::size_t line_floats(const DelayRun& run) { return 2 * (static_cast<std::size_t>(run.half) + run.recent_frames); }

}  // namespace

bool delay_start(DelayRun& run, uint32_t delay, uint32_t swap_state, float feedback, float floor,
                 float mix, Fault& fault)
{
    const uint32_t half = delay / 2;
    if (half == 0) return fail(fault, "delay length D must be at least 2");
    run = DelayRun{};
    run.half = half;
    run.swap_period = delay;
    run.feedback = feedback;
    run.floor = floor;
    run.mix = mix;
    run.start_side = swap_state;
    run.recent_frames = half + STRETCH_FRAMES;
    run.line = take_floats(line_floats(run), "the delay line", fault);
    if (run.line == nullptr) return false;
    run.recent = run.line + 2 * static_cast<std::size_t>(half);
    delay_restart(run);
    return true;
}

void delay_restart(DelayRun& run)
{
    run.gain[0] = run.gain[1] = 0.0f;
    run.falling[0] = run.falling[1] = false;
    run.swap_counter = 0;
    run.swap_state = run.start_side;
    run.frames_until_feed = run.half;
    run.echoing = false;
    run.cursor = 0;
    run.newest = 0;
    std::memset(run.line, 0, line_floats(run) * sizeof(float));
}

void delay_block(DelayRun& run, float* block, uint32_t length)
{
    float gains[2 * STRETCH_FRAMES];
    for (uint32_t frames = length / 2; frames != 0;) {
        const uint32_t count = stretch_length(run, frames);
        step_gains(run, gains, count);
        count_to_swap(run, count);
        if (run.echoing) blend_stretch<true>(run, block, count);
        else blend_stretch<false>(run, block, count);
        feed_stretch(run, gains, count);
        run.newest = run.newest + count == run.recent_frames ? 0 : run.newest + count;
        block += 2 * count;
        frames -= count;
    }
}

void delay_finish(DelayRun& run)
{
    std::free(run.line);
    run.line = nullptr;
    run.recent = nullptr;
}
