// Loading instruments into oscillator channels.
#include <gtest/gtest.h>

#include "driver/render.h"
#include "song/instrument.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

// Instrument 13 scales its lengths; 11 has the smallest stereo mix; a reload restarts
// the modulators and leaves the voice alone.
TEST(InstrumentLoad, Instruments13And11AndReload)
{
    render_reset();
    configure_instrument(3, 13);
    EXPECT_EQ(env_wav_length[3], 765);
    EXPECT_EQ(env_vol_length[3], 1530);
    EXPECT_EQ(lfo_length[3], 2550);
    EXPECT_EQ(osc_stereo_mix[3], 0.1f);
    EXPECT_EQ(osc_phase[3], 127);
    EXPECT_EQ(lfo_pitch[3], 11);
    configure_instrument(6, 11);
    EXPECT_EQ(osc_stereo_mix[6], 0.01f);
    EXPECT_EQ(osc_phase[6], 120);
    env_wav_tick[6] = env_vol_tick[6] = swp_tick[6] = lfo_tick[6] = 40;
    osc_pitch[6] = 1234;
    lfo_amplitude[6] = 4;
    configure_instrument(6, 11);
    for (uint16_t tick : {env_wav_tick[6], env_vol_tick[6], swp_tick[6], lfo_tick[6]}) EXPECT_EQ(tick, 1);
    EXPECT_EQ(osc_pitch[6], 1234);
    EXPECT_EQ(lfo_amplitude[6], 4);
    render_reset();
}
