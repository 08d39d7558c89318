// One-pole (RC) low-pass or high-pass filter over an interleaved stereo
// buffer, blended with the unfiltered signal.
#pragma once
#include <cstdint>

enum FilterType : int { FILTER_LOW_PASS = 0, FILTER_HIGH_PASS = 1 };

// length: number of floats (twice the frames). mix: share of the filtered signal.
void filter_process(float* buffer, uint32_t length, int type, float mix, float cutoff);
