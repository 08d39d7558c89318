// Digests of the whole song, one channel at a time on one thread: lines "rendered K HEX" (16-bit
// samples), "processed K HEX" (floats after delay and reverb) and "output.wav HEX" (the file's bytes).
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "output/wave.h"
#include "tests/sha256.h"

inline std::vector<std::string> song_digests()
{
    std::vector<std::string> lines;
    float* master = take_floats(SONG_SAMPLES, "the master mix");
    std::memset(master, 0, SONG_SAMPLES * sizeof *master);
    std::vector<float> block(2 * RENDER_BLOCK_FRAMES);
    reverb_reset();
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        Sha256 rendered, processed;
        render_channel_start();
        DelayRun delay{};
        if (channel_has_delay(k)) delay = channel_delay_start(k);
        if (channel_has_reverb(k)) channel_reverb_start(k);
        for (uint32_t done = 0; done < SONG_FRAMES;) {
            const uint32_t frames = std::min(RENDER_BLOCK_FRAMES, SONG_FRAMES - done);
            render_channel_block(k, frames);
            rendered.add(channel_buffer_int[k], frames * sizeof channel_buffer_int[k][0]);
            channel_to_float(k, block.data(), frames);
            if (channel_has_delay(k)) delay_block(delay, block.data(), 2 * frames);
            if (channel_has_reverb(k)) reverb_block(block.data(), 2 * frames);
            processed.add(block.data(), 2 * frames * sizeof(float));
            for (uint32_t i = 0; i < 2 * frames; ++i) master[2 * done + i] = master[2 * done + i] + block[i];
            done += frames;
        }
        if (channel_has_delay(k)) delay_finish(delay);
        if (channel_has_reverb(k)) reverb_finish();
        lines.push_back("rendered " + std::to_string(k) + " " + rendered.hex());
        lines.push_back("processed " + std::to_string(k) + " " + processed.hex());
    }
    master_equalise(master, SONG_SAMPLES);
    const int16_t* song = master_to_song(master, SONG_SAMPLES);
    const wave_header header = song_wave_header();
    Sha256 wav;
    wav.add(&header, sizeof header);
    wav.add(song, SONG_SAMPLES * sizeof *song);
    lines.push_back("output.wav " + wav.hex());
    std::free(master);
    return lines;
}
