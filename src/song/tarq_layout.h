// The interpreter's fixed layout: its channels and where each one starts.
// Constants only, so the song checker can share them without the engine.
#pragma once
#include <cstdint>

constexpr int TARQ_CHANNELS = 8;      // 0..6 oscillators, 7 drums
constexpr int TARQ_LOOP_LEVELS = 5;
constexpr int TARQ_DRUM_CHANNEL = 7;
// Octave of each channel before its stream sets one.
constexpr uint16_t TARQ_START_OCTAVE[TARQ_CHANNELS] = {2, 0, 0, 0, 0, 0, 0, 0};
