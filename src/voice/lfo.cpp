#include "voice/lfo.h"

#include "data/tables.h"

namespace {

// The LFO reads a 256-entry window of the wave bank starting 4 entries per
// waveform unit in, so waveforms past 0 run off the end of one wave into the
// start of the next. A negative waveform would start before the bank: it
// reads from the bank's start instead.
int lfo_window_start(const Lfo& lfo)
{
    return lfo.lfo_waveform > 0 ? 4 * lfo.lfo_waveform : 0;
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

void lfo_step(Lfo& lfo)
{
    lfo.lfo_accumulator += lfo.lfo_pitch;
    lfo.lfo_output = lfo_offset(&wavetable_data[lfo_window_start(lfo)], lfo.lfo_accumulator, lfo.lfo_amplitude);
}

// The phase and the output live in registers for the whole run.
void lfo_run(Lfo& lfo, uint32_t frames, int16_t* offsets)
{
    const int8_t* window = &wavetable_data[lfo_window_start(lfo)];
    const uint16_t pitch = lfo.lfo_pitch;
    const int8_t amplitude = lfo.lfo_amplitude;
    uint32_t accumulator = lfo.lfo_accumulator;
    int16_t output = lfo.lfo_output;
    for (uint32_t j = 0; j < frames; ++j) {
        offsets[j] = output;
        accumulator += pitch;
        output = lfo_offset(window, accumulator, amplitude);
    }
    lfo.lfo_accumulator = accumulator;
    lfo.lfo_output = output;
}

void lfo_fade_step(Lfo& lfo)
{
    if (lfo.lfo_tick != 0) {
        --lfo.lfo_tick;
        return;
    }
    // Signed compare: the amplitude settles one above the intensity, a
    // negative intensity never lets it rise, and 127 lets it wrap to -128.
    if (lfo.lfo_amplitude <= lfo.lfo_intensity) {
        lfo.lfo_amplitude = static_cast<int8_t>(lfo.lfo_amplitude + 1);
        lfo.lfo_tick = static_cast<uint16_t>(lfo.lfo_length * 64u);  // 16-bit counter
    }
}

uint32_t lfo_fade_quiet_frames(const Lfo& lfo)
{
    if (lfo.lfo_tick != 0) return lfo.lfo_tick;
    return lfo.lfo_amplitude <= lfo.lfo_intensity ? 0 : UINT32_MAX;
}

void lfo_fade_skip(Lfo& lfo, uint32_t frames)
{
    if (lfo.lfo_tick != 0) lfo.lfo_tick = static_cast<uint16_t>(lfo.lfo_tick - frames);
}
