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

// The morph between two wave samples for a mix in percent (up to 255):
// a + (b - a) * mix / 100, truncated toward zero.
int16_t osc_morph(int8_t a, int8_t b, uint8_t mix);

// Rebakes channel's table from its own current settings.
void osc_rebake(int channel);

// One frame of channel i: advances the phase by pitch plus the LFO offset and
// reads the table. Inline because it runs 40 million times per song.
struct StereoSample {
    int16_t left;
    int16_t right;
};
extern int16_t lfo_output[OSC_CHANNELS];

// The phase one frame on; the offset is signed and the accumulator wraps.
inline uint32_t osc_advance(uint32_t accumulator, uint16_t pitch, int16_t lfo_offset)
{
    return accumulator + static_cast<uint32_t>(pitch) +
           static_cast<uint32_t>(static_cast<int32_t>(lfo_offset));
}

// The table entry of channel i at a phase: bits 9..16 of the accumulator.
inline StereoSample osc_read(int i, uint32_t accumulator)
{
    const unsigned index = (accumulator >> 9) & 255u;
    return {osc_wavetable[i][0][index], osc_wavetable[i][1][index]};
}

inline StereoSample osc_step(int i)
{
    osc_accumulator[i] = osc_advance(osc_accumulator[i], osc_pitch[i], lfo_output[i]);
    return osc_read(i, osc_accumulator[i]);
}

// `frames` frames of channel i in a row while its pitch and table stay as
// they are, frame j offset by lfo_offsets[j]; left and right into out[j].
void osc_run(int i, uint32_t frames, const int16_t* lfo_offsets, int16_t (*out)[2]);

// Back to the state at program start (all zero).
void osc_reset();
