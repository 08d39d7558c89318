#include "fx/reverb.h"

#include <algorithm>
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

// A block goes through in chunks no longer than the shortest line. A line
// sample read in a chunk was then written at least one line length earlier,
// so before the chunk: each chunk reads its lines' samples first, works
// stage by stage along the chunk, and writes the lines back last. Only the
// combs' damping filters run sample by sample; every other step is an
// element-wise loop. The order and precision of each operation stay those
// of the sample-by-sample recurrences.
constexpr uint32_t CHUNK = 256;
static_assert(CHUNK <= ALLPASS_TUNING[1] && CHUNK <= COMB_TUNING[0], "a chunk outruns a line");

// The n samples of a circular line from position idx on, in order, as at
// most two contiguous runs; visit(line run, offset in chunk, run length).
template <class Visit>
inline void along_line(float* line, int32_t size, int32_t idx, uint32_t n, Visit visit)
{
    const uint32_t first = std::min<uint32_t>(n, static_cast<uint32_t>(size - idx));
    visit(line + idx, 0u, first);
    if (first < n) visit(line, first, n - first);
}

inline int32_t advance(int32_t idx, int32_t size, uint32_t n)
{
    return static_cast<int32_t>((static_cast<uint32_t>(idx) + n) % static_cast<uint32_t>(size));
}

// The six combs over a chunk: the outputs of combs 0..2 summed from 0 in
// order into left, of 3..5 into right; every line fed with input plus its
// damped feedback. Only the damping recurrences run sample by sample, all
// six in one loop so that they overlap.
void combs_chunk(const float* input, float* left, float* right, uint32_t n)
{
    float out[COMB_COUNT][CHUNK];
    float store[COMB_COUNT][CHUNK];  // first out * damp2, then the damped feedback
    for (int c = 0; c < COMB_COUNT; ++c) {
        along_line(comb_buf[c], comb_bufsize[c], comb_bufidx[c], n,
                   [&](const float* run, uint32_t at, uint32_t len) {
                       std::memcpy(&out[c][at], run, len * sizeof(float));
                   });
        const float damp2 = comb_damp2[c];
        for (uint32_t t = 0; t < n; ++t) store[c][t] = out[c][t] * damp2;
    }
    float s0 = comb_filterstore[0], s1 = comb_filterstore[1], s2 = comb_filterstore[2];
    float s3 = comb_filterstore[3], s4 = comb_filterstore[4], s5 = comb_filterstore[5];
    const float d0 = comb_damp1[0], d1 = comb_damp1[1], d2 = comb_damp1[2];
    const float d3 = comb_damp1[3], d4 = comb_damp1[4], d5 = comb_damp1[5];
    for (uint32_t t = 0; t < n; ++t) {  // out * damp2 + store * damp1, per comb
        store[0][t] = s0 = store[0][t] + s0 * d0;
        store[1][t] = s1 = store[1][t] + s1 * d1;
        store[2][t] = s2 = store[2][t] + s2 * d2;
        store[3][t] = s3 = store[3][t] + s3 * d3;
        store[4][t] = s4 = store[4][t] + s4 * d4;
        store[5][t] = s5 = store[5][t] + s5 * d5;
    }
    const float last[COMB_COUNT] = {s0, s1, s2, s3, s4, s5};
    for (int c = 0; c < COMB_COUNT; ++c) {
        comb_filterstore[c] = last[c];
        const float feedback = comb_feedback[c];
        const float* st = store[c];
        along_line(comb_buf[c], comb_bufsize[c], comb_bufidx[c], n,
                   [&](float* run, uint32_t at, uint32_t len) {
                       for (uint32_t t = 0; t < len; ++t) run[t] = input[at + t] + st[at + t] * feedback;
                   });
        comb_bufidx[c] = advance(comb_bufidx[c], comb_bufsize[c], n);
    }
    for (uint32_t t = 0; t < n; ++t) left[t] = ((0.0f + out[0][t]) + out[1][t]) + out[2][t];
    for (uint32_t t = 0; t < n; ++t) right[t] = ((0.0f + out[3][t]) + out[4][t]) + out[5][t];
}

// All-pass k over a chunk, in place.
void allpass_chunk(int k, float* signal, uint32_t n)
{
    const float feedback = allpass_feedback[k];
    along_line(allpass_buf[k], allpass_bufsize[k], allpass_bufidx[k], n,
               [&](float* run, uint32_t at, uint32_t len) {
                   float* x = signal + at;
                   for (uint32_t t = 0; t < len; ++t) {
                       const float buffered = run[t];
                       const float input = x[t];
                       run[t] = input + buffered * feedback;
                       x[t] = buffered - input;
                   }
               });
    allpass_bufidx[k] = advance(allpass_bufidx[k], allpass_bufsize[k], n);
}

void reverb_chunk(float* block, uint32_t n)
{
    float input[CHUNK] = {}, left[CHUNK], right[CHUNK];
    const float gain = verb_gain, wet1 = verb_wet1, wet2 = verb_wet2, dry = verb_dry;
    for (uint32_t t = 0; t < n; ++t) input[t] = (block[2 * t] + block[2 * t + 1]) * gain;
    combs_chunk(input, left, right, n);
    allpass_chunk(0, left, n);
    allpass_chunk(1, left, n);
    allpass_chunk(2, right, n);
    allpass_chunk(3, right, n);
    for (uint32_t t = 0; t < n; ++t) {
        float* frame = block + 2 * t;
        const float out_left = left[t], out_right = right[t];
        frame[0] = (wet1 * out_left + wet2 * out_right) + dry * frame[0];
        frame[1] = (wet1 * out_right + wet2 * out_left) + dry * frame[1];
    }
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
    for (uint32_t done = 0; done < frames; done += CHUNK)
        reverb_chunk(block + 2 * done, std::min(CHUNK, frames - done));
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
