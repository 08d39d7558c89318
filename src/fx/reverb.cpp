#include "fx/reverb.h"

#include <cstring>

float verb_width, verb_dry, verb_wet, verb_damp, verb_roomsize;
float verb_wet1, verb_wet2, verb_gain, verb_damp1, verb_roomsize1;

float comb_buf[COMB_COUNT][COMB_ROW];
int32_t comb_bufsize[COMB_COUNT];
int32_t comb_bufidx[COMB_COUNT];
float comb_feedback[COMB_COUNT];
float comb_damp1[COMB_COUNT];
float comb_damp2[COMB_COUNT];
float comb_filterstore[COMB_COUNT];

float allpass_buf[ALLPASS_COUNT][ALLPASS_ROW];
int32_t allpass_bufsize[ALLPASS_COUNT];
int32_t allpass_bufidx[ALLPASS_COUNT];
float allpass_feedback[ALLPASS_COUNT];

namespace {

// The right side's lines are longer by a fixed spread, so the two sides
// decorrelate.
constexpr int32_t STEREO_SPREAD = 23;
constexpr int32_t COMB_TUNING[3] = {1116, 1188, 1277};
constexpr int32_t ALLPASS_TUNING[2] = {556, 441};

constexpr float INPUT_GAIN = 0.05f;
constexpr float ALLPASS_FEEDBACK = 0.5f;
constexpr double DAMP_SCALE = 0.4;
constexpr double ROOM_OFFSET = 0.7;
constexpr double ROOM_SCALE = 0.28;

// A damped feedback comb: returns the sample read before the write.
float comb_step(int k, float input)
{
    float* line = comb_buf[k];
    int32_t& idx = comb_bufidx[k];
    const float out = line[idx];
    comb_filterstore[k] = out * comb_damp2[k] + comb_filterstore[k] * comb_damp1[k];
    line[idx] = input + comb_filterstore[k] * comb_feedback[k];
    if (++idx >= comb_bufsize[k]) idx = 0;
    return out;
}

float allpass_step(int k, float input)
{
    float* line = allpass_buf[k];
    int32_t& idx = allpass_bufidx[k];
    const float buffered = line[idx];
    const float out = buffered - input;
    line[idx] = input + buffered * allpass_feedback[k];
    if (++idx >= allpass_bufsize[k]) idx = 0;
    return out;
}

// One side: three combs summed from 0 in order, then two all-passes in series.
float side_step(int first_comb, int first_allpass, float input)
{
    float sum = 0.0f;
    for (int k = first_comb; k < first_comb + 3; ++k) sum = sum + comb_step(k, input);
    return allpass_step(first_allpass + 1, allpass_step(first_allpass, sum));
}

}  // namespace

void reverb_start(float width, float dry, float wet, float damp, float roomsize)
{
    verb_gain = INPUT_GAIN;
    for (int side = 0; side < 2; ++side) {
        for (int t = 0; t < 3; ++t) comb_bufsize[3 * side + t] = COMB_TUNING[t] + side * STEREO_SPREAD;
        for (int t = 0; t < 2; ++t)
            allpass_bufsize[2 * side + t] = ALLPASS_TUNING[t] + side * STEREO_SPREAD;
    }
    for (float& feedback : allpass_feedback) feedback = ALLPASS_FEEDBACK;

    verb_width = width;
    verb_dry = dry;
    verb_wet = wet;
    verb_damp = verb_damp1 = static_cast<float>(static_cast<double>(damp) * DAMP_SCALE);
    verb_roomsize = verb_roomsize1 =
        static_cast<float>(ROOM_OFFSET + static_cast<double>(roomsize) * ROOM_SCALE);
    verb_wet1 = static_cast<float>((0.5 + static_cast<double>(width) * 0.5) * static_cast<double>(wet));
    const float narrowing = 1.0f - width;
    verb_wet2 = static_cast<float>((static_cast<double>(narrowing) * 0.5) * static_cast<double>(wet));

    for (int k = 0; k < COMB_COUNT; ++k) {
        comb_feedback[k] = verb_roomsize;
        comb_damp1[k] = verb_damp;
        comb_damp2[k] = 1.0f - verb_damp;
    }
}

void reverb_block(float* block, uint32_t length)
{
    const uint32_t frames = length / 2;
    for (uint32_t f = 0; f < frames; ++f) {
        float& left = block[2 * f];
        float& right = block[2 * f + 1];
        const float input = (left + right) * verb_gain;
        const float out_left = side_step(0, 0, input);
        const float out_right = side_step(3, 2, input);
        left = (verb_wet1 * out_left + verb_wet2 * out_right) + verb_dry * left;
        right = (verb_wet1 * out_right + verb_wet2 * out_left) + verb_dry * right;
    }
}

// Positions and filter states stay for the next channel; the lines do not.
void reverb_finish()
{
    std::memset(comb_buf, 0, sizeof comb_buf);
    std::memset(allpass_buf, 0, sizeof allpass_buf);
}

void reverb_process(float* buffer, uint32_t length, float width, float dry, float wet,
                    float damp, float roomsize)
{
    reverb_start(width, dry, wet, damp, roomsize);
    reverb_block(buffer, length);
    reverb_finish();
}

void reverb_reset()
{
    reverb_finish();
    verb_width = verb_dry = verb_wet = verb_damp = verb_roomsize = 0.0f;
    verb_wet1 = verb_wet2 = verb_gain = verb_damp1 = verb_roomsize1 = 0.0f;
    for (int k = 0; k < COMB_COUNT; ++k) {
        comb_bufsize[k] = comb_bufidx[k] = 0;
        comb_feedback[k] = comb_damp1[k] = comb_damp2[k] = comb_filterstore[k] = 0.0f;
    }
    for (int k = 0; k < ALLPASS_COUNT; ++k) {
        allpass_bufsize[k] = allpass_bufidx[k] = 0;
        allpass_feedback[k] = 0.0f;
    }
}
