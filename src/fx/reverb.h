// Stereo comb/all-pass reverb. One reverb serves every channel in turn; its
// comb filter states carry over from one call to the next.
#pragma once
#include <cstdint>

void reverb_process(float* buffer, uint32_t length, float width, float dry, float wet,
                    float damp, float roomsize);
