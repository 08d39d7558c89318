// Wavetable oscillators of channels 0..6: a 32-bit phase accumulator reading
// a baked stereo table of 2 x 256 entries, one read per side per frame.
// Volume, panning, wave morph and stereo cross-feed are folded into the
// table by update_wavetable; only pitch is applied per frame.
#pragma once
#include <cstdint>

constexpr int OSC_CHANNELS = 7;
constexpr int OSC_TABLE_LENGTH = 256;

extern uint32_t osc_accumulator[OSC_CHANNELS];
extern uint16_t osc_pitch[OSC_CHANNELS];         // phase increment per frame
extern uint16_t osc_target_pitch[OSC_CHANNELS];  // sweep goal
extern int16_t osc_wavetable[OSC_CHANNELS][2][OSC_TABLE_LENGTH];  // [side][entry]
extern int8_t osc_sample_1_l[OSC_CHANNELS];
extern int8_t osc_sample_2_l[OSC_CHANNELS];
extern int8_t osc_sample_1_r[OSC_CHANNELS];
extern int8_t osc_sample_2_r[OSC_CHANNELS];
extern uint8_t osc_mix[OSC_CHANNELS];    // share of the second waves, percent
extern uint8_t osc_phase[OSC_CHANNELS];  // rotation of the right side's second wave
extern float osc_volume[OSC_CHANNELS];
extern float osc_stereo_mix[OSC_CHANNELS];

// Bakes channel's stereo table from two waves per side, their mix (0..100),
// the rotation of the right second wave, the volume and the stereo cross-feed.
// Reads the channel's panning and the wave bank.
void update_wavetable(uint8_t channel, int8_t sample_1_l, int8_t sample_2_l,
                      int8_t sample_1_r, int8_t sample_2_r, uint8_t mix,
                      uint8_t phase, float volume, float stereo_mix);

// Left and right gains of the pan law for a panning in percent.
struct PanGains {
    float left;
    float right;
};
PanGains osc_pan_gains(int8_t panning);

// Rebakes channel's table from its own current settings.
void osc_rebake(int channel);

// One frame of channel i: advances the phase by pitch plus the LFO offset and
// reads the table. Inline because it runs 40 million times per song.
struct StereoSample {
    int16_t left;
    int16_t right;
};
extern int16_t lfo_output[OSC_CHANNELS];
inline StereoSample osc_step(int i)
{
    osc_accumulator[i] += static_cast<uint32_t>(osc_pitch[i]) +
                          static_cast<uint32_t>(static_cast<int32_t>(lfo_output[i]));
    const unsigned index = (osc_accumulator[i] >> 9) & 255u;
    return {osc_wavetable[i][0][index], osc_wavetable[i][1][index]};
}

// Back to the state at program start (all zero).
void osc_reset();
