#include "voice/drum.h"

#include "data/tables.h"

namespace {

// Frames per PCM value: 7 - octave, so octave 6 plays at the output rate.
// Octaves past 6 cannot slow down any further than one value per frame;
// they play at octave 6's rate rather than divide by zero or wrap.
unsigned frames_per_value(const Drum& drum)
{
    const unsigned octave = drum.sample_octave;
    return octave < 7 ? 7 - octave : 1;
}

// The drum's state, copied in for a run of frames and back out after it.
struct DrumState {
    uint16_t accumulator;
    uint8_t mute;
    int16_t output;
};

// The position is recomputed from the frame count every frame, so an octave
// change moves it at once. A muted or finished sample holds its last value.
int16_t drum_frame(const Drum& drum, DrumState& state, unsigned per_value, float volume)
{
    const uint16_t frames = state.accumulator++;
    const auto position = static_cast<uint16_t>(drum.sample_start + frames / per_value);
    if (position >= drum.sample_end) {
        state.mute = 1;
        return state.output;
    }
    if (state.mute == 1) return state.output;
    // 38 per PCM step at volume 1; truncated toward zero.
    const float gained = static_cast<float>(38 * wavetable[position]) * volume;
    state.output = static_cast<int16_t>(static_cast<int32_t>(gained));
    return state.output;
}

DrumState load_state(const Drum& drum) { return {drum.sample_accumulator, drum.sample_mute, drum.sample_output}; }

void store_state(Drum& drum, const DrumState& state)
{
    drum.sample_accumulator = state.accumulator;
    drum.sample_mute = state.mute;
    drum.sample_output = state.output;
}

}  // namespace

void drum_hit(Drum& drum, int k)
{
    drum.sample_start = sample_index[k];
    drum.sample_end = sample_index[k + 1];
    drum.sample_mute = 0;
    drum.sample_accumulator = 0;
}

int16_t drum_step(Drum& drum)
{
    DrumState state = load_state(drum);
    const int16_t value = drum_frame(drum, state, frames_per_value(drum), drum.sample_volume);
    store_state(drum, state);
    return value;
}

// Once muted, the drum holds its value for the rest of the run; only the
// frame count moves on.
void drum_run(Drum& drum, uint32_t frames, int16_t (*out)[2])
{
    DrumState state = load_state(drum);
    const unsigned per_value = frames_per_value(drum);
    const float volume = drum.sample_volume;
    uint32_t j = 0;
    for (; j < frames && state.mute != 1; ++j) out[j][0] = out[j][1] = drum_frame(drum, state, per_value, volume);
    state.accumulator = static_cast<uint16_t>(state.accumulator + (frames - j));
    for (; j < frames; ++j) out[j][0] = out[j][1] = state.output;
    store_state(drum, state);
}
