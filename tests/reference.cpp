#include "tests/reference.h"

#include <algorithm>
#include <memory>

#include "data/tables.h"
#include "driver/render.h"
#include "fx/delay.h"
#include "fx/mixdown.h"

namespace reference {

ChannelFrames render_all_frames(const uint8_t* song, const InstrumentRecord* bank, uint32_t frames)
{
    auto engine = std::make_unique<Engine>();
    engine_start(*engine, song, bank, EVERY_CHANNEL);
    ChannelFrames channels(CHANNEL_COUNT);
    for (auto& channel : channels) channel.reserve(2 * static_cast<size_t>(frames));
    int16_t frame[CHANNEL_COUNT][2];
    for (uint32_t f = 0; f < frames; ++f) {
        engine_frame(*engine, 0, CHANNEL_COUNT - 1, frame);
        for (int c = 0; c < CHANNEL_COUNT; ++c) channels[c].insert(channels[c].end(), frame[c], frame[c] + 2);
    }
    return channels;
}

bool delay_whole(float* buffer, uint32_t length, uint32_t delay, uint32_t swap_state, float feedback,
                 float floor, float mix, Fault& fault)
{
    DelayRun run;
    if (!delay_start(run, delay, swap_state, feedback, floor, mix, fault)) return false;
    delay_block(run, buffer, length);
    delay_finish(run);
    return true;
}

void filter_whole(float* buffer, uint32_t length, FilterType type, float mix, float cutoff)
{
    FilterStage stage = filter_start(type, mix, cutoff);
    filter_block(stage, buffer, length);
}

void reverb_whole(Reverb& reverb, float* buffer, uint32_t length, float width, float dry, float wet,
                  float damp, float roomsize)
{
    reverb_start(reverb, width, dry, wet, damp, roomsize);
    reverb_block(reverb, buffer, length);
    reverb_finish(reverb);
}

namespace {
float percent(uint8_t value) { return static_cast<float>(value) / 100.0f; }
}  // namespace

void reverb_start_preset(Reverb& reverb, int q)
{
    const uint8_t* row = default_sounds.reverb_bank[q];
    reverb_start(reverb, percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
}

// The plain reverb. Tunings in frames at 44.1 kHz; the right side's lines
// are 23 frames longer.
namespace {
constexpr uint32_t COMB_LENGTHS[3] = {1116, 1188, 1277};
constexpr uint32_t ALLPASS_LENGTHS[2] = {556, 441};
constexpr uint32_t SPREAD = 23;
}  // namespace

float PlainReverb::Comb::step(float input)
{
    const float output = buf[idx];
    filterstore = output * damp2 + filterstore * damp1;
    buf[idx] = input + filterstore * feedback;
    if (++idx == buf.size()) idx = 0;
    return output;
}

float PlainReverb::Allpass::step(float input)
{
    const float bufout = buf[idx];
    buf[idx] = input + bufout * feedback;
    if (++idx == buf.size()) idx = 0;
    return bufout - input;
}

void PlainReverb::start(float width, float dry, float wet, float damp, float roomsize)
{
    // Parameters in double where the reverb's scaling is, rounded to single.
    const float damping = static_cast<float>(static_cast<double>(damp) * 0.4);
    const float room = static_cast<float>(0.7 + static_cast<double>(roomsize) * 0.28);
    gain_ = 0.05f;
    dry_ = dry;
    wet1_ = static_cast<float>((0.5 + static_cast<double>(width) * 0.5) * static_cast<double>(wet));
    wet2_ = static_cast<float>((static_cast<double>(1.0f - width) * 0.5) * static_cast<double>(wet));
    for (uint32_t side = 0; side < 2; ++side) {
        for (uint32_t k = 0; k < 3; ++k) {
            Comb& comb = comb_[side][k];
            if (comb.buf.empty()) comb.buf.assign(COMB_LENGTHS[k] + side * SPREAD, 0.0f);
            comb.feedback = room;
            comb.damp1 = damping;
            comb.damp2 = 1.0f - damping;
        }
        for (uint32_t k = 0; k < 2; ++k) {
            Allpass& allpass = allpass_[side][k];
            if (allpass.buf.empty()) allpass.buf.assign(ALLPASS_LENGTHS[k] + side * SPREAD, 0.0f);
            allpass.feedback = 0.5f;
        }
    }
}

void PlainReverb::start_preset(int q)
{
    const uint8_t* row = default_sounds.reverb_bank[q];
    start(percent(row[0]), percent(row[1]), percent(row[2]), percent(row[3]), percent(row[4]));
}

void PlainReverb::process(float* buffer, uint32_t length)
{
    for (uint32_t i = 0; i + 1 < length; i += 2) {
        const float in_left = buffer[i], in_right = buffer[i + 1];
        const float input = (in_left + in_right) * gain_;
        float out[2];
        for (int side = 0; side < 2; ++side) {
            float sum = 0.0f;
            for (Comb& comb : comb_[side]) sum = sum + comb.step(input);
            for (Allpass& allpass : allpass_[side]) sum = allpass.step(sum);
            out[side] = sum;
        }
        buffer[i] = (wet1_ * out[0] + wet2_ * out[1]) + dry_ * in_left;
        buffer[i + 1] = (wet1_ * out[1] + wet2_ * out[0]) + dry_ * in_right;
    }
}

void PlainReverb::finish()
{
    for (auto& side : comb_)
        for (Comb& comb : side) comb.buf.assign(comb.buf.size(), 0.0f);
    for (auto& side : allpass_)
        for (Allpass& allpass : side) allpass.buf.assign(allpass.buf.size(), 0.0f);
}

}  // namespace reference
