#include "voice/envelope.h"

#include <cstdint>
#include <cstring>

#include "song/tarq.h"

uint8_t env_vol_type[OSC_CHANNELS];
uint16_t env_vol_length[OSC_CHANNELS];
uint16_t env_vol_tick[OSC_CHANNELS];
uint16_t env_wav_length[OSC_CHANNELS];
uint16_t env_wav_tick[OSC_CHANNELS];

namespace {

// A straight line from `from` at tick 0 by `rise` over `length` ticks, in
// single precision and in this order: (tick * rise) / length + from.
float envelope_line(uint16_t tick, uint16_t length, float rise, float from)
{
    const float t = tick;
    const float n = length;
    return (t * rise) / n + from;
}

// Decay (type 0) from the note volume to 0, or attack (type 1) from 0 to it.
// A zero length would divide 0 by 0; such a note is silent.
float envelope_volume(int i)
{
    if (env_vol_length[i] == 0) return 0.0f;
    const float v = tarq_volume[i];
    if (env_vol_type[i] == 0)
        return envelope_line(env_vol_tick[i], env_vol_length[i], 0.0f - v, v);
    return envelope_line(env_vol_tick[i], env_vol_length[i], v, 0.0f);
}

// Share of the second waves, in percent. A zero length has nothing to
// morph through: the second waves sound at once.
uint8_t envelope_mix(int i)
{
    if (env_wav_length[i] == 0) return 100;
    const float mix = envelope_line(env_wav_tick[i], env_wav_length[i], 100.0f, 0.0f);
    return static_cast<uint8_t>(static_cast<uint32_t>(mix));
}

bool volume_envelope_runs(int i)
{
    return env_vol_type[i] <= 1 && env_vol_tick[i] <= env_vol_length[i];
}

bool wave_envelope_runs(int i) { return env_wav_tick[i] <= env_wav_length[i]; }

}  // namespace

// Each envelope that runs sets its value and moves on; then one bake carries
// the new values. (Each envelope step ends in a bake; when both run, the
// first bake would be wholly overwritten by the second.)
void env_step(int i)
{
    const bool volume_moves = volume_envelope_runs(i);
    const bool wave_moves = wave_envelope_runs(i);
    if (volume_moves) {
        osc_volume[i] = envelope_volume(i);
        ++env_vol_tick[i];
    }
    if (wave_moves) {
        osc_mix[i] = envelope_mix(i);
        ++env_wav_tick[i];
    }
    if (volume_moves || wave_moves) osc_rebake(i);
}

void env_reset()
{
    std::memset(env_vol_type, 0, sizeof env_vol_type);
    std::memset(env_vol_length, 0, sizeof env_vol_length);
    std::memset(env_vol_tick, 0, sizeof env_vol_tick);
    std::memset(env_wav_length, 0, sizeof env_wav_length);
    std::memset(env_wav_tick, 0, sizeof env_wav_tick);
}
