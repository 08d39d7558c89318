#include "voice/oscillator.h"

#include <cmath>
#include <cstring>

#include "data/tables.h"
#include "song/tarq.h"

uint32_t osc_accumulator[OSC_CHANNELS];
uint16_t osc_pitch[OSC_CHANNELS];
uint16_t osc_target_pitch[OSC_CHANNELS];
int16_t osc_wavetable[OSC_CHANNELS][2][OSC_TABLE_LENGTH];
int8_t osc_sample_1_l[OSC_CHANNELS];
int8_t osc_sample_2_l[OSC_CHANNELS];
int8_t osc_sample_1_r[OSC_CHANNELS];
int8_t osc_sample_2_r[OSC_CHANNELS];
uint8_t osc_mix[OSC_CHANNELS];
uint8_t osc_phase[OSC_CHANNELS];
float osc_volume[OSC_CHANNELS];
float osc_stereo_mix[OSC_CHANNELS];

// Constant-power pan law over a quarter circle. The angle constant is 1.57,
// not pi/2, so the centre is not quite balanced and full right leaks a
// trace to the left; the angle is rounded to single before the sine/cosine.
PanGains osc_pan_gains(int8_t panning)
{
    const double theta = (panning / 100.0 + 1.0) * 0.5 * 1.57;
    double sine = 0.0;
    double cosine = 0.0;
    sincos(static_cast<double>(static_cast<float>(theta)), &sine, &cosine);
    return {static_cast<float>(cosine), static_cast<float>(sine)};
}

namespace {

// Truncation toward zero, keeping the low 16 bits.
int16_t to_i16(double value) { return static_cast<int16_t>(static_cast<int32_t>(value)); }

int wave_entry(int8_t wave, unsigned position)
{
    return wavetable_data[wave * WAVE_LENGTH + (position & 255u)];
}

// Morph between two wave samples: a + (b - a) * mix / 100.
int16_t morph(int a, int b, float mix)
{
    return to_i16(static_cast<float>(a) + ((b - a) * mix) / 100.0);
}

// One side at its pan gain and volume; 18 scales 8-bit samples to the
// table's 16-bit range with headroom for seven channels.
int16_t level(int16_t sample, float volume, float gain)
{
    return to_i16(static_cast<float>(sample * 18) * volume * gain);
}

// Cross-feed: `other` is the opposite side, `own` this side.
int16_t cross_feed(int16_t own, int16_t other, float stereo_mix, double keep)
{
    const double sum = static_cast<double>(stereo_mix * other) + keep * own;
    return to_i16(static_cast<float>(sum));
}

}  // namespace

void update_wavetable(uint8_t channel, int8_t sample_1_l, int8_t sample_2_l,
                      int8_t sample_1_r, int8_t sample_2_r, uint8_t mix,
                      uint8_t phase, float volume, float stereo_mix)
{
    const PanGains gains = osc_pan_gains(tarq_panning[channel]);
    const float m = mix;
    const double keep = 1.0 - static_cast<double>(stereo_mix);
    const bool audible = volume > 0.0f;  // false for NaN too

    for (unsigned k = 0; k < OSC_TABLE_LENGTH; ++k) {
        int16_t left = 0;
        int16_t right = 0;
        if (audible) {
            const int16_t mixed_l = morph(wave_entry(sample_1_l, k), wave_entry(sample_2_l, k), m);
            const int16_t mixed_r = morph(wave_entry(sample_1_r, k), wave_entry(sample_2_r, k + phase), m);
            left = level(mixed_l, volume, gains.left);
            right = level(mixed_r, volume, gains.right);
        }
        osc_wavetable[channel][0][k] = cross_feed(left, right, stereo_mix, keep);
        osc_wavetable[channel][1][k] = cross_feed(right, left, stereo_mix, keep);
    }
}

void osc_rebake(int channel)
{
    update_wavetable(static_cast<uint8_t>(channel), osc_sample_1_l[channel],
                     osc_sample_2_l[channel], osc_sample_1_r[channel],
                     osc_sample_2_r[channel], osc_mix[channel], osc_phase[channel],
                     osc_volume[channel], osc_stereo_mix[channel]);
}

void osc_reset()
{
    std::memset(osc_accumulator, 0, sizeof osc_accumulator);
    std::memset(osc_pitch, 0, sizeof osc_pitch);
    std::memset(osc_target_pitch, 0, sizeof osc_target_pitch);
    std::memset(osc_wavetable, 0, sizeof osc_wavetable);
    std::memset(osc_sample_1_l, 0, sizeof osc_sample_1_l);
    std::memset(osc_sample_2_l, 0, sizeof osc_sample_2_l);
    std::memset(osc_sample_1_r, 0, sizeof osc_sample_1_r);
    std::memset(osc_sample_2_r, 0, sizeof osc_sample_2_r);
    std::memset(osc_mix, 0, sizeof osc_mix);
    std::memset(osc_phase, 0, sizeof osc_phase);
    std::memset(osc_volume, 0, sizeof osc_volume);
    std::memset(osc_stereo_mix, 0, sizeof osc_stereo_mix);
}
