#include "voice/sweep.h"

uint8_t swp_type[OSC_CHANNELS];
uint8_t swp_length[OSC_CHANNELS];
uint8_t swp_target[OSC_CHANNELS];
uint16_t swp_tick[OSC_CHANNELS];

void swp_step(int) {}
void swp_reset() {}
