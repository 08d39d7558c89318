#include "voice/oscillator.h"

#include <cmath>
#include <cstring>

#include "data/tables.h"

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

// a + (b - a) * mix / 100 truncated, as the song's format defines it in
// single and double precision, worked on the exact count of hundredths
// instead: a quotient that is not whole lies at least 0.01 from the next
// whole number, far more than a single-precision division of a count below
// 2^24 can move it, and a whole one comes out exact, so both truncate
// alike. A single division vectorises four to a register.
int16_t osc_morph(int8_t a, int8_t b, uint8_t mix)
{
    const int hundredths = 100 * a + (b - a) * mix;
    return static_cast<int16_t>(static_cast<int32_t>(static_cast<float>(hundredths) / 100.0f));
}

namespace {

// The pan law's gains at the oscillator's panning, worked out again only
// when the panning has changed since the last bake.
PanGains pan_gains_of(Oscillator& osc)
{
    if (osc.osc_gains_panning != osc.osc_panning) {
        osc.osc_gains = osc_pan_gains(osc.osc_panning);
        osc.osc_gains_panning = osc.osc_panning;
    }
    return osc.osc_gains;
}

// Truncation toward zero, keeping the low 16 bits. The song's format
// truncates in double; widening a single to double is exact, so the single
// is truncated directly, which the vectoriser can do four at a time.
int16_t to_i16(float value) { return static_cast<int16_t>(static_cast<int32_t>(value)); }

// The second wave is read rotated by `phase` entries; scaled by 18, from
// 8-bit samples to the table's 16-bit range with headroom for seven channels.
void morph_side(MorphedSide& side, int8_t wave_1, int8_t wave_2, uint8_t phase, uint8_t mix)
{
    const int8_t* first = &wavetable_data[wave_1 * WAVE_LENGTH];
    int8_t second[OSC_TABLE_LENGTH];
    const int8_t* unrotated = &wavetable_data[wave_2 * WAVE_LENGTH];
    std::memcpy(second, unrotated + phase, OSC_TABLE_LENGTH - phase);
    std::memcpy(second + (OSC_TABLE_LENGTH - phase), unrotated, phase);
    for (unsigned k = 0; k < OSC_TABLE_LENGTH; ++k)
        side.scaled[k] = static_cast<float>(osc_morph(first[k], second[k], mix) * 18);
    side.valid = true;
    side.wave_1 = wave_1;
    side.wave_2 = wave_2;
    side.phase = phase;
    side.mix = mix;
}

const float* scaled_side(MorphedSide& side, int8_t wave_1, int8_t wave_2, uint8_t phase, uint8_t mix)
{
    if (!side.valid || side.wave_1 != wave_1 || side.wave_2 != wave_2 || side.phase != phase ||
        side.mix != mix)
        morph_side(side, wave_1, wave_2, phase, mix);
    return side.scaled;
}

// One side's scaled sample at its pan gain and volume.
int16_t level(float scaled, float volume, float gain) { return to_i16(scaled * volume * gain); }

// Cross-feed: `other` is the opposite side, `own` this side.
int16_t cross_feed(int16_t own, int16_t other, float stereo_mix, double keep)
{
    const double sum = static_cast<double>(stereo_mix * other) + keep * own;
    return to_i16(static_cast<float>(sum));
}

}  // namespace

void update_wavetable(Oscillator& osc, int8_t sample_1_l, int8_t sample_2_l, int8_t sample_1_r,
                      int8_t sample_2_r, uint8_t mix, uint8_t phase, float volume, float stereo_mix)
{
    // A volume that is not positive (NaN too) bakes silence, and a finite
    // cross-feed of silence is silence.
    const bool silent = !(volume > 0.0f);
    if (silent && std::isfinite(stereo_mix)) {
        std::memset(osc.osc_wavetable, 0, sizeof osc.osc_wavetable);
        return;
    }
    const PanGains gains = pan_gains_of(osc);
    const double keep = 1.0 - static_cast<double>(stereo_mix);
    const float* scaled_left = scaled_side(osc.osc_morphed[0], sample_1_l, sample_2_l, 0, mix);
    const float* scaled_right = scaled_side(osc.osc_morphed[1], sample_1_r, sample_2_r, phase, mix);
    // Every scaled sample is finite, so levelling at 0 gives exact zeros.
    const float audible = silent ? 0.0f : volume;
    int16_t* table_left = osc.osc_wavetable[0];
    int16_t* table_right = osc.osc_wavetable[1];
    for (unsigned k = 0; k < OSC_TABLE_LENGTH; ++k) {
        const int16_t left = level(scaled_left[k], audible, gains.left);
        const int16_t right = level(scaled_right[k], audible, gains.right);
        table_left[k] = cross_feed(left, right, stereo_mix, keep);
        table_right[k] = cross_feed(right, left, stereo_mix, keep);
    }
}

// The phase lives in a register for the whole run.
void osc_run(Oscillator& osc, uint32_t frames, const int16_t* lfo_offsets, int16_t (*out)[2])
{
    uint32_t accumulator = osc.osc_accumulator;
    const uint16_t pitch = osc.osc_pitch;
    for (uint32_t j = 0; j < frames; ++j) {
        accumulator = osc_advance(accumulator, pitch, lfo_offsets[j]);
        const StereoSample s = osc_read(osc, accumulator);
        out[j][0] = s.left;
        out[j][1] = s.right;
    }
    osc.osc_accumulator = accumulator;
}

void osc_rebake(Oscillator& osc)
{
    update_wavetable(osc, osc.osc_sample_1_l, osc.osc_sample_2_l, osc.osc_sample_1_r, osc.osc_sample_2_r,
                     osc.osc_mix, osc.osc_phase, osc.osc_volume, osc.osc_stereo_mix);
}
