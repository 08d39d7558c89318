// songrender's lines about the finished song: its file and its playback.
// The song tool's --play says the same.
#pragma once
#include <cstdint>

#include "output/alsa.h"

// Plays interleaved stereo samples on the device "default" and prints the
// frame total and "Playback complete. Bye!", or why the device failed.
void play_and_report(const int16_t* samples, uint32_t count, PlaybackRepeat repeat = PlaybackRepeat::once);

// Prints the lines of a playback that has ended.
void report_playback(const PlaybackResult& result);
