// The wavetable oscillator of one channel: a 32-bit phase accumulator
// reading a baked stereo table of 2 x 256 entries, one read per side per
// frame. Volume, panning, wave morph and stereo cross-feed are folded into
// the table by update_wavetable; only pitch is applied per frame.
#pragma once
#include <cstdint>

#include "base/timeline.h"

constexpr int OSC_TABLE_LENGTH = 256;

// A side's two waves morphed over the whole table and scaled to the table's
// range, with the settings they were morphed with. They change only with
// the waves, the rotation and the wave envelope's mix; most bakes move only
// the volume and reuse them.
struct MorphedSide {
    bool valid = false;
    int8_t wave_1 = 0;
    int8_t wave_2 = 0;
    uint8_t phase = 0;
    uint8_t mix = 0;
    float scaled[OSC_TABLE_LENGTH] = {};
};

// Left and right gains of the pan law for a panning in percent.
constexpr int16_t PAN_GAINS_NONE = INT16_MIN;  // outside every panning
struct PanGains {
    float left;
    float right;
};
PanGains osc_pan_gains(int8_t panning);

struct Oscillator {
    uint32_t osc_accumulator = 0;
    uint16_t osc_pitch = 0;         // phase increment per frame
    uint16_t osc_target_pitch = 0;  // sweep goal
    int16_t osc_wavetable[2][OSC_TABLE_LENGTH] = {};  // [side][entry]
    int8_t osc_sample_1_l = 0;
    int8_t osc_sample_2_l = 0;
    int8_t osc_sample_1_r = 0;
    int8_t osc_sample_2_r = 0;
    uint8_t osc_mix = 0;    // share of the second waves, percent
    uint8_t osc_phase = 0;  // rotation of the right side's second wave
    float osc_volume = 0.0f;
    float osc_stereo_mix = 0.0f;
    int8_t osc_panning = 0;  // percent, -100 left .. 100 right, as the song last set it
    // The pan law's gains for the panning of the last bake, kept since the
    // panning seldom changes and a sine and cosine are dear; no panning yet.
    int16_t osc_gains_panning = PAN_GAINS_NONE;
    PanGains osc_gains = {0.0f, 0.0f};
    MorphedSide osc_morphed[2];  // left, right
};

// Bakes the stereo table from two waves per side, their mix (0..100), the
// rotation of the right second wave, the volume and the stereo cross-feed,
// at the oscillator's panning.
void update_wavetable(Oscillator& osc, int8_t sample_1_l, int8_t sample_2_l, int8_t sample_1_r,
                      int8_t sample_2_r, uint8_t mix, uint8_t phase, float volume, float stereo_mix);

// Rebakes the table from the oscillator's own current settings.
void osc_rebake(Oscillator& osc);


// The morph between two wave samples for a mix in percent (up to 255):
// a + (b - a) * mix / 100, truncated toward zero.
int16_t osc_morph(int8_t a, int8_t b, uint8_t mix);

struct StereoSample {
    int16_t left;
    int16_t right;
};

// The phase one frame on; the offset is signed and the accumulator wraps.
inline uint32_t osc_advance(uint32_t accumulator, uint16_t pitch, int16_t lfo_offset)
{
    return accumulator + static_cast<uint32_t>(pitch) +
           static_cast<uint32_t>(static_cast<int32_t>(lfo_offset));
}

// The table entry at a phase: bits 9..16 of the accumulator.
inline StereoSample osc_read(const Oscillator& osc, uint32_t accumulator)
{
    const unsigned index = (accumulator >> 9) & 255u;
    return {osc.osc_wavetable[0][index], osc.osc_wavetable[1][index]};
}

// One frame: advances the phase by pitch plus the LFO offset and reads the
// table. Inline because it runs 40 million times per song.
inline StereoSample osc_step(Oscillator& osc, int16_t lfo_offset)
{
    osc.osc_accumulator = osc_advance(osc.osc_accumulator, osc.osc_pitch, lfo_offset);
    return osc_read(osc, osc.osc_accumulator);
}

// `frames` frames in a row while pitch and table stay as they are, frame j
// offset by lfo_offsets[j]; left and right into out[j].
void osc_run(Oscillator& osc, uint32_t frames, const int16_t* lfo_offsets, int16_t (*out)[2]);
