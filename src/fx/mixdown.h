// After rendering: every channel through its gain, delay and reverb into a
// stereo master, the master equaliser and normalisation to 16 bits.
// Channels pass through in blocks of whole frames; each effect carries its
// state from block to block.
#pragma once
#include <cstdint>

#include "base/fault.h"
#include "data/tables.h"
#include "fx/delay.h"
#include "fx/filter.h"
#include "fx/reverb.h"

// One channel's way to the master: its 16-bit samples times its gain, as
// floats, then its delay and its reverb presets where it has them.
struct ChannelChain {
    const Sounds* sounds;
    int channel;
    float gain;
    bool has_delay;
    bool has_reverb;
    DelayRun delay;
};

// Whether channel k's presets give it a delay and a reverb.
bool channel_has_delay(const Sounds& sounds, int k);
bool channel_has_reverb(const Sounds& sounds, int k);

// Channel k's chain at the start of the song, its delay line taken; false,
// with the reason, for a refused preset or a line that cannot be had.
bool channel_chain_start(ChannelChain& chain, const Sounds& sounds, int k, Fault& fault);

// Sets the reverb to this channel's preset; its carried state stays.
void channel_chain_enter(const ChannelChain& chain, Reverb& reverb);

// The next `frames` frames of the channel, from `rendered` into `out`.
void channel_chain_block(ChannelChain& chain, Reverb& reverb, const int16_t (*rendered)[2], float* out,
                         uint32_t frames);

// The chain back at the song's start (its delay line cleared).
void channel_chain_restart(ChannelChain& chain);

// Releases the delay line.
void channel_chain_finish(ChannelChain& chain);

// The master equaliser: for each equaliser record, three low-pass/high-pass
// pairs, worked as two chains of filter stages (the first record's, then
// the second's) over a stream of blocks.
struct MasterEqualiser {
    FilterStage first[FILTER_CHAIN_LENGTH];
    FilterStage second[FILTER_CHAIN_LENGTH];
};
MasterEqualiser master_equaliser_start(const Sounds& sounds);

// The equaliser as it would stand after a silent stretch: every stage past
// its first frame with a history of zeros. A guess at its state within a
// song, from which the stages' own states soon become those of the true
// run; master_equaliser_same tells when they have.
MasterEqualiser master_equaliser_resumed(const Sounds& sounds);
bool master_equaliser_same(const MasterEqualiser& a, const MasterEqualiser& b);

// Largest absolute sample value.
float master_peak_of(const float* master, uint32_t length);

// master scaled so that `peak` becomes 32767 and truncated toward zero into
// out; master keeps the scaled values. A silent master (peak 0) gives zeros.
// `peak` may be another mix's (the whole song's for a few of its channels):
// values scaled beyond +-32767 then saturate.
void normalise_to_16_bits(float* master, int16_t* out, uint32_t length, float peak);

// Normalises the whole master as normalise_to_16_bits does into 16-bit
// samples stored over the master's own first half (it is not needed
// afterwards), and returns them.
int16_t* master_to_song(float* master, uint32_t length, float peak);
