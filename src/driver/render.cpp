#include "driver/render.h"

#include <algorithm>

namespace {

bool hears(const Engine& e, int c) { return e.heard_channel == EVERY_CHANNEL || e.heard_channel == c; }

TarqListeners listeners_of(Engine& e)
{
    TarqListeners to;
    for (int c = 0; c < OSC_CHANNELS; ++c)
        if (hears(e, c)) to.voice[c] = &e.voices[c];
    if (hears(e, DRUM_CHANNEL)) to.drum = &e.drum;
    return to;
}

// Countdown of the envelope clock; the envelopes of channels first .. last
// run when it reaches 0.
void envelope_clock(Engine& e, int first, int last)
{
    if (e.mod_counter != 0) {
        --e.mod_counter;
        return;
    }
    for (int i = first; i <= last; ++i) env_step(e.voices[i].env, e.voices[i].osc);
    e.mod_counter = ENVELOPE_CLOCK_RELOAD;
}

}  // namespace

void engine_start(Engine& e, const uint8_t* song, const InstrumentRecord* bank, int channel)
{
    e = Engine{};
    e.heard_channel = channel;
    for (Voice& voice : e.voices) voice_setup(voice, bank[0]);
    tarq_start(e.tarq, song, bank);
    tarq_announce(e.tarq, listeners_of(e));
}

void engine_frame(Engine& e, int first, int last, int16_t (*out)[2])
{
    const int last_osc = std::min(last, OSC_CHANNELS - 1);
    for (int i = first; i <= last_osc; ++i) {
        const StereoSample s = osc_step(e.voices[i].osc, e.voices[i].lfo.lfo_output);
        out[i - first][0] = s.left;
        out[i - first][1] = s.right;
    }
    if (last == DRUM_CHANNEL) out[DRUM_CHANNEL - first][0] = out[DRUM_CHANNEL - first][1] = drum_step(e.drum);

    for (int i = first; i <= last_osc; ++i) lfo_step(e.voices[i].lfo);
    for (int i = first; i <= last_osc; ++i) lfo_fade_step(e.voices[i].lfo);
    envelope_clock(e, first, last_osc);
    for (int i = first; i <= last_osc; ++i) swp_step(e.voices[i].swp, e.voices[i].osc);
    tarq(e.tarq, listeners_of(e));
}

namespace {

// Frames from now in which channel k's LFO fade, sweep, the envelope clock
// and the interpreter only count down: only the oscillator and its LFO
// (or the drum) move.
uint32_t quiet_frames(const Engine& e, int k)
{
    uint32_t quiet = std::min<uint32_t>(e.tarq.tick_counter, e.mod_counter);
    if (k == DRUM_CHANNEL) return quiet;
    const Voice& v = e.voices[k];
    return std::min({quiet, lfo_fade_quiet_frames(v.lfo), swp_quiet_frames(v.swp, v.osc)});
}

// The countdowns of those frames, taken at once.
void count_down(Engine& e, int k, uint32_t frames)
{
    e.tarq.tick_counter = static_cast<uint16_t>(e.tarq.tick_counter - frames);
    e.mod_counter = static_cast<uint8_t>(e.mod_counter - frames);
    if (k == DRUM_CHANNEL) return;
    lfo_fade_skip(e.voices[k].lfo, frames);
    swp_skip(e.voices[k].swp, frames);
}

// Channel k's oscillator and LFO over frames in which nothing else moves:
// the LFO's offsets of a stretch first, then the oscillator reading them.
void oscillator_run(Voice& voice, uint32_t frames, int16_t (*out)[2])
{
    constexpr uint32_t STRETCH = 256;
    int16_t lfo_offsets[STRETCH];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(STRETCH, frames - done);
        lfo_run(voice.lfo, n, lfo_offsets);
        osc_run(voice.osc, n, lfo_offsets, out + done);
        done += n;
    }
}

}  // namespace

void render_channel_block(Engine& e, int k, uint32_t frames, int16_t (*out)[2])
{
    for (uint32_t f = 0; f < frames;) {
        const uint32_t quiet = std::min(quiet_frames(e, k), frames - f);
        if (k == DRUM_CHANNEL)
            drum_run(e.drum, quiet, out + f);
        else
            oscillator_run(e.voices[k], quiet, out + f);
        f += quiet;
        count_down(e, k, quiet);
        if (f < frames) engine_frame(e, k, k, out + f++);
    }
}
