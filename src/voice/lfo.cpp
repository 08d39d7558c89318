#include "voice/lfo.h"

#include <cstring>

#include "data/tables.h"

uint32_t lfo_accumulator[OSC_CHANNELS];
uint16_t lfo_pitch[OSC_CHANNELS];
int8_t lfo_waveform[OSC_CHANNELS];
int8_t lfo_intensity[OSC_CHANNELS];
int8_t lfo_amplitude[OSC_CHANNELS];
uint16_t lfo_length[OSC_CHANNELS];
uint16_t lfo_tick[OSC_CHANNELS];
int16_t lfo_output[OSC_CHANNELS];

namespace {

// The LFO reads a 256-entry window of the wave bank starting 4 entries per
// waveform unit in, so waveforms past 0 run off the end of one wave into the
// start of the next. A negative waveform would start before the bank: it
// reads from the bank's start instead.
int lfo_window_start(int i)
{
    return lfo_waveform[i] > 0 ? 4 * lfo_waveform[i] : 0;
}

// The offset at a phase of a window of the bank.
// Arithmetic shift: negative offsets round toward minus infinity.
int16_t lfo_offset(const int8_t* window, uint32_t accumulator, int8_t amplitude)
{
    const unsigned index = (accumulator >> 9) & 255u;
    const int value = window[index];
    return static_cast<int16_t>((value * amplitude) >> 5);
}

}  // namespace

void lfo_step(int i)
{
    lfo_accumulator[i] += lfo_pitch[i];
    lfo_output[i] = lfo_offset(&wavetable_data[lfo_window_start(i)], lfo_accumulator[i], lfo_amplitude[i]);
}

// The phase and the output live in registers for the whole run.
void lfo_run(int i, uint32_t frames, int16_t* offsets)
{
    const int8_t* window = &wavetable_data[lfo_window_start(i)];
    const uint16_t pitch = lfo_pitch[i];
    const int8_t amplitude = lfo_amplitude[i];
    uint32_t accumulator = lfo_accumulator[i];
    int16_t output = lfo_output[i];
    for (uint32_t j = 0; j < frames; ++j) {
        offsets[j] = output;
        accumulator += pitch;
        output = lfo_offset(window, accumulator, amplitude);
    }
    lfo_accumulator[i] = accumulator;
    lfo_output[i] = output;
}

void lfo_fade_step(int i)
{
    if (lfo_tick[i] != 0) {
        --lfo_tick[i];
        return;
    }
    // Signed compare: the amplitude settles one above the intensity, a
    // negative intensity never lets it rise, and 127 lets it wrap to -128.
    if (lfo_amplitude[i] <= lfo_intensity[i]) {
        lfo_amplitude[i] = static_cast<int8_t>(lfo_amplitude[i] + 1);
        lfo_tick[i] = static_cast<uint16_t>(lfo_length[i] * 64u);  // 16-bit counter
    }
}

uint32_t lfo_fade_quiet_frames(int i)
{
    if (lfo_tick[i] != 0) return lfo_tick[i];
    return lfo_amplitude[i] <= lfo_intensity[i] ? 0 : UINT32_MAX;
}

void lfo_fade_skip(int i, uint32_t frames)
{
    if (lfo_tick[i] != 0) lfo_tick[i] = static_cast<uint16_t>(lfo_tick[i] - frames);
}

void lfo_reset()
{
    std::memset(lfo_accumulator, 0, sizeof lfo_accumulator);
    std::memset(lfo_pitch, 0, sizeof lfo_pitch);
    std::memset(lfo_waveform, 0, sizeof lfo_waveform);
    std::memset(lfo_intensity, 0, sizeof lfo_intensity);
    std::memset(lfo_amplitude, 0, sizeof lfo_amplitude);
    std::memset(lfo_length, 0, sizeof lfo_length);
    std::memset(lfo_tick, 0, sizeof lfo_tick);
    std::memset(lfo_output, 0, sizeof lfo_output);
}
