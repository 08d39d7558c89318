// Playback of the finished song on the ALSA device "default".
#pragma once
#include <cstdint>

// samples: interleaved stereo 16-bit; count: number of samples (twice the frames).
void alsa_playback(const int16_t* samples, uint32_t count);
