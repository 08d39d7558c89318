// The render loop: the song's timeline, frame by frame, into channel blocks.
// Every per-frame step of the voice engine and the interpreter runs here in
// a fixed order.
#pragma once
#include <cstdint>

#include "base/timeline.h"
#include "song/tarq.h"
#include "voice/drum.h"
#include "voice/voice.h"

constexpr uint8_t ENVELOPE_CLOCK_RELOAD = 200;   // an envelope step every 201 frames
constexpr uint32_t RENDER_BLOCK_FRAMES = 32768;  // frames of a channel block

// Everything a render of the song needs: the interpreter, the voices and
// the envelope clock. A value: a fresh one is a fresh render, and two can
// run at once.
constexpr int EVERY_CHANNEL = -1;

struct Engine {
    Tarq tarq;
    Voice voices[OSC_CHANNELS];
    Drum drum;
    uint8_t mod_counter = ENVELOPE_CLOCK_RELOAD;  // the envelope clock
    int heard_channel = EVERY_CHANNEL;           // whose voice hears the song
};

// The state at the song's start: silent tables and instrument 0 on every
// oscillator channel, every channel's read position at its start in `song`
// (a block that passes the song checks), whose notes load from `bank`.
// Only `channel` is heard (all of them for EVERY_CHANNEL): a channel's
// sound depends on the interpreter (whose tempo all channels share), the
// envelope clock and its own voice, never on another channel's voice, so
// one channel can be rendered on its own.
void engine_start(Engine& engine, const uint8_t* song, const InstrumentRecord* bank, int channel);

// One frame of the channels first .. last, with every step in the song's
// order, into out[0 .. last - first].
void engine_frame(Engine& engine, int first, int last, int16_t (*out)[2]);

// The next `frames` frames of channel k, which the engine was started for,
// into out.
void render_channel_block(Engine& engine, int k, uint32_t frames, int16_t (*out)[2]);
