// Digests of the whole song, one channel at a time on one thread: lines "rendered K HEX" (16-bit
// samples), "processed K HEX" (floats after the channel's chain: gain, delay and reverb) and
// "output.wav HEX" (the file's bytes). Each channel goes through the product's ChannelChain, a
// block at a time, into a whole-song master (reference::master_in_order). Header-only:
// bench/golden/dump_streamed.cpp builds it with the engine alone.
#pragma once
#include <string>
#include <vector>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "output/wave.h"
#include "tests/reference.h"
#include "tests/sha256.h"

inline std::vector<std::string> song_digests()
{
    Sha256 rendered[CHANNEL_COUNT], processed[CHANNEL_COUNT];
    std::vector<float> master = reference::master_in_order(
        tarq_data, tarq_sounds, SONG_FRAMES, [&](int k, const int16_t* frames, const float* block, uint32_t n) {
            rendered[k].add(frames, n * 2 * sizeof(int16_t));
            processed[k].add(block, 2 * n * sizeof(float));
        });
    if (master.empty()) return {"a channel's chain cannot start"};
    std::vector<std::string> lines;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        lines.push_back("rendered " + std::to_string(k) + " " + rendered[k].hex());
        lines.push_back("processed " + std::to_string(k) + " " + processed[k].hex());
    }
    const int16_t* song = master_to_song(master.data(), SONG_SAMPLES, master_peak_of(master.data(), SONG_SAMPLES));
    const wave_header header = pcm_wave_header(SONG_SAMPLES);
    Sha256 wav;
    wav.add(&header, sizeof header);
    wav.add(song, SONG_SAMPLES * sizeof *song);
    lines.push_back("output.wav " + wav.hex());
    return lines;
}
