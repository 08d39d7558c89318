// Volume and wave envelopes of channels 0..6, stepped together by the global
// envelope clock every 201 frames. Both end in a rebake of the wave table.
#pragma once
#include <cstdint>

#include "voice/oscillator.h"

extern uint8_t env_vol_type[OSC_CHANNELS];     // 0 decay, 1 attack, else none
extern uint16_t env_vol_length[OSC_CHANNELS];  // in envelope steps
extern uint16_t env_vol_tick[OSC_CHANNELS];
extern uint16_t env_wav_length[OSC_CHANNELS];  // in envelope steps
extern uint16_t env_wav_tick[OSC_CHANNELS];

// One envelope step of channel i: volume envelope, then wave envelope.
void env_step(int i);

void env_reset();
