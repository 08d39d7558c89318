// Boundaries of the ten drum samples in the drum PCM `wavetable`: sample k
// is positions sample_index[k] .. sample_index[k+1]-1. The interpreter
// starts drums with these; the PCM itself comes with the drum channel.
#include "tables.h"

const uint16_t sample_index[DRUM_SAMPLE_COUNT + 1] = {
    0, 669, 725, 1643, 2225, 2318, 3213, 3468, 3874, 4449, 4990,
};
