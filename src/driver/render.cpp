#include "driver/render.h"

#include <algorithm>

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

namespace {

// Frames from now in which channel k's LFO fade, sweep, the envelope clock
// and the interpreter only count down: only the oscillator and its LFO
// (or the drum) move.
uint32_t quiet_frames(int k)
{
    uint32_t quiet = std::min<uint32_t>(tick_counter, mod_counter);
    if (k != DRUM_CHANNEL) quiet = std::min({quiet, lfo_fade_quiet_frames(k), swp_quiet_frames(k)});
    return quiet;
}

// The countdowns of those frames, taken at once.
void count_down(int k, uint32_t frames)
{
    tick_counter = static_cast<uint16_t>(tick_counter - frames);
    mod_counter = static_cast<uint8_t>(mod_counter - frames);
    if (k == DRUM_CHANNEL) return;
    lfo_fade_skip(k, frames);
    swp_skip(k, frames);
}

// Channel k's oscillator and LFO over frames in which nothing else moves:
// the LFO's offsets of a stretch first, then the oscillator reading them.
void oscillator_run(int k, uint32_t frames, int16_t (*out)[2])
{
    constexpr uint32_t STRETCH = 256;
    int16_t lfo_offsets[STRETCH];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(STRETCH, frames - done);
        lfo_run(k, n, lfo_offsets);
        osc_run(k, n, lfo_offsets, out + done);
        done += n;
    }
}

// One frame of channel k with every step, in render_frame's order.
void channel_frame(int k, int16_t* out)
{
    if (k == DRUM_CHANNEL) {
        out[0] = out[1] = drum_step();
        envelope_clock(0, -1);
        tarq();
        return;
    }
    const StereoSample s = osc_step(k);
    out[0] = s.left;
    out[1] = s.right;
    lfo_step(k);
    lfo_fade_step(k);
    envelope_clock(k, k);
    swp_step(k);
    tarq();
}

}  // namespace

void render_channel_block(int k, uint32_t frames, int16_t (*out)[2])
{
    for (uint32_t f = 0; f < frames;) {
        const uint32_t quiet = std::min(quiet_frames(k), frames - f);
        if (k == DRUM_CHANNEL)
            drum_run(quiet, out + f);
        else
            oscillator_run(k, quiet, out + f);
        f += quiet;
        count_down(k, quiet);
        if (f < frames) channel_frame(k, out[f++]);
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
