// Prints the digests of the straightforward pipeline (whole-song channel
// buffers, one stage after another): each rendered channel, each processed
// channel and the bytes of output.wav. bench/golden-hashes builds it inside
// an old checkout to regenerate the recorded digests.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/render.h"
#include "fx/mixdown.h"
#include "output/wave.h"
#include "tests/sha256.h"

int main()
{
    voice_setup();
    render_song();
    float* master = static_cast<float*>(std::calloc(SONG_SAMPLES, sizeof(float)));
    float* channel = static_cast<float*>(std::malloc(SONG_SAMPLES * sizeof(float)));
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        Sha256 rendered;
        rendered.add(channel_buffer_int[k], sizeof channel_buffer_int[k]);
        std::fprintf(stderr, "rendered %d %s\n", k, rendered.hex().c_str());
        channel_to_float(k, channel);
        channel_effects(k, channel, SONG_SAMPLES);
        Sha256 processed;
        processed.add(channel, SONG_SAMPLES * sizeof(float));
        std::fprintf(stderr, "processed %d %s\n", k, processed.hex().c_str());
        for (uint32_t i = 0; i < SONG_SAMPLES; ++i) master[i] = master[i] + channel[i];
    }
    master_equalise(master, SONG_SAMPLES);
    auto* song = static_cast<int16_t*>(std::malloc(SONG_SAMPLES * sizeof(int16_t)));
    master_normalise(master, song, SONG_SAMPLES);
    const wave_header header = song_wave_header();
    Sha256 wav;
    wav.add(&header, sizeof header);
    wav.add(song, SONG_SAMPLES * sizeof(int16_t));
    std::fprintf(stderr, "output.wav %s\n", wav.hex().c_str());
    return 0;
}
