// Loading instruments into oscillator channels' voices.
#include <gtest/gtest.h>

#include "data/tables.h"
#include "voice/instrument.h"
#include "voice/voice.h"

// Instrument 13 scales its lengths; 11 has the smallest stereo mix; a reload restarts
// the modulators and leaves the voice alone.
TEST(InstrumentLoad, Instruments13And11AndReload)
{
    Voice thirteen;
    configure_instrument(thirteen, default_sounds.instrument_bank[13]);
    EXPECT_EQ(thirteen.env.env_wav_length, 765);
    EXPECT_EQ(thirteen.env.env_vol_length, 1530);
    EXPECT_EQ(thirteen.lfo.lfo_length, 2550);
    EXPECT_EQ(thirteen.osc.osc_stereo_mix, 0.1f);
    EXPECT_EQ(thirteen.osc.osc_phase, 127);
    EXPECT_EQ(thirteen.lfo.lfo_pitch, 11);
    Voice voice;
    configure_instrument(voice, default_sounds.instrument_bank[11]);
    EXPECT_EQ(voice.osc.osc_stereo_mix, 0.01f);
    EXPECT_EQ(voice.osc.osc_phase, 120);
    voice.env.env_wav_tick = voice.env.env_vol_tick = voice.swp.swp_tick = voice.lfo.lfo_tick = 40;
    voice.osc.osc_pitch = 1234;
    voice.lfo.lfo_amplitude = 4;
    configure_instrument(voice, default_sounds.instrument_bank[11]);
    for (uint16_t tick : {voice.env.env_wav_tick, voice.env.env_vol_tick, voice.swp.swp_tick, voice.lfo.lfo_tick})
        EXPECT_EQ(tick, 1);
    EXPECT_EQ(voice.osc.osc_pitch, 1234);
    EXPECT_EQ(voice.lfo.lfo_amplitude, 4);
}
