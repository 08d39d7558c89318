#include "voice/envelope.h"

uint8_t env_vol_type[OSC_CHANNELS];
uint16_t env_vol_length[OSC_CHANNELS];
uint16_t env_vol_tick[OSC_CHANNELS];
uint16_t env_wav_length[OSC_CHANNELS];
uint16_t env_wav_tick[OSC_CHANNELS];

void env_step(int) {}
void env_reset() {}
