#include "voice/instrument.h"

#include "voice/voice.h"

void configure_instrument(Voice& voice, const InstrumentRecord& record)
{
    Oscillator& osc = voice.osc;
    Envelope& env = voice.env;
    Sweep& swp = voice.swp;
    Lfo& lfo = voice.lfo;
    osc.osc_sample_1_l = static_cast<int8_t>(record[INS_SAMPLE_1_L]);
    osc.osc_sample_1_r = static_cast<int8_t>(record[INS_SAMPLE_1_R]);
    osc.osc_sample_2_l = static_cast<int8_t>(record[INS_SAMPLE_2_L]);
    osc.osc_sample_2_r = static_cast<int8_t>(record[INS_SAMPLE_2_R]);
    env.env_wav_length = static_cast<uint16_t>(3 * record[INS_ENV_WAV_LENGTH]);
    env.env_vol_type = record[INS_ENV_VOL_TYPE];
    env.env_vol_length = static_cast<uint16_t>(6 * record[INS_ENV_VOL_LENGTH]);
    swp.swp_type = record[INS_SWP_TYPE];
    swp.swp_length = record[INS_SWP_LENGTH];
    swp.swp_target = record[INS_SWP_TARGET];
    lfo.lfo_pitch = record[INS_LFO_PITCH];
    lfo.lfo_intensity = static_cast<int8_t>(record[INS_LFO_INTENSITY]);
    lfo.lfo_waveform = static_cast<int8_t>(record[INS_LFO_WAVEFORM]);
    lfo.lfo_length = static_cast<uint16_t>(10 * record[INS_LFO_LENGTH]);
    osc.osc_stereo_mix =
        static_cast<float>(static_cast<float>(record[INS_STEREO_MIX]) / 100.0);
    osc.osc_phase = record[INS_PHASE];

    env.env_wav_tick = 1;
    swp.swp_tick = 1;
    env.env_vol_tick = 1;
    lfo.lfo_tick = 1;
}
