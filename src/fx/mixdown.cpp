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

void say(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace

void channel_to_float(int k, const int16_t (*samples)[2], float* out, uint32_t frames)
{
    const float gain = percent(channel_gain[k]);
    const int16_t* sample = samples[0];
    for (uint32_t i = 0; i < 2 * frames; ++i) out[i] = static_cast<float>(sample[i]) * gain;
}

bool channel_has_delay(int k) { return channel_fx[k][1] != 0; }
bool channel_has_reverb(int k) { return channel_fx[k][0] != 0; }

DelayRun channel_delay_start(int k)
{
    const uint8_t* row = delay_bank[channel_fx[k][1]];
    return delay_start(100u * row[0], row[3], percent(row[1]), percent(row[2]), percent(row[4]));
}

void channel_reverb_start(int k)
{
    const uint8_t* row = reverb_bank[channel_fx[k][0]];
    reverb_start(percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]),
                 percent(row[4]));
}

void say_channel_effects(int k)
{
    if (channel_has_delay(k)) say("delay | ");
    if (channel_has_reverb(k)) say("reverb");
}

void channel_effects(int k, float* buffer, uint32_t length)
{
    say_channel_effects(k);
    if (channel_has_delay(k)) {
        DelayRun run = channel_delay_start(k);
        delay_block(run, buffer, length);
        delay_finish(run);
    }
    if (channel_has_reverb(k)) {
        channel_reverb_start(k);
        reverb_block(buffer, length);
        reverb_finish();
    }
}

static_assert(EQ_RECORD_COUNT == 2 && FILTER_CHAIN_LENGTH == 6, "a chain for each record's three pairs");

MasterEqualiser master_equaliser_start()
{
    MasterEqualiser eq;
    FilterStage* chains[EQ_RECORD_COUNT] = {eq.first, eq.second};
    for (int record = 0; record < EQ_RECORD_COUNT; ++record) {
        const float* row = &eq_data[record * 4];
        FilterStage* stage = chains[record];
        for (int pass = 0; pass < 3; ++pass) {
            *stage++ = filter_start(FILTER_LOW_PASS, row[0], row[1]);
            *stage++ = filter_start(FILTER_HIGH_PASS, row[2], row[3]);
        }
    }
    return eq;
}

void master_equalise(float* master, uint32_t length)
{
    MasterEqualiser eq = master_equaliser_start();
    filter_chain_block(eq.first, master, length);
    filter_chain_block(eq.second, master, length);
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

namespace {

// master scaled so that `peak` becomes 32767 and truncated toward zero to 16
// bits; master keeps the scaled single-precision value, as the file's
// samples are taken from it. A silent master (peak 0) gives zeros rather
// than 32767 / 0 turning every sample into NaN.
void normalise_to_16_bits(float* master, int16_t* out, uint32_t length, float peak)
{
    if (peak == 0.0f) {
        std::memset(out, 0, length * sizeof *out);
        return;
    }
    const float scale = 32767.0f / peak;
    for (uint32_t i = 0; i < length; ++i) {
        master[i] = master[i] * scale;
        out[i] = static_cast<int16_t>(static_cast<int32_t>(master[i]));
    }
}

}  // namespace

void master_normalise(float* master, int16_t* out, uint32_t length)
{
    normalise_to_16_bits(master, out, length, master_peak_of(master, length));
}

int16_t* master_to_song(float* master, uint32_t length, float peak)
{
    // Block by block through a small buffer, each block's samples copied to
    // bytes of master that earlier blocks have finished with: sample i
    // lands at byte 2i, below the 4i where its float was read.
    constexpr uint32_t PIECE = 4096;
    auto* song = reinterpret_cast<unsigned char*>(master);
    int16_t piece[PIECE];
    for (uint32_t done = 0; done < length; done += PIECE) {
        const uint32_t n = length - done < PIECE ? length - done : PIECE;
        normalise_to_16_bits(master + done, piece, n, peak);
        std::memmove(song + done * sizeof *piece, piece, n * sizeof *piece);
    }
    return reinterpret_cast<int16_t*>(song);
}

int post_render(float* master, float peak, std::clock_t start)
{
    // The equaliser has followed the last channel's mix already.
    std::puts("\nProcessing master EQ...");
    std::fflush(stdout);

    std::puts("Normalising track...\n");
    std::fflush(stdout);
    const int16_t* song = master_to_song(master, SONG_SAMPLES, peak);

    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("Done! Took %.2f seconds to complete.\n\n", seconds);

    std::puts("Building wave file...");
    std::fflush(stdout);
    const bool written = wave_export(song, SONG_SAMPLES);

    std::puts("It's playback time!\n");
    std::fflush(stdout);
    alsa_playback(song, SONG_SAMPLES);
    release_song_floats(master, SONG_SAMPLES);
    return written ? EXIT_SUCCESS : EXIT_FAILURE;
}
