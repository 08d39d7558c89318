#include "driver/render.h"

#include "song/instrument.h"
#include "song/tarq.h"
#include "voice/drum.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

int16_t channel_buffer_int[RENDER_CHANNELS][SONG_FRAMES][2];
uint8_t mod_counter = ENVELOPE_CLOCK_RELOAD;

void voice_setup()
{
    for (int i = 0; i < OSC_CHANNELS; ++i) {
        osc_rebake(i);
        configure_instrument(static_cast<uint8_t>(i), 0);
    }
    tarq_start();
}

namespace {

// Countdown of the envelope clock; every envelope runs when it reaches 0.
void envelope_clock()
{
    if (mod_counter != 0) {
        --mod_counter;
        return;
    }
    for (int i = 0; i < OSC_CHANNELS; ++i) env_step(i);
    mod_counter = ENVELOPE_CLOCK_RELOAD;
}

}  // namespace

void render_frame(uint32_t f)
{
    for (int i = 0; i < OSC_CHANNELS; ++i) {
        const StereoSample s = osc_step(i);
        channel_buffer_int[i][f][0] = s.left;
        channel_buffer_int[i][f][1] = s.right;
    }
    const int16_t drum = drum_step();
    channel_buffer_int[DRUM_CHANNEL][f][0] = drum;
    channel_buffer_int[DRUM_CHANNEL][f][1] = drum;

    for (int i = 0; i < OSC_CHANNELS; ++i) lfo_step(i);
    for (int i = 0; i < OSC_CHANNELS; ++i) lfo_fade_step(i);
    envelope_clock();
    for (int i = 0; i < OSC_CHANNELS; ++i) swp_step(i);
    tarq();
}

void render_song()
{
    for (uint32_t f = 0; f < SONG_FRAMES; ++f) render_frame(f);
}

void render_reset()
{
    osc_reset();
    lfo_reset();
    env_reset();
    swp_reset();
    drum_reset();
    tarq_reset();
    mod_counter = ENVELOPE_CLOCK_RELOAD;
}
