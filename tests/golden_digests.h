// Digests of the whole song, one channel at a time on one thread: lines "rendered K HEX" (16-bit
// samples), "processed K HEX" (floats after the channel's chain: gain, delay and reverb) and
// "output.wav HEX" (the file's bytes). Each channel goes through the product's ChannelChain, a
// block at a time, into a whole-song master. Header-only: bench/golden/dump_streamed.cpp builds
// it with the engine alone.
#pragma once
#include <memory>
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
    std::vector<std::string> lines;
    std::vector<float> master(SONG_SAMPLES, 0.0f), block(2 * RENDER_BLOCK_FRAMES);
    std::vector<int16_t> rendered(2 * RENDER_BLOCK_FRAMES);
    auto* const frames_out = reinterpret_cast<int16_t(*)[2]>(rendered.data());
    const auto engine = std::make_unique<Engine>();
    const auto reverb = std::make_unique<Reverb>();
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        Sha256 rendered_digest, processed;
        engine_start(*engine, tarq_data, tarq_sounds.instrument_bank, k);
        ChannelChain chain;
        Fault fault;
        if (!channel_chain_start(chain, tarq_sounds, k, fault)) return {std::string("channel chain: ") + fault.message};
        channel_chain_enter(chain, *reverb);
        for (uint32_t done = 0; done < SONG_FRAMES;) {
            const uint32_t frames = std::min(RENDER_BLOCK_FRAMES, SONG_FRAMES - done);
            render_channel_block(*engine, k, frames, frames_out);
            rendered_digest.add(rendered.data(), frames * 2 * sizeof(int16_t));
            channel_chain_block(chain, *reverb, frames_out, block.data(), frames);
            processed.add(block.data(), 2 * frames * sizeof(float));
            for (uint32_t i = 0; i < 2 * frames; ++i) master[2 * done + i] = master[2 * done + i] + block[i];
            done += frames;
        }
        reference::channel_chain_leave(chain, *reverb);
        channel_chain_finish(chain);
        lines.push_back("rendered " + std::to_string(k) + " " + rendered_digest.hex());
        lines.push_back("processed " + std::to_string(k) + " " + processed.hex());
    }
    reference::master_equalise(tarq_sounds, master.data(), SONG_SAMPLES);
    const int16_t* song = master_to_song(master.data(), SONG_SAMPLES, master_peak_of(master.data(), SONG_SAMPLES));
    const wave_header header = pcm_wave_header(SONG_SAMPLES);
    Sha256 wav;
    wav.add(&header, sizeof header);
    wav.add(song, SONG_SAMPLES * sizeof *song);
    lines.push_back("output.wav " + wav.hex());
    return lines;
}
