#include "fx/mixdown.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/tables.h"

namespace {

float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }

}  // namespace

bool channel_has_delay(const Sounds& sounds, int k) { return sounds.channel_fx[k][1] != 0; }
bool channel_has_reverb(const Sounds& sounds, int k) { return sounds.channel_fx[k][0] != 0; }

bool channel_chain_start(ChannelChain& chain, const Sounds& sounds, int k, Fault& fault)
{
    chain = ChannelChain{&sounds, k, percent(sounds.channel_gain[k]), channel_has_delay(sounds, k),
                         channel_has_reverb(sounds, k), {}};
    if (!chain.has_delay) return true;
    const uint8_t* row = sounds.delay_bank[sounds.channel_fx[k][1]];
    return delay_start(chain.delay, 100u * row[0], row[3], percent(row[1]), percent(row[2]), percent(row[4]),
                       fault);
}

void channel_chain_enter(const ChannelChain& chain, Reverb& reverb)
{
    if (!chain.has_reverb) return;
    const uint8_t* row = chain.sounds->reverb_bank[chain.sounds->channel_fx[chain.channel][0]];
    reverb_start(reverb, percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
}

void channel_chain_block(ChannelChain& chain, Reverb& reverb, const int16_t (*rendered)[2], float* out,
                         uint32_t frames)
{
    const int16_t* sample = rendered[0];
    const uint32_t length = 2 * frames;
    for (uint32_t i = 0; i < length; ++i) out[i] = static_cast<float>(sample[i]) * chain.gain;
    if (chain.has_delay) delay_block(chain.delay, out, length);
    if (chain.has_reverb) reverb_block(reverb, out, length);
}

void channel_chain_restart(ChannelChain& chain)
{
    if (chain.has_delay) delay_restart(chain.delay);
}

void channel_chain_finish(ChannelChain& chain)
{
    if (chain.has_delay) delay_finish(chain.delay);
}

static_assert(EQ_RECORD_COUNT == 2 && FILTER_CHAIN_LENGTH == 6, "a chain for each record's three pairs");

MasterEqualiser master_equaliser_start(const Sounds& sounds)
{
    MasterEqualiser eq;
    FilterStage* chains[EQ_RECORD_COUNT] = {eq.first, eq.second};
    for (int record = 0; record < EQ_RECORD_COUNT; ++record) {
        const float* row = &sounds.eq_data[record * 4];
        FilterStage* stage = chains[record];
        for (int pass = 0; pass < 3; ++pass) {
            *stage++ = filter_start(FILTER_LOW_PASS, row[0], row[1]);
            *stage++ = filter_start(FILTER_HIGH_PASS, row[2], row[3]);
        }
    }
    return eq;
}

MasterEqualiser master_equaliser_resumed(const Sounds& sounds)
{
    MasterEqualiser eq = master_equaliser_start(sounds);
    for (FilterStage& stage : eq.first) stage.started = true;
    for (FilterStage& stage : eq.second) stage.started = true;
    return eq;
}

namespace {

bool same_history(const FilterStage& a, const FilterStage& b)
{
    return a.started == b.started && std::memcmp(a.last_input, b.last_input, sizeof a.last_input) == 0 &&
           std::memcmp(a.last_output, b.last_output, sizeof a.last_output) == 0;
}

}  // namespace

bool master_equaliser_same(const MasterEqualiser& a, const MasterEqualiser& b)
{
    for (int r = 0; r < FILTER_CHAIN_LENGTH; ++r)
        if (!same_history(a.first[r], b.first[r]) || !same_history(a.second[r], b.second[r])) return false;
    return true;
}

float master_peak_of(const float* master, uint32_t length)
{
    float peak = 0.0f;
    for (uint32_t i = 0; i < length; ++i) {
        const float magnitude = std::fabs(master[i]);
        if (peak < magnitude) peak = magnitude;
    }
    return peak;
}

// The file's samples are taken from the scaled single-precision value; a
// silent master gives zeros rather than 32767 / 0 turning every sample into
// NaN. With the master's own peak every scaled value already lies within
// +-32767 (to a rounding that truncation removes), so the saturation only
// acts on a master scaled by a larger mix's peak, whose values may go beyond.
void normalise_to_16_bits(float* master, int16_t* out, uint32_t length, float peak)
{
    if (peak == 0.0f) {
        std::memset(out, 0, length * sizeof *out);
        return;
    }
    const float scale = 32767.0f / peak;
    for (uint32_t i = 0; i < length; ++i) {
        master[i] = master[i] * scale;
        out[i] = static_cast<int16_t>(static_cast<int32_t>(std::clamp(master[i], -32767.0f, 32767.0f)));
    }
}

int16_t* master_to_song(float* master, uint32_t length, float peak)
{
    // Block by block through a small buffer, each block's samples copied to
    // bytes of master that earlier blocks have finished with: sample i
    // lands at byte 2i, below the 4i where its float was read.
    constexpr uint32_t PIECE = 4096;
    auto* song = reinterpret_cast<unsigned char*>(master);
    int16_t piece[PIECE];
    for (uint32_t done = 0; done < length; done += PIECE) {
        const uint32_t n = length - done < PIECE ? length - done : PIECE;
        normalise_to_16_bits(master + done, piece, n, peak);
        std::memmove(song + done * sizeof *piece, piece, n * sizeof *piece);
    }
    return reinterpret_cast<int16_t*>(song);
}
