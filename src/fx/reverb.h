// Stereo comb/all-pass reverb. One reverb serves every channel in turn; its
// comb filter states and line positions carry over from one call to the next.
#pragma once
#include <cstdint>

constexpr int COMB_COUNT = 6;     // 0..2 left, 3..5 right
constexpr int ALLPASS_COUNT = 4;  // 0, 1 in series on the left; 2, 3 on the right
constexpr int COMB_ROW = 2048;
constexpr int ALLPASS_ROW = 1024;

extern float verb_width, verb_dry, verb_wet, verb_damp, verb_roomsize;
extern float verb_wet1, verb_wet2, verb_gain, verb_damp1, verb_roomsize1;

extern float comb_buf[COMB_COUNT][COMB_ROW];
extern int32_t comb_bufsize[COMB_COUNT];
extern int32_t comb_bufidx[COMB_COUNT];
extern float comb_feedback[COMB_COUNT];
extern float comb_damp1[COMB_COUNT];
extern float comb_damp2[COMB_COUNT];
extern float comb_filterstore[COMB_COUNT];

extern float allpass_buf[ALLPASS_COUNT][ALLPASS_ROW];
extern int32_t allpass_bufsize[ALLPASS_COUNT];
extern int32_t allpass_bufidx[ALLPASS_COUNT];
extern float allpass_feedback[ALLPASS_COUNT];

// A call in three parts so the song can pass through in blocks: the
// parameters of this channel, any number of blocks of whole frames in order,
// then the lines cleared for the next channel.
void reverb_start(float width, float dry, float wet, float damp, float roomsize);
void reverb_block(float* block, uint32_t length);
void reverb_finish();

// The three parts with the whole buffer as one block. length: number of floats.
void reverb_process(float* buffer, uint32_t length, float width, float dry, float wet,
                    float damp, float roomsize);

// Back to program start: lines, positions, filter states and parameters zero.
void reverb_reset();
