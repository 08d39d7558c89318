// Volume and wave envelopes of one oscillator channel, stepped by the
// global envelope clock every 201 frames. Both end in a rebake of the
// oscillator's wave table.
#pragma once
#include <cstdint>

#include "voice/oscillator.h"

struct Envelope {
    uint8_t env_vol_type = 0;     // 0 decay, 1 attack, else none
    uint16_t env_vol_length = 0;  // in envelope steps
    uint16_t env_vol_tick = 0;
    uint16_t env_wav_length = 0;  // in envelope steps
    uint16_t env_wav_tick = 0;
    float env_channel_volume = 0.0f;  // the channel's volume as the song last set it
};

// One envelope step: volume envelope, then wave envelope, into the
// oscillator's volume and mix.
void env_step(Envelope& env, Oscillator& osc);
