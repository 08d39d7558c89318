#include "driver/render.h"

#include "song/instrument.h"
#include "song/tarq.h"
#include "voice/drum.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

int16_t channel_buffer_int[RENDER_CHANNELS][RENDER_BLOCK_FRAMES][2];
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

// Countdown of the envelope clock; the envelopes of channels first .. last
// run when it reaches 0.
void envelope_clock(int first, int last)
{
    if (mod_counter != 0) {
        --mod_counter;
        return;
    }
    for (int i = first; i <= last; ++i) env_step(i);
    mod_counter = ENVELOPE_CLOCK_RELOAD;
}

}  // namespace

void render_frame(uint32_t f)
{
    const uint32_t at = f % RENDER_BLOCK_FRAMES;
    for (int i = 0; i < OSC_CHANNELS; ++i) {
        const StereoSample s = osc_step(i);
        channel_buffer_int[i][at][0] = s.left;
        channel_buffer_int[i][at][1] = s.right;
    }
    const int16_t drum = drum_step();
    channel_buffer_int[DRUM_CHANNEL][at][0] = drum;
    channel_buffer_int[DRUM_CHANNEL][at][1] = drum;

    for (int i = 0; i < OSC_CHANNELS; ++i) lfo_step(i);
    for (int i = 0; i < OSC_CHANNELS; ++i) lfo_fade_step(i);
    envelope_clock(0, OSC_CHANNELS - 1);
    for (int i = 0; i < OSC_CHANNELS; ++i) swp_step(i);
    tarq();
}

void render_channel_start()
{
    const uint8_t* song = tarq_song;
    render_reset();
    tarq_song = song;
    voice_setup();
}

void render_channel_block(int k, uint32_t frames)
{
    int16_t (*out)[2] = channel_buffer_int[k];
    if (k == DRUM_CHANNEL) {
        for (uint32_t f = 0; f < frames; ++f) {
            out[f][0] = out[f][1] = drum_step();
            envelope_clock(0, -1);
            tarq();
        }
        return;
    }
    for (uint32_t f = 0; f < frames; ++f) {
        const StereoSample s = osc_step(k);
        out[f][0] = s.left;
        out[f][1] = s.right;
        lfo_step(k);
        lfo_fade_step(k);
        envelope_clock(k, k);
        swp_step(k);
        tarq();
    }
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
