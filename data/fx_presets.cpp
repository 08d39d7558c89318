// Mix and effect settings of the embedded song.
#include "tables.h"

// Channel gains in percent: the bass (4) is lifted, the pads (5, 6) and the
// drums (7) sit a little back.
const uint8_t channel_gain[CHANNEL_COUNT] = {110, 100, 100, 100, 140, 70, 90, 90};

// {reverb preset, delay preset} per channel. Leads and counter-lines
// alternate delay presets 1 and 2 so their echoes swap sides in opposition;
// the bass stays dry.
const uint8_t channel_fx[CHANNEL_COUNT][2] = {
    {2, 1}, {2, 2}, {2, 1}, {2, 2}, {0, 0}, {4, 4}, {3, 3}, {1, 0},
};

// time (x100 frames), feedback %, floor %, start_side, mix %
const uint8_t delay_bank[FX_PRESET_COUNT][5] = {
    {0, 0, 0, 0, 0},
    {140, 99, 20, 1, 8},
    {140, 99, 20, 0, 8},
    {255, 40, 80, 0, 40},
    {255, 99, 20, 1, 50},
};

// width, dry, wet, damp, roomsize (all percent)
const uint8_t reverb_bank[FX_PRESET_COUNT][5] = {
    {0, 100, 0, 0, 0},
    {150, 100, 15, 10, 10},
    {150, 100, 15, 50, 30},
    {200, 100, 20, 60, 80},
    {200, 100, 40, 100, 80},
};

// A gentle low-pass and a low-cut, three times over, then a stronger
// high-pass blend that thins the low end of the whole mix.
const float eq_data[EQ_RECORD_COUNT * 4] = {
    0.2f, 4800.0f, 0.2f, 200000.0f,
    0.0f, 0.0f, 0.2f, 2000.0f,
};
