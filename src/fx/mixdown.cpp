#include "fx/mixdown.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/delay.h"
#include "fx/filter.h"
#include "fx/reverb.h"
#include "output/alsa.h"
#include "output/wave.h"

namespace {

float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }

void run_delay(float* buffer, uint32_t length, int preset)
{
    const uint8_t* row = delay_bank[preset];
    delay_process(buffer, length, 100u * row[0], row[3], percent(row[1]), percent(row[2]),
                  percent(row[4]));
}

void run_reverb(float* buffer, uint32_t length, int preset)
{
    const uint8_t* row = reverb_bank[preset];
    reverb_process(buffer, length, percent(row[0]), percent(row[1]), percent(row[2]),
                   percent(row[3]), percent(row[4]));
}

void say(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

void channel_to_float(int k, float* out)
{
    const float gain = percent(channel_gain[k]);
    const int16_t* samples = &channel_buffer_int[k][0][0];
    for (uint32_t i = 0; i < SONG_SAMPLES; ++i) out[i] = static_cast<float>(samples[i]) * gain;
}

void channel_effects(int k, float* buffer, uint32_t length)
{
    const int reverb_preset = channel_fx[k][0];
    const int delay_preset = channel_fx[k][1];
    if (delay_preset != 0) {
        say("delay | ");
        run_delay(buffer, length, delay_preset);
    }
    if (reverb_preset != 0) {
        say("reverb");
        run_reverb(buffer, length, reverb_preset);
    }
}

void master_equalise(float* master, uint32_t length)
{
    for (int record = 0; record < EQ_RECORD_COUNT; ++record) {
        const float* eq = &eq_data[record * 4];
        for (int pass = 0; pass < 3; ++pass) {
            filter_process(master, length, FILTER_LOW_PASS, eq[0], eq[1]);
            filter_process(master, length, FILTER_HIGH_PASS, eq[2], eq[3]);
        }
    }
}

float master_peak_of(const float* master, uint32_t length)
{
    float peak = 0.0f;
    for (uint32_t i = 0; i < length; ++i) {
        const float magnitude = std::fabs(master[i]);
        if (peak < magnitude) peak = magnitude;
    }
    return peak;
}

void master_normalise(float* master, int16_t* out, uint32_t length)
{
    const float peak = master_peak_of(master, length);
    if (peak == 0.0f) {  // silent: 32767 / 0 would turn every sample into NaN
        std::memset(out, 0, length * sizeof *out);
        return;
    }
    const float scale = 32767.0f / peak;
    for (uint32_t i = 0; i < length; ++i) {
        master[i] = master[i] * scale;
        out[i] = static_cast<int16_t>(static_cast<int32_t>(master[i]));
    }
}

int post_render(std::clock_t start)
{
    float* master = take_floats(SONG_SAMPLES, "the master mix");
    std::memset(master, 0, SONG_SAMPLES * sizeof *master);

    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        std::printf("Processing channel %d: ", k);
        std::fflush(stdout);
        float* channel = take_floats(SONG_SAMPLES, "a channel mix buffer");
        channel_to_float(k, channel);
        channel_effects(k, channel, SONG_SAMPLES);
        std::putchar('\n');
        for (uint32_t i = 0; i < SONG_SAMPLES; ++i) master[i] = master[i] + channel[i];
        std::free(channel);
    }

    std::puts("\nProcessing master EQ...");
    std::fflush(stdout);
    master_equalise(master, SONG_SAMPLES);

    std::puts("Normalising track...\n");
    std::fflush(stdout);
    auto* song = static_cast<int16_t*>(take_buffer(SONG_SAMPLES * sizeof(int16_t), "the finished song"));
    master_normalise(master, song, SONG_SAMPLES);
    std::free(master);

    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("Done! Took %.2f seconds to complete.\n\n", seconds);

    std::puts("Building wave file...");
    std::fflush(stdout);
    const bool written = wave_export(song, SONG_SAMPLES);

    std::puts("It's playback time!\n");
    std::fflush(stdout);
    alsa_playback(song, SONG_SAMPLES);
    std::free(song);
    return written ? EXIT_SUCCESS : EXIT_FAILURE;
}
