// Reference implementations for the tests: the frame-by-frame renderer of
// every channel, whole-buffer runs of the effects, the master's equaliser
// and normalisation in one piece, and a plain sample-by-sample reverb. The
// product streams everything in blocks; these are what the blocks must
// agree with.
#pragma once
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/fault.h"
#include "base/timeline.h"
#include "driver/render.h"
#include "fx/filter.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "voice/instrument.h"

namespace reference {

// Channel c's interleaved 16-bit frames.
using ChannelFrames = std::vector<std::vector<int16_t>>;

// The first `frames` frames of every channel of `song`, one whole frame of
// all eight channels at a time (the step order of engine_frame).
ChannelFrames render_all_frames(const uint8_t* song, const InstrumentRecord* bank, uint32_t frames);

// The delay over a whole buffer in one block; false with the reason for a
// refused setting.
bool delay_whole(float* buffer, uint32_t length, uint32_t delay, uint32_t swap_state, float feedback,
                 float floor, float mix, Fault& fault);

// One filter stage over a whole buffer.
void filter_whole(float* buffer, uint32_t length, FilterType type, float mix, float cutoff);

// A channel's run of `reverb` over a whole buffer: start, one block, finish.
void reverb_whole(Reverb& reverb, float* buffer, uint32_t length, float width, float dry, float wet,
                  float damp, float roomsize);

// Reverb preset q of the default sounds, as a channel starts it.
void reverb_start_preset(Reverb& reverb, int q);

// A Reverb value lives on the heap: its lines are 64 KiB.
inline std::unique_ptr<Reverb> fresh_reverb() { return std::make_unique<Reverb>(); }

// The master equaliser of `sounds` over a whole master in one block. (Inline, as the
// golden digests' dump program builds with the engine alone.)
inline void master_equalise(const Sounds& sounds, float* master, uint32_t length)
{
    MasterEqualiser eq = master_equaliser_start(sounds);
    filter_chain_block(eq.first, master, length);
    filter_chain_block(eq.second, master, length);
}

// One reverb taking the channels one after another, in ascending order:
// after a channel, its lines are cleared for the next.
inline void channel_chain_leave(const ChannelChain& chain, Reverb& reverb)
{
    if (chain.has_reverb) reverb_finish(reverb);
}

// The master of the first `frames` frames of `song`: channel after channel
// on one thread, one reverb carried from each to the next, block by block
// through ChannelChain, the master equalised whole; empty for a refused
// preset. `seen(k, rendered, processed, frames)` sees each block of channel
// k as rendered and after its chain. (Inline, for the golden digests' dump
// program.)
template <class Seen>
std::vector<float> master_in_order(const uint8_t* song, const Sounds& sounds, uint32_t frames, Seen seen)
{
    std::vector<float> master(2 * std::size_t{frames}, 0.0f), block(2 * RENDER_BLOCK_FRAMES);
    std::vector<int16_t> rendered(2 * RENDER_BLOCK_FRAMES);
    auto* const frames_out = reinterpret_cast<int16_t(*)[2]>(rendered.data());
    const auto engine = std::make_unique<Engine>();
    const auto reverb = fresh_reverb();
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        engine_start(*engine, song, sounds.instrument_bank, k);
        ChannelChain chain;
        Fault fault;
        if (!channel_chain_start(chain, sounds, k, fault)) return {};
        channel_chain_enter(chain, *reverb);
        for (uint32_t done = 0; done < frames;) {
            const uint32_t n = std::min(RENDER_BLOCK_FRAMES, frames - done);
            render_channel_block(*engine, k, n, frames_out);
            channel_chain_block(chain, *reverb, frames_out, block.data(), n);
            seen(k, rendered.data(), block.data(), n);
            float* into = master.data() + 2 * std::size_t{done};
            for (uint32_t i = 0; i < 2 * n; ++i) into[i] = into[i] + block[i];
            done += n;
        }
        channel_chain_leave(chain, *reverb);
        channel_chain_finish(chain);
    }
    master_equalise(sounds, master.data(), static_cast<uint32_t>(master.size()));
    return master;
}

inline std::vector<float> master_in_order(const uint8_t* song, const Sounds& sounds, uint32_t frames)
{
    return master_in_order(song, sounds, frames, [](int, const int16_t*, const float*, uint32_t) {});
}

// The master normalised to 16 bits at its own peak.
inline void master_normalise(float* master, int16_t* out, uint32_t length)
{
    normalise_to_16_bits(master, out, length, master_peak_of(master, length));
}

// The sample-by-sample comb/all-pass reverb, written straight from its
// textbook structure with its own state: an oracle independent of the
// product's vectorised block reverb. Its carried state (filter stores and
// line positions) follows the same rules: kept from one channel's run to
// the next, lines cleared at the end of each run.
class PlainReverb {
public:
    void start(float width, float dry, float wet, float damp, float roomsize);
    void start_preset(int q);
    void process(float* buffer, uint32_t length);  // any number of calls per run
    void finish();

private:
    struct Comb {
        std::vector<float> buf;
        uint32_t idx = 0;
        float filterstore = 0.0f;
        float feedback = 0.0f, damp1 = 0.0f, damp2 = 0.0f;
        float step(float input);
    };
    struct Allpass {
        std::vector<float> buf;
        uint32_t idx = 0;
        float feedback = 0.0f;
        float step(float input);
    };
    Comb comb_[2][3];
    Allpass allpass_[2][2];
    float gain_ = 0.0f, dry_ = 0.0f, wet1_ = 0.0f, wet2_ = 0.0f;
};

}  // namespace reference
