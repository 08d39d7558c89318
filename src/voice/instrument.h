// Instruments: 16-byte records that set everything about how an oscillator
// channel sounds apart from pitch, volume and panning.
#pragma once
#include <cstdint>

#include "data/tables.h"

struct Voice;
using InstrumentRecord = uint8_t[INSTRUMENT_SIZE];

// Byte positions within an instrument record.
enum InstrumentField : int {
    INS_SAMPLE_1_L = 0,
    INS_SAMPLE_1_R,
    INS_SAMPLE_2_L,
    INS_SAMPLE_2_R,
    INS_ENV_WAV_LENGTH,  // x3 when loaded
    INS_ENV_VOL_TYPE,
    INS_ENV_VOL_LENGTH,  // x6 when loaded
    INS_SWP_TYPE,
    INS_SWP_LENGTH,
    INS_SWP_TARGET,
    INS_LFO_PITCH,
    INS_LFO_INTENSITY,
    INS_LFO_WAVEFORM,
    INS_LFO_LENGTH,      // x10 when loaded
    INS_STEREO_MIX,      // percent, /100 when loaded
    INS_PHASE,
};

// Loads an instrument record into a voice and restarts its wave envelope,
// sweep, volume envelope and LFO fade-in. Leaves pitch, volume, mix, LFO
// amplitude and the baked table alone.
void configure_instrument(Voice& voice, const InstrumentRecord& record);
