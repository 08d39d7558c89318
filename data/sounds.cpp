// The default sounds: the embedded song's instruments, channel mix,
// effect presets and master equaliser. Every song starts from these.
#include "tables.h"

const Sounds default_sounds = {
    // The instrument bank. Columns, in record order:
    //   waves s1l s1r s2l s2r (wave bank numbers 0..12), wave-envelope length (x3),
    //   volume-envelope type (0 decay, 1 attack) and length (x6), sweep type
    //   (0 none, 1/3 down, 2/4 up), sweep step (x4 frames), sweep distance
    //   (semitones), LFO rate, LFO intensity, LFO waveform (4-entry units),
    //   LFO fade-in step (x10 x 64 frames), stereo mix (percent), phase of the
    //   right second wave.
    {
        // s1l s1r s2l s2r ewav vt  vlen st  sl  stg lfop lfoi lfow lfol ster phase
        {  4,  5,  3,  3,  10,  0, 120,  2,  1,  1,   0,   0,   0,   0,  40,  20},  // 0 plucked pulse, slides up a semitone
        { 10,  9,  8,  8,  20,  0, 120,  0,  0,  0,   0,   0,   0,   0,  35,   0},  // 1 hollow organ
        {  7,  7,  6,  3, 100,  0, 120,  0,  0,  0,  11,   1,   2, 120,  38,  20},  // 2 slow-morphing pad, late vibrato
        { 12, 12,  8,  8,  10,  0, 200,  0,  0,  0,   0,   0,   0,   0,  40,  30},  // 3 bass
        {  2,  1,  0,  0,   3,  0,  40,  2,  1,  1,   0,   0,   0,   0,  35,   0},  // 4 short square blip
        { 10, 10,  6,  3,  10,  0,  50,  0,  0,  0,  14,   1,   0, 200,  20,   0},  // 5 lead
        { 12, 10,  0,  0,   1,  0,   4,  3,  2, 24,   0,   0,   0,   0,  40,   0},  // 6 two-octave pitch drop
        { 12,  6, 11, 10,   1,  0,  80,  3, 15, 72,  60, 126,  12,   0,  43,   0},  // 7 falling siren
        {  3,  6,  9,  8, 200,  0,  50,  3, 10, 72, 200, 100,  12,   0,  62,   0},  // 8 buzzing fall
        { 10,  9, 11, 11,  10,  1, 100,  4, 20, 48, 200, 100,  12,   0,   1,   0},  // 9 rising swell
        {  3,  6,  8,  9,  10,  1, 100,  4, 18, 48, 100, 100,   5,   0,  60,   0},  // 10 rising swell, wide
        {  0,  0,  0,  0, 255,  1,  90,  0,  0,  0,   0,   0,   0,   0,   1, 120},  // 11 sine swell
        {  9,  9,  3,  7,  50,  1,  90,  0,  0,  0,  14,  10,   0,  35,  30,  50},  // 12 soft string
        {  8,  9,  0,  0, 255,  1, 255,  0,  0,  0,  11,   1,   0, 255,  10, 127},  // 13 long drone
    },
    // Channel gains in percent: the bass (4) is lifted, the pads (5, 6) and the
    // drums (7) sit a little back.
    {110, 100, 100, 100, 140, 70, 90, 90},
    // {reverb preset, delay preset} per channel. Leads and counter-lines
    // alternate delay presets 1 and 2 so their echoes swap sides in opposition;
    // the bass stays dry.
    {
        {2, 1}, {2, 2}, {2, 1}, {2, 2}, {0, 0}, {4, 4}, {3, 3}, {1, 0},
    },
    // Delay presets: time (x100 frames), feedback %, floor %, start_side, mix %
    {
        {0, 0, 0, 0, 0},
        {140, 99, 20, 1, 8},
        {140, 99, 20, 0, 8},
        {255, 40, 80, 0, 40},
        {255, 99, 20, 1, 50},
    },
    // Reverb presets: width, dry, wet, damp, roomsize (all percent)
    {
        {0, 100, 0, 0, 0},
        {150, 100, 15, 10, 10},
        {150, 100, 15, 50, 30},
        {200, 100, 20, 60, 80},
        {200, 100, 40, 100, 80},
    },
    // A gentle low-pass and a low-cut, three times over, then a stronger
    // high-pass blend that thins the low end of the whole mix.
    {
        0.2f, 4800.0f, 0.2f, 200000.0f,
        0.0f, 0.0f, 0.2f, 2000.0f,
    },
};
