#include "voice/drum.h"

#include "data/tables.h"
#include "song/tarq.h"

uint16_t sample_start;
uint16_t sample_end;
uint16_t sample_accumulator;
uint8_t sample_mute;
int16_t sample_output;

namespace {

// Frames per PCM value: 7 - octave, so octave 6 plays at the output rate.
// Octaves past 6 cannot slow down any further than one value per frame;
// they play at octave 6's rate rather than divide by zero or wrap.
unsigned frames_per_value()
{
    const unsigned octave = tarq_octave[DRUM_CHANNEL];
    return octave < 7 ? 7 - octave : 1;
}

}  // namespace

// The position is recomputed from the frame count every frame, so an octave
// change moves it at once. A muted or finished sample holds its last value.
int16_t drum_step()
{
    const uint16_t frames = sample_accumulator++;
    const auto position = static_cast<uint16_t>(sample_start + frames / frames_per_value());
    if (position >= sample_end) {
        sample_mute = 1;
        return sample_output;
    }
    if (sample_mute == 1) return sample_output;
    // 38 per PCM step at volume 1; truncated toward zero.
    const float gained = static_cast<float>(38 * wavetable[position]) * tarq_volume[DRUM_CHANNEL];
    sample_output = static_cast<int16_t>(static_cast<int32_t>(gained));
    return sample_output;
}

void drum_reset()
{
    sample_start = 0;
    sample_end = 0;
    sample_accumulator = 0;
    sample_mute = 0;
    sample_output = 0;
}
