// After rendering: every channel through its gain, delay and reverb into a
// stereo master, the master equaliser, normalisation to 16 bits, and the
// hand-over to the WAV writer and playback. Channels pass through in blocks
// of whole frames; each effect carries its state from block to block.
#pragma once
#include <cstdint>
#include <ctime>

#include "driver/render.h"
#include "fx/delay.h"
#include "fx/filter.h"

// `frames` frames of channel k's 16-bit samples times the channel's gain,
// as floats; by default from its block in channel_buffer_int.
void channel_to_float(int k, const int16_t (*samples)[2], float* out, uint32_t frames);
inline void channel_to_float(int k, float* out, uint32_t frames)
{
    channel_to_float(k, channel_buffer_int[k], out, frames);
}

// Channel k's effect presets: whether each runs, and their runs.
bool channel_has_delay(int k);
bool channel_has_reverb(int k);
DelayRun channel_delay_start(int k);
void channel_reverb_start(int k);

// Writes the "delay | " and "reverb" progress texts of channel k's effects.
void say_channel_effects(int k);

// Runs channel k's delay and reverb presets over a whole float buffer,
// writing the progress texts.
void channel_effects(int k, float* buffer, uint32_t length);

// The master equaliser: for each eq_data record, three low-pass/high-pass
// pairs, worked as two chains of filter stages (the first record's, then
// the second's) over a stream of blocks.
constexpr int EQ_STAGE_COUNT = 2 * FILTER_CHAIN_LENGTH;
struct MasterEqualiser {
    FilterStage first[FILTER_CHAIN_LENGTH];
    FilterStage second[FILTER_CHAIN_LENGTH];
};
MasterEqualiser master_equaliser_start();
void master_equalise(float* master, uint32_t length);

// Largest absolute sample value.
float master_peak_of(const float* master, uint32_t length);

// Scales master so its peak becomes 32767 and truncates it into out. A silent
// master gives zeros.
void master_normalise(float* master, int16_t* out, uint32_t length);

// Normalises the whole master, whose largest magnitude is peak, into 16-bit
// samples stored over the master's own first half (it is not needed
// afterwards), and returns them.
int16_t* master_to_song(float* master, uint32_t length, float peak);
inline int16_t* master_to_song(float* master, uint32_t length)
{
    return master_to_song(master, length, master_peak_of(master, length));
}

// The stage after the channels are mixed into master and equalised (whole
// song, taken with take_song_floats; peak its largest magnitude):
// normalisation, WAV file and playback. Releases master. Returns the
// program's exit status.
int post_render(float* master, float peak, std::clock_t start);
