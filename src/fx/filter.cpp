#include "fx/filter.h"

#include "fx/blend.h"
#include "fx/buffers.h"

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

FilterStage filter_start(int type, float mix, float cutoff)
{
    if (type != FILTER_LOW_PASS && type != FILTER_HIGH_PASS)
        fx_fail("equaliser filter type must be 0 (low-pass) or 1 (high-pass)");
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

void filter_chain_block(FilterStage* stages, int count, float* block, uint32_t length)
{
    uint32_t f = 0;
    // A stream's first frame takes each stage's own start.
    for (; f < length / 2 && !stages[count - 1].started; ++f)
        for (int r = 0; r < count; ++r) filter_block(stages[r], block + 2 * f, 2);
    for (; f < length / 2; ++f) {
        for (int side = 0; side < 2; ++side) {
            float x = block[2 * f + side];
            for (int r = 0; r < count; ++r) {
                FilterStage& stage = stages[r];
                const float y = filter_step(stage.type, stage.alpha, x, stage.last_input[side],
                                            stage.last_output[side]);
                stage.last_input[side] = x;
                stage.last_output[side] = y;
                x = blend_wet_dry(stage.mix, y, x);
            }
            block[2 * f + side] = x;
        }
    }
}

void filter_process(float* buffer, uint32_t length, int type, float mix, float cutoff)
{
    FilterStage stage = filter_start(type, mix, cutoff);
    filter_block(stage, buffer, length);
}
