#include "fx/filter.h"

#include <cstring>

#include "fx/blend.h"

namespace {

constexpr double FILTER_PI = 3.14;  // the filter's tuning assumes this pi, not the true one
constexpr float SAMPLE_PERIOD = 1.0f / 44100.0f;

// y[n] from x[n], x[n-1] and y[n-1], each step rounded to single precision.
float filter_step(int type, float alpha, float input, float last_input, float last_output)
{
    if (type == FILTER_LOW_PASS) return last_output + (input - last_output) * alpha;
    return ((input + last_output) - last_input) * alpha;
}

}  // namespace

float filter_alpha(float cutoff)
{
    const float twice_cutoff = cutoff + cutoff;
    const auto rc = static_cast<float>(1.0 / (static_cast<double>(twice_cutoff) * FILTER_PI));
    return SAMPLE_PERIOD / (rc + SAMPLE_PERIOD);
}

FilterStage filter_start(FilterType type, float mix, float cutoff)
{
    return FilterStage{type, mix, filter_alpha(cutoff), false, {0.0f, 0.0f}, {0.0f, 0.0f}};
}

void filter_block(FilterStage& stage, float* block, uint32_t length)
{
    const uint32_t frames = length / 2;
    uint32_t f = 0;
    if (!stage.started && frames > 0) {
        // The stream's first frame passes the filter unchanged (y[0] = x[0]),
        // so the blend only rounds it.
        for (int side = 0; side < 2; ++side) {
            const float x = block[side];
            stage.last_input[side] = x;
            stage.last_output[side] = x;
            block[side] = blend_wet_dry(stage.mix, x, x);
        }
        stage.started = true;
        f = 1;
    }
    for (; f < frames; ++f) {
        for (int side = 0; side < 2; ++side) {
            float& sample = block[2 * f + side];
            const float x = sample;
            const float y = filter_step(stage.type, stage.alpha, x, stage.last_input[side],
                                        stage.last_output[side]);
            stage.last_input[side] = x;
            stage.last_output[side] = y;
            sample = blend_wet_dry(stage.mix, y, x);
        }
    }
}

namespace {

// Left and right side of a frame in the first two lanes of a full vector
// register, so that rounding a double pair to single precision costs one
// conversion and one move; the other two lanes are never read. Each lane
// rounds as the single-sample step does.
using SideLanes = float __attribute__((vector_size(16)));
using SidePairWide = double __attribute__((vector_size(16)));
// A frame as it lies in the block: aligned only as a float, and read and
// written as the block's own floats.
using FrameInBlock = float __attribute__((vector_size(8), aligned(4), may_alias));

inline SidePairWide widened(SideLanes v)
{
    return __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1), SidePairWide);
}

inline SideLanes narrowed(SidePairWide v)
{
    return __builtin_convertvector(__builtin_shufflevector(v, SidePairWide{}, 0, 1, 2, 3), SideLanes);
}

struct ChainStage {
    SideLanes last_input, last_output;
    SideLanes waiting;  // the frame this stage takes next
    SideLanes alpha, mix;
    SidePairWide dry_weight;  // 1 - mix, in double as the blend works it
    bool low_pass;
};

// Which stages low-pass: fixed at compile time for the master equaliser's
// chain, which alternates from a low-pass, so its steps need no branches;
// read from each stage for any other chain.
constexpr int TYPES_OF_EACH_STAGE = -1;
constexpr int ALTERNATING_FROM_LOW_PASS = 0b010101;

template <int LOW_PASS_SET>
inline bool is_low_pass(const ChainStage& s, int r)
{
    return LOW_PASS_SET == TYPES_OF_EACH_STAGE ? s.low_pass : ((LOW_PASS_SET >> r) & 1) != 0;
}

template <int LOW_PASS_SET>
inline SideLanes chain_step(ChainStage& s, int r, SideLanes x)
{
    const SideLanes y = is_low_pass<LOW_PASS_SET>(s, r) ? s.last_output + (x - s.last_output) * s.alpha
                                   : ((x + s.last_output) - s.last_input) * s.alpha;
    s.last_input = x;
    s.last_output = y;
    const SideLanes wet_share = s.mix * y;
    return narrowed(widened(wet_share) + widened(x) * s.dry_weight);
}

