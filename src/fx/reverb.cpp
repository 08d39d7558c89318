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

// A block goes through in chunks. The combs run four frames at a time, all
// six straight on their lines, in stretches where no line wraps around; only
// their damping recurrences go frame by frame, three combs per vector. The
// all-passes then go element-wise over pieces no longer than their shortest
// line: a line sample read in a piece was written at least one line length
// earlier, so before the piece; each piece reads its samples first and writes
// them back after. The order and precision of each operation stay those of
// the sample-by-sample recurrences.
constexpr uint32_t CHUNK = 1024;
constexpr uint32_t ALLPASS_PIECE = ALLPASS_TUNING[1];

// Four floats, each lane rounding as the scalar operation would: either four
// frames of one line (a row) or one frame of a side's three combs, lane 3
// idle at zero.
typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t LaneOrder __attribute__((vector_size(16)));
constexpr uint32_t GROUP = 4;

// The first `frames` of four floats; the others zero.
inline Lanes load_lanes(const float* from, uint32_t frames)
{
    Lanes v = {};
    std::memcpy(&v, from, frames * sizeof(float));
    return v;
}

inline void store_lanes(float* to, Lanes v, uint32_t frames)
{
    std::memcpy(to, &v, frames * sizeof(float));
}

inline Lanes interleave_low(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{0, 4, 1, 5}); }
inline Lanes interleave_high(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{2, 6, 3, 7}); }
inline Lanes low_halves(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{0, 1, 4, 5}); }
inline Lanes high_halves(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{2, 3, 6, 7}); }

// Rows of three lines to four frames of three combs, and back.
inline void rows_to_frames(const Lanes row[3], Lanes frame[GROUP])
{
    const Lanes zero = {};
    const Lanes low01 = interleave_low(row[0], row[1]), low2 = interleave_low(row[2], zero);
    const Lanes high01 = interleave_high(row[0], row[1]), high2 = interleave_high(row[2], zero);
    frame[0] = low_halves(low01, low2);
    frame[1] = high_halves(low01, low2);
    frame[2] = low_halves(high01, high2);
    frame[3] = high_halves(high01, high2);
}

inline void frames_to_rows(const Lanes frame[GROUP], Lanes row[3])
{
    const Lanes low01 = interleave_low(frame[0], frame[1]), low23 = interleave_low(frame[2], frame[3]);
    const Lanes high01 = interleave_high(frame[0], frame[1]), high23 = interleave_high(frame[2], frame[3]);
    row[0] = low_halves(low01, low23);
    row[1] = high_halves(low01, low23);
    row[2] = low_halves(high01, high23);
}

// One side's three combs: their lines at the stretch's start, damping states.
struct CombSide {
    float* line[3];
    Lanes store;
    Lanes damp1;
    float damp2[3], feedback[3];
};

CombSide comb_side(int first)
{
    CombSide side;
    for (int k = 0; k < 3; ++k) {
        side.line[k] = comb_buf[first + k] + comb_bufidx[first + k];
        side.damp2[k] = comb_damp2[first + k];
        side.feedback[k] = comb_feedback[first + k];
    }
    side.store = Lanes{comb_filterstore[first], comb_filterstore[first + 1], comb_filterstore[first + 2], 0.0f};
    side.damp1 = Lanes{comb_damp1[first], comb_damp1[first + 1], comb_damp1[first + 2], 0.0f};
    return side;
}

// Up to four frames of one side's combs from frame t of the stretch: each
// line fed with input plus (out * damp2 + store * damp1) times its feedback;
// returns the outputs summed from 0 in order.
[[gnu::always_inline]] inline Lanes side_frames(CombSide& side, uint32_t t, Lanes input, uint32_t frames)
{
    Lanes out[3], damped[3];
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        out[k] = load_lanes(side.line[k] + t, frames);
        damped[k] = out[k] * side.damp2[k];
    }
    Lanes frame[GROUP];
    rows_to_frames(damped, frame);
