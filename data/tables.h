// The compiled-in tables: everything the program knows about its song and
// its sounds. Each table lives in its own source file in this folder.
#pragma once
#include <cstdint>

#include "base/timeline.h"

// Wave bank: 13 single-cycle waves of 256 signed 8-bit samples, wave w at
// entries 256*w .. 256*w+255. Read by the oscillator bake and by the LFO.
constexpr int WAVE_COUNT = 13;
constexpr int WAVE_LENGTH = 256;
extern const int8_t wavetable_data[WAVE_COUNT * WAVE_LENGTH];

// Per-frame phase increments of 72 equal-tempered notes, 440 at index 21.
constexpr int NOTE_COUNT = 72;
extern const uint16_t notes[NOTE_COUNT];

// Drum samples: ten 8-bit PCM sounds back to back; sample k occupies
// positions sample_index[k] .. sample_index[k+1]-1 of `wavetable`.
constexpr int DRUM_SAMPLE_COUNT = 10;
constexpr int DRUM_PCM_LENGTH = 4990;
extern const int8_t wavetable[DRUM_PCM_LENGTH];
extern const uint16_t sample_index[DRUM_SAMPLE_COUNT + 1];
// Each sample's name, short enough for the roll's lanes (the generated
// file's header describes them in full).
constexpr int DRUM_NAME_SIZE = 16;
extern const char drum_sample_names[DRUM_SAMPLE_COUNT][DRUM_NAME_SIZE];

// A song's sounds: its instrument bank, the channels' mix and the effect
// presets. Each song may bring its own; the defaults are the embedded
// song's.
constexpr int INSTRUMENT_COUNT = 14;
constexpr int INSTRUMENT_SIZE = 16;  // field order in voice/instrument.h
constexpr int FX_PRESET_COUNT = 5;   // row 0 means "off"
constexpr int EQ_RECORD_COUNT = 2;

struct Sounds {
    uint8_t instrument_bank[INSTRUMENT_COUNT][INSTRUMENT_SIZE];
    uint8_t channel_gain[CHANNEL_COUNT];   // percent
    uint8_t channel_fx[CHANNEL_COUNT][2];  // {reverb preset, delay preset}, 0 = off
    uint8_t delay_bank[FX_PRESET_COUNT][5];   // time, feedback, floor, start_side, mix
    uint8_t reverb_bank[FX_PRESET_COUNT][5];  // width, dry, wet, damp, roomsize
    // Master equaliser: two records of {low-pass mix, low-pass cutoff Hz,
    // high-pass mix, high-pass cutoff Hz}.
    float eq_data[EQ_RECORD_COUNT * 4];
};

// The sounds the song tool starts every song from, and the names the
// defaults file gives the instruments and channels.
extern const Sounds default_sounds;
extern const char* const default_instrument_names[INSTRUMENT_COUNT];
extern const char* const default_channel_names[CHANNEL_COUNT];

// The embedded song's byte code and sounds (assembled at build time from
// data/song.txt over the default sounds).
extern const uint8_t tarq_data[];
extern const uint32_t tarq_data_size;
extern const Sounds tarq_sounds;
