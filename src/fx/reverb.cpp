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

// A block works on copies of the filters' state, so the compiler can keep
// it in registers: the static lines are floats too, and writes to them
// would otherwise force every state and weight to be reloaded each sample.
struct Comb {
    float* line;
    int32_t size, idx;
    float feedback, damp1, damp2, store;
};

struct Allpass {
    float* line;
    int32_t size, idx;
    float feedback;
};

Comb load_comb(int k)
{
    return {comb_buf[k], comb_bufsize[k], comb_bufidx[k], comb_feedback[k],
            comb_damp1[k], comb_damp2[k], comb_filterstore[k]};
}

Allpass load_allpass(int k)
{
    return {allpass_buf[k], allpass_bufsize[k], allpass_bufidx[k], allpass_feedback[k]};
}

// A damped feedback comb: returns the sample read before the write.
inline float comb_step(Comb& c, float input)
{
    const float out = c.line[c.idx];
    c.store = out * c.damp2 + c.store * c.damp1;
    c.line[c.idx] = input + c.store * c.feedback;
    if (++c.idx >= c.size) c.idx = 0;
    return out;
}

inline float allpass_step(Allpass& a, float input)
{
    const float buffered = a.line[a.idx];
    const float out = buffered - input;
    a.line[a.idx] = input + buffered * a.feedback;
    if (++a.idx >= a.size) a.idx = 0;
    return out;
}

// One side: three combs summed from 0 in order, then two all-passes in series.
inline float side_step(Comb* combs, Allpass* allpasses, float input)
{
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) sum = sum + comb_step(combs[k], input);
    return allpass_step(allpasses[1], allpass_step(allpasses[0], sum));
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
    Comb combs[COMB_COUNT];
    Allpass allpasses[ALLPASS_COUNT];
    for (int k = 0; k < COMB_COUNT; ++k) combs[k] = load_comb(k);
    for (int k = 0; k < ALLPASS_COUNT; ++k) allpasses[k] = load_allpass(k);
    const float gain = verb_gain, wet1 = verb_wet1, wet2 = verb_wet2, dry = verb_dry;

    const uint32_t frames = length / 2;
    for (uint32_t f = 0; f < frames; ++f) {
        float& left = block[2 * f];
        float& right = block[2 * f + 1];
        const float input = (left + right) * gain;
        const float out_left = side_step(&combs[0], &allpasses[0], input);
        const float out_right = side_step(&combs[3], &allpasses[2], input);
        left = (wet1 * out_left + wet2 * out_right) + dry * left;
        right = (wet1 * out_right + wet2 * out_left) + dry * right;
    }

    for (int k = 0; k < COMB_COUNT; ++k) {
        comb_bufidx[k] = combs[k].idx;
        comb_filterstore[k] = combs[k].store;
    }
    for (int k = 0; k < ALLPASS_COUNT; ++k) allpass_bufidx[k] = allpasses[k].idx;
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
