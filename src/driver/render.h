// The render loop: the song's timeline, frame by frame, into eight channel
// buffers. Every per-frame step of the voice engine and the interpreter runs
// here in a fixed order.
#pragma once
#include <cstdint>

#include "voice/drum.h"

constexpr uint32_t SAMPLE_RATE = 44100;
constexpr uint32_t SONG_FRAMES = 5733000;          // 130 s
constexpr uint32_t SONG_SAMPLES = SONG_FRAMES * 2;  // left and right
constexpr int RENDER_CHANNELS = 8;                  // 0..6 oscillators, 7 drums
constexpr uint8_t ENVELOPE_CLOCK_RELOAD = 200;      // an envelope step every 201 frames

// [channel][frame][side], side 0 left, side 1 right.
extern int16_t channel_buffer_int[RENDER_CHANNELS][SONG_FRAMES][2];

extern uint8_t mod_counter;  // the envelope clock

// Silent tables and instrument 0 on every oscillator channel, and every
// channel's read position at its start in the song.
void voice_setup();

// One frame f of every channel, stored into channel_buffer_int.
void render_frame(uint32_t f);

// Frames 0 .. SONG_FRAMES-1.
void render_song();

// All voice, song and clock state back to its value at program start.
void render_reset();
