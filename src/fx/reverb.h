// Stereo comb/all-pass reverb. One reverb serves every channel in turn; its
// comb filter states and line positions carry over from one channel's run
// to the next.
#pragma once
#include <cstdint>

constexpr int COMB_COUNT = 6;     // 0..2 left, 3..5 right
constexpr int ALLPASS_COUNT = 4;  // 0, 1 in series on the left; 2, 3 on the right
constexpr int COMB_ROW = 2048;
constexpr int ALLPASS_ROW = 1024;

struct Reverb {
    float verb_dry = 0.0f, verb_wet1 = 0.0f, verb_wet2 = 0.0f, verb_gain = 0.0f;
    float verb_damp = 0.0f, verb_roomsize = 0.0f;

    float comb_buf[COMB_COUNT][COMB_ROW] = {};
    int32_t comb_bufsize[COMB_COUNT] = {};
    int32_t comb_bufidx[COMB_COUNT] = {};
    float comb_feedback[COMB_COUNT] = {};
    float comb_damp1[COMB_COUNT] = {};
    float comb_damp2[COMB_COUNT] = {};
    float comb_filterstore[COMB_COUNT] = {};

    float allpass_buf[ALLPASS_COUNT][ALLPASS_ROW] = {};
    int32_t allpass_bufsize[ALLPASS_COUNT] = {};
    int32_t allpass_bufidx[ALLPASS_COUNT] = {};
    float allpass_feedback[ALLPASS_COUNT] = {};
};

// Runs are compared byte for byte: nothing but 4-byte fields, no padding.
static_assert(sizeof(Reverb) == 4 * (6 + COMB_COUNT * (COMB_ROW + 6) + ALLPASS_COUNT * (ALLPASS_ROW + 3)));

// A channel's run in three parts so the song can pass through in blocks:
// the parameters of this channel, any number of blocks of whole frames in
// order, then the lines cleared for the next channel. length: floats.
void reverb_start(Reverb& reverb, float width, float dry, float wet, float damp, float roomsize);
void reverb_block(Reverb& reverb, float* block, uint32_t length);
void reverb_finish(Reverb& reverb);

// Lines cleared and every position at its line's start, with the comb
// filter states one channel's run hands to the next. Those states are all
// that carries: the lines are cleared between channels, and where a comb
// stands on a cleared line changes nothing it returns. So a reverb resumed
// with another's states runs on exactly as that one would.
void reverb_resume(Reverb& reverb, const float (&filterstore)[COMB_COUNT]);
