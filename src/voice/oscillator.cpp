#include "voice/oscillator.h"

#include <array>
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

// The pan law's gains for every panning: a bake needs them each time, and
// there are only 256 pannings.
PanGains pan_gains_of(int8_t panning)
{
    static const auto table = [] {
        std::array<PanGains, 256> gains{};
        for (int p = -128; p < 128; ++p) gains[static_cast<uint8_t>(p)] = osc_pan_gains(static_cast<int8_t>(p));
        return gains;
    }();
    return table[static_cast<uint8_t>(panning)];
}

// Truncation toward zero, keeping the low 16 bits. The song's format
// truncates in double; widening a single to double is exact, so the single
// is truncated directly, which the vectoriser can do four at a time.
int16_t to_i16(float value) { return static_cast<int16_t>(static_cast<int32_t>(value)); }

// A side's two waves morphed over the whole table and scaled by 18, from
// 8-bit samples to the table's 16-bit range with headroom for seven
// channels, together with the settings they were morphed with. They change
// only with the waves, the rotation and the wave envelope's mix; most bakes
// move only the volume and reuse them.
struct MorphedSide {
    bool valid;
    int8_t wave_1;
    int8_t wave_2;
    uint8_t phase;
    uint8_t mix;
    float scaled[OSC_TABLE_LENGTH];
};

MorphedSide morphed_sides[OSC_CHANNELS][2];

// The second wave is read rotated by `phase` entries.
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

const float* scaled_side(int channel, int side_index, int8_t wave_1, int8_t wave_2, uint8_t phase,
                         uint8_t mix)
{
    MorphedSide& side = morphed_sides[channel][side_index];
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

void update_wavetable(uint8_t channel, int8_t sample_1_l, int8_t sample_2_l,
                      int8_t sample_1_r, int8_t sample_2_r, uint8_t mix,
                      uint8_t phase, float volume, float stereo_mix)
{
    // A volume that is not positive (NaN too) bakes silence, and a finite
    // cross-feed of silence is silence.
    const bool silent = !(volume > 0.0f);
    if (silent && std::isfinite(stereo_mix)) {
        std::memset(osc_wavetable[channel], 0, sizeof osc_wavetable[channel]);
        return;
    }
    const PanGains gains = pan_gains_of(tarq_panning[channel]);
    const double keep = 1.0 - static_cast<double>(stereo_mix);
    const float* scaled_left = scaled_side(channel, 0, sample_1_l, sample_2_l, 0, mix);
    const float* scaled_right = scaled_side(channel, 1, sample_1_r, sample_2_r, phase, mix);
    // Every scaled sample is finite, so levelling at 0 gives exact zeros.
    const float audible = silent ? 0.0f : volume;
    int16_t* table_left = osc_wavetable[channel][0];
    int16_t* table_right = osc_wavetable[channel][1];
    for (unsigned k = 0; k < OSC_TABLE_LENGTH; ++k) {
        const int16_t left = level(scaled_left[k], audible, gains.left);
        const int16_t right = level(scaled_right[k], audible, gains.right);
        table_left[k] = cross_feed(left, right, stereo_mix, keep);
        table_right[k] = cross_feed(right, left, stereo_mix, keep);
    }
}

// The phase lives in a register for the whole run.
void osc_run(int i, uint32_t frames, const int16_t* lfo_offsets, int16_t (*out)[2])
{
    uint32_t accumulator = osc_accumulator[i];
    const uint16_t pitch = osc_pitch[i];
    for (uint32_t j = 0; j < frames; ++j) {
        accumulator = osc_advance(accumulator, pitch, lfo_offsets[j]);
        const StereoSample s = osc_read(i, accumulator);
        out[j][0] = s.left;
        out[j][1] = s.right;
    }
    osc_accumulator[i] = accumulator;
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
    for (auto& sides : morphed_sides)
        for (MorphedSide& side : sides) side.valid = false;
}