// Step i of the pipeline over frames 0 .. frames-1: stage r on frame i - r.
// Stages go from the last to the first, so each takes the frame the stage
// before it finished in the previous step.
template <bool FILLING_OR_DRAINING, int LOW_PASS_SET>
inline void pipeline_step(ChainStage (&chain)[FILTER_CHAIN_LENGTH], float* block, uint32_t frames,
                          uint32_t i)
{
    if (!FILLING_OR_DRAINING || i < frames) {
        const FrameInBlock frame = *reinterpret_cast<const FrameInBlock*>(block + 2 * i);
        chain[0].waiting = __builtin_shufflevector(frame, frame, 0, 1, -1, -1);
    }
#pragma GCC unroll 16
    for (int r = FILTER_CHAIN_LENGTH - 1; r >= 0; --r) {
        const auto u = static_cast<uint32_t>(r);
        if (FILLING_OR_DRAINING && (i < u || i - u >= frames)) continue;
        const SideLanes y = chain_step<LOW_PASS_SET>(chain[r], r, chain[r].waiting);
        if (r + 1 < FILTER_CHAIN_LENGTH) chain[r + 1].waiting = y;
        else *reinterpret_cast<FrameInBlock*>(block + 2 * (i - u)) = __builtin_shufflevector(y, y, 0, 1);
    }
}

// A software pipeline: at step i stage r works on frame i - r, so the
// stages' serial recurrences overlap instead of following one another.
template <int LOW_PASS_SET>
void run_pipeline(ChainStage (&chain)[FILTER_CHAIN_LENGTH], float* block, uint32_t frames)
{
    constexpr uint32_t DEPTH = FILTER_CHAIN_LENGTH - 1;
    const uint32_t steps = frames + DEPTH;
    uint32_t i = 0;
    for (; i < DEPTH; ++i) pipeline_step<true, LOW_PASS_SET>(chain, block, frames, i);
    for (; i < frames; ++i) pipeline_step<false, LOW_PASS_SET>(chain, block, frames, i);
    for (; i < steps; ++i) pipeline_step<true, LOW_PASS_SET>(chain, block, frames, i);
}

}  // namespace

void filter_chain_block(FilterStage (&stages)[FILTER_CHAIN_LENGTH], float* block, uint32_t length)
{
    uint32_t frames = length / 2;
    // A stream's first frame takes each stage's own start.
    for (; frames > 0 && !stages[FILTER_CHAIN_LENGTH - 1].started; --frames, block += 2)
        for (FilterStage& stage : stages) filter_block(stage, block, 2);
    if (frames == 0) return;

    ChainStage chain[FILTER_CHAIN_LENGTH];
    int low_pass_set = 0;
    for (int r = 0; r < FILTER_CHAIN_LENGTH; ++r) {
        const FilterStage& s = stages[r];
        ChainStage& c = chain[r];
        c.last_input = SideLanes{s.last_input[0], s.last_input[1], 0.0f, 0.0f};
        c.last_output = SideLanes{s.last_output[0], s.last_output[1], 0.0f, 0.0f};
        c.waiting = SideLanes{};
        c.alpha = SideLanes{s.alpha, s.alpha, s.alpha, s.alpha};
        c.mix = SideLanes{s.mix, s.mix, s.mix, s.mix};
        const double dry_weight = 1.0 - static_cast<double>(s.mix);
        c.dry_weight = SidePairWide{dry_weight, dry_weight};
        c.low_pass = s.type == FILTER_LOW_PASS;
        if (c.low_pass) low_pass_set |= 1 << r;
    }
    if (low_pass_set == ALTERNATING_FROM_LOW_PASS) run_pipeline<ALTERNATING_FROM_LOW_PASS>(chain, block, frames);
    else run_pipeline<TYPES_OF_EACH_STAGE>(chain, block, frames);
    for (int r = 0; r < FILTER_CHAIN_LENGTH; ++r) {
        for (int side = 0; side < 2; ++side) {
            stages[r].last_input[side] = chain[r].last_input[side];
            stages[r].last_output[side] = chain[r].last_output[side];
        }
    }
}
