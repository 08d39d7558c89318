#include "voice/envelope.h"

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
float envelope_volume(const Envelope& env)
{
    if (env.env_vol_length == 0) return 0.0f;
    const float v = env.env_channel_volume;
    if (env.env_vol_type == 0)
        return envelope_line(env.env_vol_tick, env.env_vol_length, 0.0f - v, v);
    return envelope_line(env.env_vol_tick, env.env_vol_length, v, 0.0f);
}

// Share of the second waves, in percent. A zero length has nothing to
// morph through: the second waves sound at once.
uint8_t envelope_mix(const Envelope& env)
{
    if (env.env_wav_length == 0) return 100;
    const float mix = envelope_line(env.env_wav_tick, env.env_wav_length, 100.0f, 0.0f);
    return static_cast<uint8_t>(static_cast<uint32_t>(mix));
}

bool volume_envelope_runs(const Envelope& env)
{
    return env.env_vol_type <= 1 && env.env_vol_tick <= env.env_vol_length;
}

bool wave_envelope_runs(const Envelope& env) { return env.env_wav_tick <= env.env_wav_length; }

}  // namespace

// Each envelope that runs sets its value and moves on; then one bake carries
// the new values. (Each envelope step ends in a bake; when both run, the
// first bake would be wholly overwritten by the second.)
void env_step(Envelope& env, Oscillator& osc)
{
    const bool volume_moves = volume_envelope_runs(env);
    const bool wave_moves = wave_envelope_runs(env);
    if (volume_moves) {
        osc.osc_volume = envelope_volume(env);
        ++env.env_vol_tick;
    }
    if (wave_moves) {
        osc.osc_mix = envelope_mix(env);
        ++env.env_wav_tick;
    }
    if (volume_moves || wave_moves) osc_rebake(osc);
}
