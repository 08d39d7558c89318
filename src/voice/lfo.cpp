#include "voice/lfo.h"

uint32_t lfo_accumulator[OSC_CHANNELS];
uint16_t lfo_pitch[OSC_CHANNELS];
int8_t lfo_waveform[OSC_CHANNELS];
int8_t lfo_intensity[OSC_CHANNELS];
int8_t lfo_amplitude[OSC_CHANNELS];
uint16_t lfo_length[OSC_CHANNELS];
uint16_t lfo_tick[OSC_CHANNELS];
int16_t lfo_output[OSC_CHANNELS];

void lfo_step(int) {}
void lfo_fade_step(int) {}
void lfo_reset() {}