#pragma GCC unroll 4
    for (uint32_t f = 0; f < frames; ++f) frame[f] = side.store = frame[f] + side.store * side.damp1;
    Lanes stored[3];
    frames_to_rows(frame, stored);
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) store_lanes(side.line[k] + t, input + stored[k] * side.feedback[k], frames);
    return ((0.0f + out[0]) + out[1]) + out[2];
}

// n frames of the six combs, none of whose lines ends within them: the
// outputs of combs 0..2 into left, of 3..5 into right. The sides are worked
// on as local copies, which no line store can alias.
void combs_stretch(CombSide& left_side, CombSide& right_side, const float* input, float* left, float* right,
                   uint32_t n)
{
    CombSide l = left_side, r = right_side;
    uint32_t t = 0;
    for (; t + GROUP <= n; t += GROUP) {
        const Lanes in = load_lanes(input + t, GROUP);
        store_lanes(left + t, side_frames(l, t, in, GROUP), GROUP);
        store_lanes(right + t, side_frames(r, t, in, GROUP), GROUP);
    }
    if (const uint32_t frames = n - t) {
        const Lanes in = load_lanes(input + t, frames);
        store_lanes(left + t, side_frames(l, t, in, frames), frames);
        store_lanes(right + t, side_frames(r, t, in, frames), frames);
    }
    left_side.store = l.store;
    right_side.store = r.store;
}

void combs_chunk(const float* input, float* left, float* right, uint32_t n)
{
    Lanes store_l = {}, store_r = {};
    for (uint32_t done = 0; done < n;) {
        uint32_t stretch = n - done;
        for (int c = 0; c < COMB_COUNT; ++c)
            stretch = std::min(stretch, static_cast<uint32_t>(comb_bufsize[c] - comb_bufidx[c]));
        CombSide left_side = comb_side(0), right_side = comb_side(3);
        combs_stretch(left_side, right_side, input + done, left + done, right + done, stretch);
        store_l = left_side.store;
        store_r = right_side.store;
        for (int k = 0; k < 3; ++k) {
            comb_filterstore[k] = store_l[k];
            comb_filterstore[3 + k] = store_r[k];
        }
        for (int c = 0; c < COMB_COUNT; ++c) {
            comb_bufidx[c] += static_cast<int32_t>(stretch);
            if (comb_bufidx[c] == comb_bufsize[c]) comb_bufidx[c] = 0;
        }
        done += stretch;
    }
}

// All-pass k over a piece, in place: the line's samples in order from its
// position on, as at most two contiguous runs.
void allpass_piece(int k, float* signal, uint32_t n)
{
    const float feedback = allpass_feedback[k];
    float* const line = allpass_buf[k];
    const uint32_t size = static_cast<uint32_t>(allpass_bufsize[k]);
    uint32_t idx = static_cast<uint32_t>(allpass_bufidx[k]);
    for (uint32_t done = 0; done < n;) {
        const uint32_t run = std::min(n - done, size - idx);
        float* const buffered = line + idx;
        float* const x = signal + done;
        for (uint32_t t = 0; t < run; ++t) {
            const float b = buffered[t];
            const float input = x[t];
            buffered[t] = input + b * feedback;
            x[t] = b - input;
        }
        idx += run;
        if (idx == size) idx = 0;
        done += run;
    }
    allpass_bufidx[k] = static_cast<int32_t>(idx);
}

void allpasses(int first, float* signal, uint32_t n)
{
    for (int k = first; k < first + 2; ++k)
        for (uint32_t done = 0; done < n; done += ALLPASS_PIECE)
            allpass_piece(k, signal + done, std::min(ALLPASS_PIECE, n - done));
}

void reverb_chunk(float* block, uint32_t n)
{
    float input[CHUNK], left[CHUNK], right[CHUNK];
    const float gain = verb_gain, wet1 = verb_wet1, wet2 = verb_wet2, dry = verb_dry;
    for (uint32_t t = 0; t < n; ++t) input[t] = (block[2 * t] + block[2 * t + 1]) * gain;
    combs_chunk(input, left, right, n);
    allpasses(0, left, n);
    allpasses(2, right, n);
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
