// The render loop: the song's timeline, frame by frame, into channel blocks.
// Every per-frame step of the voice engine and the interpreter runs here in
// a fixed order.
#pragma once
#include <cstdint>

#include "voice/drum.h"

constexpr uint32_t SAMPLE_RATE = 44100;
constexpr uint32_t SONG_FRAMES = 5733000;          // 130 s
constexpr uint32_t SONG_SAMPLES = SONG_FRAMES * 2;  // left and right
constexpr int RENDER_CHANNELS = 8;                  // 0..6 oscillators, 7 drums
constexpr uint8_t ENVELOPE_CLOCK_RELOAD = 200;      // an envelope step every 201 frames
constexpr uint32_t RENDER_BLOCK_FRAMES = 32768;     // frames of a channel block

// [channel][frame within the block][side], side 0 left, side 1 right.
extern int16_t channel_buffer_int[RENDER_CHANNELS][RENDER_BLOCK_FRAMES][2];

extern uint8_t mod_counter;  // the envelope clock

// Silent tables and instrument 0 on every oscillator channel, and every
// channel's read position at its start in the song.
void voice_setup();

// One frame f of every channel, stored at f % RENDER_BLOCK_FRAMES of
// channel_buffer_int.
void render_frame(uint32_t f);

// A channel's sound depends on the interpreter (whose tempo is shared by all
// channels), the envelope clock and its own voice, never on another
// channel's voice. So one channel can be rendered on its own: from the
// song's start (render_channel_start), block after block, with the other
// channels' voices left still. The song the interpreter reads is kept.
void render_channel_start();

// The next `frames` (at most RENDER_BLOCK_FRAMES) frames of channel k into
// channel_buffer_int[k]; equal to what render_frame stores for k.
void render_channel_block(int k, uint32_t frames, int16_t (*out)[2]);
inline void render_channel_block(int k, uint32_t frames)
{
    render_channel_block(k, frames, channel_buffer_int[k]);
}

// All voice, song and clock state back to its value at program start.
void render_reset();
