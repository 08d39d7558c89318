#include "fx/reverb.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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

inline Lanes interleave_low(Lanes a, Lanes b) { return __builtin_shufflevector(a, b, 0, 4, 1, 5); }
inline Lanes interleave_high(Lanes a, Lanes b) { return __builtin_shufflevector(a, b, 2, 6, 3, 7); }
inline Lanes low_halves(Lanes a, Lanes b) { return __builtin_shufflevector(a, b, 0, 1, 4, 5); }
inline Lanes high_halves(Lanes a, Lanes b) { return __builtin_shufflevector(a, b, 2, 3, 6, 7); }

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

CombSide comb_side(const Reverb& v, int first)
{
    CombSide side;
    for (int k = 0; k < 3; ++k) {
        side.damp2[k] = splat(v.comb_damp2[first + k]);
        side.feedback[k] = splat(v.comb_feedback[first + k]);
    }
    side.store = Lanes{v.comb_filterstore[first], v.comb_filterstore[first + 1], v.comb_filterstore[first + 2], 0.0f};
    side.damp1 = Lanes{v.comb_damp1[first], v.comb_damp1[first + 1], v.comb_damp1[first + 2], 0.0f};
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
struct ReverbLanes {
    CombSide left_side, right_side;
    Allpass allpass[ALLPASS_COUNT];
    Lanes gain, wet1, wet2, dry;
};

ReverbLanes reverb_now(const Reverb& v)
{
    ReverbLanes r{comb_side(v, 0), comb_side(v, 3), {}, splat(v.verb_gain), splat(v.verb_wet1), splat(v.verb_wet2), splat(v.verb_dry)};
    for (int k = 0; k < ALLPASS_COUNT; ++k) r.allpass[k].feedback = splat(v.allpass_feedback[k]);
    return r;
}

void point_at_positions(Reverb& v, ReverbLanes& r)
{
    for (int k = 0; k < 3; ++k) {
        r.left_side.line[k] = v.comb_buf[k] + v.comb_bufidx[k];
        r.right_side.line[k] = v.comb_buf[3 + k] + v.comb_bufidx[3 + k];
    }
    for (int k = 0; k < ALLPASS_COUNT; ++k) r.allpass[k].line = v.allpass_buf[k] + v.allpass_bufidx[k];
}

// Up to four frames of the block from frame t of the stretch, in place.
[[gnu::always_inline]] inline void frames_through(ReverbLanes& s, float* block, uint32_t t, uint32_t frames)
{
    float* const at = block + 2 * t;
    const Lanes low = load_lanes(at, std::min(2 * frames, GROUP));
    const Lanes high = load_lanes(at + GROUP, 2 * frames - std::min(2 * frames, GROUP));
    const Lanes dry_left = __builtin_shufflevector(low, high, 0, 2, 4, 6);
    const Lanes dry_right = __builtin_shufflevector(low, high, 1, 3, 5, 7);
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
uint32_t until_a_line_wraps(const Reverb& v, uint32_t frames)
{
    for (int c = 0; c < COMB_COUNT; ++c)
        frames = std::min(frames, static_cast<uint32_t>(v.comb_bufsize[c] - v.comb_bufidx[c]));
    for (int k = 0; k < ALLPASS_COUNT; ++k)
        frames = std::min(frames, static_cast<uint32_t>(v.allpass_bufsize[k] - v.allpass_bufidx[k]));
    return frames;
}

inline void advance(int32_t& idx, int32_t size, uint32_t n)
{
    idx += static_cast<int32_t>(n);
    if (idx == size) idx = 0;
}

// n frames of the block, within which no line wraps around.
[[gnu::always_inline]] inline void stretch_through(Reverb& v, ReverbLanes& r, float* block, uint32_t n)
{
    point_at_positions(v, r);
    uint32_t t = 0;
    for (; t + GROUP <= n; t += GROUP) frames_through(r, block, t, GROUP);
    for (; t < n; ++t) frames_through(r, block, t, 1);
    for (int c = 0; c < COMB_COUNT; ++c) advance(v.comb_bufidx[c], v.comb_bufsize[c], n);
    for (int k = 0; k < ALLPASS_COUNT; ++k) advance(v.allpass_bufidx[k], v.allpass_bufsize[k], n);
}

}  // namespace

void reverb_start(Reverb& v, float width, float dry, float wet, float damp, float roomsize)
{
    v.verb_gain = INPUT_GAIN;
    for (int side = 0; side < 2; ++side) {
        for (int t = 0; t < 3; ++t) v.comb_bufsize[3 * side + t] = COMB_TUNING[t] + side * STEREO_SPREAD;
        for (int t = 0; t < 2; ++t)
            v.allpass_bufsize[2 * side + t] = ALLPASS_TUNING[t] + side * STEREO_SPREAD;
    }
    for (float& feedback : v.allpass_feedback) feedback = ALLPASS_FEEDBACK;

    v.verb_dry = dry;
    v.verb_damp = static_cast<float>(static_cast<double>(damp) * DAMP_SCALE);
    v.verb_roomsize = static_cast<float>(ROOM_OFFSET + static_cast<double>(roomsize) * ROOM_SCALE);
    v.verb_wet1 = static_cast<float>((0.5 + static_cast<double>(width) * 0.5) * static_cast<double>(wet));
    const float narrowing = 1.0f - width;
    v.verb_wet2 = static_cast<float>((static_cast<double>(narrowing) * 0.5) * static_cast<double>(wet));

    for (int k = 0; k < COMB_COUNT; ++k) {
        v.comb_feedback[k] = v.verb_roomsize;
        v.comb_damp1[k] = v.verb_damp;
        v.comb_damp2[k] = 1.0f - v.verb_damp;
    }
}

void reverb_block(Reverb& v, float* block, uint32_t length)
{
    const uint32_t frames = length / 2;
    ReverbLanes r = reverb_now(v);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = until_a_line_wraps(v, frames - done);
        stretch_through(v, r, block + 2 * done, n);
        done += n;
    }
    for (int k = 0; k < 3; ++k) {
        v.comb_filterstore[k] = r.left_side.store[k];
        v.comb_filterstore[3 + k] = r.right_side.store[k];
    }
}

void reverb_resume(Reverb& v, const float (&filterstore)[COMB_COUNT])
{
    reverb_finish(v);
    std::fill(std::begin(v.comb_bufidx), std::end(v.comb_bufidx), 0);
    std::fill(std::begin(v.allpass_bufidx), std::end(v.allpass_bufidx), 0);
    std::copy(std::begin(filterstore), std::end(filterstore), std::begin(v.comb_filterstore));
}

// Positions and filter states stay for the next channel; the lines do not.
void reverb_finish(Reverb& v)
{
    std::memset(v.comb_buf, 0, sizeof v.comb_buf);
    std::memset(v.allpass_buf, 0, sizeof v.allpass_buf);
}
