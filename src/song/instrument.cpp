#include "song/instrument.h"

#include "data/tables.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

void configure_instrument(uint8_t channel, uint8_t instrument)
{
    const uint8_t* record = instrument_bank[instrument];
    osc_sample_1_l[channel] = static_cast<int8_t>(record[INS_SAMPLE_1_L]);
    osc_sample_1_r[channel] = static_cast<int8_t>(record[INS_SAMPLE_1_R]);
    osc_sample_2_l[channel] = static_cast<int8_t>(record[INS_SAMPLE_2_L]);
    osc_sample_2_r[channel] = static_cast<int8_t>(record[INS_SAMPLE_2_R]);
    env_wav_length[channel] = static_cast<uint16_t>(3 * record[INS_ENV_WAV_LENGTH]);
    env_vol_type[channel] = record[INS_ENV_VOL_TYPE];
    env_vol_length[channel] = static_cast<uint16_t>(6 * record[INS_ENV_VOL_LENGTH]);
    swp_type[channel] = record[INS_SWP_TYPE];
    swp_length[channel] = record[INS_SWP_LENGTH];
    swp_target[channel] = record[INS_SWP_TARGET];
    lfo_pitch[channel] = record[INS_LFO_PITCH];
    lfo_intensity[channel] = static_cast<int8_t>(record[INS_LFO_INTENSITY]);
    lfo_waveform[channel] = static_cast<int8_t>(record[INS_LFO_WAVEFORM]);
    lfo_length[channel] = static_cast<uint16_t>(10 * record[INS_LFO_LENGTH]);
    osc_stereo_mix[channel] =
        static_cast<float>(static_cast<float>(record[INS_STEREO_MIX]) / 100.0);
    osc_phase[channel] = record[INS_PHASE];

    env_wav_tick[channel] = 1;
    swp_tick[channel] = 1;
    env_vol_tick[channel] = 1;
    lfo_tick[channel] = 1;
}
