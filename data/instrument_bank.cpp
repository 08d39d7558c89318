// The instrument bank. Columns, in record order:
//   waves s1l s1r s2l s2r (wave bank numbers 0..12), wave-envelope length (x3),
//   volume-envelope type (0 decay, 1 attack) and length (x6), sweep type
//   (0 none, 1/3 down, 2/4 up), sweep step (x4 frames), sweep distance
//   (semitones), LFO rate, LFO intensity, LFO waveform (4-entry units),
//   LFO fade-in step (x10 x 64 frames), stereo mix (percent), phase of the
//   right second wave.
#include "tables.h"

const uint8_t instrument_bank[INSTRUMENT_COUNT][INSTRUMENT_SIZE] = {
    // s1l s1r s2l s2r ewav vt  vlen st  sl  stg lfop lfoi lfow lfol ster phase
    {  4,  5,  3,  3,  10,  0, 120,  2,  1,  1,   0,   0,   0,   0,  40,  20},  //  0 plucked pulse, slides up a semitone
    { 10,  9,  8,  8,  20,  0, 120,  0,  0,  0,   0,   0,   0,   0,  35,   0},  //  1 hollow organ
    {  7,  7,  6,  3, 100,  0, 120,  0,  0,  0,  11,   1,   2, 120,  38,  20},  //  2 slow-morphing pad, late vibrato
    { 12, 12,  8,  8,  10,  0, 200,  0,  0,  0,   0,   0,   0,   0,  40,  30},  //  3 bass
    {  2,  1,  0,  0,   3,  0,  40,  2,  1,  1,   0,   0,   0,   0,  35,   0},  //  4 short square blip
    { 10, 10,  6,  3,  10,  0,  50,  0,  0,  0,  14,   1,   0, 200,  20,   0},  //  5 lead
    { 12, 10,  0,  0,   1,  0,   4,  3,  2, 24,   0,   0,   0,   0,  40,   0},  //  6 two-octave pitch drop
    { 12,  6, 11, 10,   1,  0,  80,  3, 15, 72,  60, 126,  12,   0,  43,   0},  //  7 falling siren
    {  3,  6,  9,  8, 200,  0,  50,  3, 10, 72, 200, 100,  12,   0,  62,   0},  //  8 buzzing fall
    { 10,  9, 11, 11,  10,  1, 100,  4, 20, 48, 200, 100,  12,   0,   1,   0},  //  9 rising swell
    {  3,  6,  8,  9,  10,  1, 100,  4, 18, 48, 100, 100,   5,   0,  60,   0},  // 10 rising swell, wide
    {  0,  0,  0,  0, 255,  1,  90,  0,  0,  0,   0,   0,   0,   0,   1, 120},  // 11 sine swell
    {  9,  9,  3,  7,  50,  1,  90,  0,  0,  0,  14,  10,   0,  35,  30,  50},  // 12 soft string
    {  8,  9,  0,  0, 255,  1, 255,  0,  0,  0,  11,   1,   0, 255,  10, 127},  // 13 long drone
};
