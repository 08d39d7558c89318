// The song's timeline and channel layout, shared by every unit.
#pragma once
#include <cstdint>

constexpr uint32_t SAMPLE_RATE = 44100;
constexpr uint32_t SONG_FRAMES = 5733000;          // 130 s
constexpr uint32_t SONG_SAMPLES = SONG_FRAMES * 2;  // left and right

constexpr int CHANNEL_COUNT = 8;  // channels 0..6 are oscillators, the last plays drums
constexpr int OSC_CHANNELS = 7;
constexpr int DRUM_CHANNEL = 7;
