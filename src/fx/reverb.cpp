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

// A block goes through in stretches where none of the ten lines wraps
// around, and each stretch four frames at a time: the input, the six combs,
// the all-passes and the output of a group of frames together, as element-
// wise vector operations, except the combs' damping recurrences, which go
// frame by frame with three combs per vector. Within a group a line's samples
// are read before they are written, and were written at least one line length
// earlier. The order and precision of each operation stay those of the
// sample-by-sample recurrences.

// Four floats, each lane rounding as the scalar operation would: either four
// frames of one signal or line, or one frame of a side's three combs, lane 3
// idle at zero.
typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t LaneOrder __attribute__((vector_size(16)));
constexpr uint32_t GROUP = 4;

inline Lanes splat(float x) { return Lanes{x, x, x, x}; }

// The first `count` of four floats; the others zero.
[[gnu::always_inline]] inline Lanes load_lanes(const float* from, uint32_t count)
{
    Lanes v = {};
    std::memcpy(&v, from, count * sizeof(float));
    return v;
}

[[gnu::always_inline]] inline void store_lanes(float* to, Lanes v, uint32_t count)
{
    std::memcpy(to, &v, count * sizeof(float));
}

inline Lanes interleave_low(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{0, 4, 1, 5}); }
inline Lanes interleave_high(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{2, 6, 3, 7}); }
inline Lanes low_halves(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{0, 1, 4, 5}); }
inline Lanes high_halves(Lanes a, Lanes b) { return __builtin_shuffle(a, b, LaneOrder{2, 3, 6, 7}); }

// Rows of three lines' four frames to four frames of three combs, and back.
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
    Lanes damp2[3], feedback[3];  // each comb's, in every lane
};

CombSide comb_side(int first)
{
    CombSide side;
    for (int k = 0; k < 3; ++k) {
        side.damp2[k] = splat(comb_damp2[first + k]);
        side.feedback[k] = splat(comb_feedback[first + k]);
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

// One all-pass: its line at the stretch's start.
struct Allpass {
    float* line;
    Lanes feedback;
};

[[gnu::always_inline]] inline Lanes allpass_frames(const Allpass& allpass, uint32_t t, Lanes input, uint32_t frames)
{
    const Lanes buffered = load_lanes(allpass.line + t, frames);
    store_lanes(allpass.line + t, input + buffered * allpass.feedback, frames);
    return buffered - input;
}

// The reverb's parameters, filter states and line positions as local copies,
// which no line store can alias.
struct Reverb {
    CombSide left_side, right_side;
    Allpass allpass[ALLPASS_COUNT];
    Lanes gain, wet1, wet2, dry;
};

Reverb reverb_now()
{
    Reverb r{comb_side(0), comb_side(3), {}, splat(verb_gain), splat(verb_wet1), splat(verb_wet2), splat(verb_dry)};
    for (int k = 0; k < ALLPASS_COUNT; ++k) r.allpass[k].feedback = splat(allpass_feedback[k]);
    return r;
}

void point_at_positions(Reverb& r)
{
    for (int k = 0; k < 3; ++k) {
        r.left_side.line[k] = comb_buf[k] + comb_bufidx[k];
        r.right_side.line[k] = comb_buf[3 + k] + comb_bufidx[3 + k];
    }
    for (int k = 0; k < ALLPASS_COUNT; ++k) r.allpass[k].line = allpass_buf[k] + allpass_bufidx[k];
}

// Up to four frames of the block from frame t of the stretch, in place.
[[gnu::always_inline]] inline void frames_through(Reverb& s, float* block, uint32_t t, uint32_t frames)
{
    float* const at = block + 2 * t;
    const Lanes low = load_lanes(at, std::min(2 * frames, GROUP));
    const Lanes high = load_lanes(at + GROUP, 2 * frames - std::min(2 * frames, GROUP));
    const Lanes dry_left = __builtin_shuffle(low, high, LaneOrder{0, 2, 4, 6});
    const Lanes dry_right = __builtin_shuffle(low, high, LaneOrder{1, 3, 5, 7});
    const Lanes input = (dry_left + dry_right) * s.gain;
    Lanes left = side_frames(s.left_side, t, input, frames);
    Lanes right = side_frames(s.right_side, t, input, frames);
    left = allpass_frames(s.allpass[1], t, allpass_frames(s.allpass[0], t, left, frames), frames);
    right = allpass_frames(s.allpass[3], t, allpass_frames(s.allpass[2], t, right, frames), frames);
    const Lanes wet_left = (s.wet1 * left + s.wet2 * right) + s.dry * dry_left;
    const Lanes wet_right = (s.wet1 * right + s.wet2 * left) + s.dry * dry_right;
    store_lanes(at, interleave_low(wet_left, wet_right), std::min(2 * frames, GROUP));
    store_lanes(at + GROUP, interleave_high(wet_left, wet_right), 2 * frames - std::min(2 * frames, GROUP));
}

// The frames left before the first of the ten lines wraps around.
uint32_t until_a_line_wraps(uint32_t frames)
{
    for (int c = 0; c < COMB_COUNT; ++c)
        frames = std::min(frames, static_cast<uint32_t>(comb_bufsize[c] - comb_bufidx[c]));
    for (int k = 0; k < ALLPASS_COUNT; ++k)
        frames = std::min(frames, static_cast<uint32_t>(allpass_bufsize[k] - allpass_bufidx[k]));
    return frames;
}

inline void advance(int32_t& idx, int32_t size, uint32_t n)
{
    idx += static_cast<int32_t>(n);
    if (idx == size) idx = 0;
}

// n frames of the block, within which no line wraps around.
[[gnu::always_inline]] inline void stretch_through(Reverb& r, float* block, uint32_t n)
{
    point_at_positions(r);
    uint32_t t = 0;
    for (; t + GROUP <= n; t += GROUP) frames_through(r, block, t, GROUP);
    for (; t < n; ++t) frames_through(r, block, t, 1);
    for (int c = 0; c < COMB_COUNT; ++c) advance(comb_bufidx[c], comb_bufsize[c], n);
    for (int k = 0; k < ALLPASS_COUNT; ++k) advance(allpass_bufidx[k], allpass_bufsize[k], n);
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
    Reverb r = reverb_now();
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = until_a_line_wraps(frames - done);
        stretch_through(r, block + 2 * done, n);
        done += n;
    }
    for (int k = 0; k < 3; ++k) {
        comb_filterstore[k] = r.left_side.store[k];
        comb_filterstore[3 + k] = r.right_side.store[k];
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
