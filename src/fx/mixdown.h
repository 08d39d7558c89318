// After rendering: every channel through its gain, delay and reverb into a
// stereo master, the master equaliser, normalisation to 16 bits, and the
// hand-over to the WAV writer and playback.
#pragma once
#include <cstdint>
#include <ctime>

// Channel k of channel_buffer_int times its gain, as floats.
void channel_to_float(int k, float* out);

// Runs channel k's delay and reverb presets over its float buffer, writing
// the "delay | " and "reverb" progress texts.
void channel_effects(int k, float* buffer, uint32_t length);

// The master equaliser: for each eq_data record, three low-pass/high-pass pairs.
void master_equalise(float* master, uint32_t length);

// Largest absolute sample value.
float master_peak_of(const float* master, uint32_t length);

// Scales master so its peak becomes 32767 and truncates it into out. A silent
// master gives zeros.
void master_normalise(float* master, int16_t* out, uint32_t length);

// The whole stage, from the rendered channel buffers to playback. Returns the
// program's exit status.
int post_render(std::clock_t start);
