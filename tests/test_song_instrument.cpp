// Loading instruments into oscillator channels.
#include <gtest/gtest.h>

#include "driver/render.h"
#include "song/instrument.h"
#include "voice/envelope.h"
#include "voice/lfo.h"
#include "voice/oscillator.h"
#include "voice/sweep.h"

namespace {

class InstrumentLoad : public ::testing::Test {
protected:
    void SetUp() override { render_reset(); }
    void TearDown() override { render_reset(); }
};

// Instrument 13 scales its lengths; 11 has the smallest stereo mix; 7
// carries sweep and LFO fields.
TEST_F(InstrumentLoad, FieldsOfInstruments13_11And7)
{
    configure_instrument(3, 13);
    EXPECT_EQ(env_wav_length[3], 765);
    EXPECT_EQ(env_vol_length[3], 1530);
    EXPECT_EQ(lfo_length[3], 2550);
    EXPECT_EQ(osc_stereo_mix[3], 0.1f);
    EXPECT_EQ(osc_phase[3], 127);
    EXPECT_EQ(env_vol_type[3], 1);
    EXPECT_EQ(lfo_pitch[3], 11);
    EXPECT_EQ(osc_sample_1_l[3], 8);
    EXPECT_EQ(osc_sample_1_r[3], 9);

    configure_instrument(6, 11);
    EXPECT_EQ(osc_stereo_mix[6], 0.01f);
    EXPECT_EQ(osc_phase[6], 120);

    configure_instrument(0, 7);
    EXPECT_EQ(swp_type[0], 3);
    EXPECT_EQ(swp_length[0], 15);
    EXPECT_EQ(swp_target[0], 72);
    EXPECT_EQ(lfo_pitch[0], 60);
    EXPECT_EQ(lfo_intensity[0], 126);
    EXPECT_EQ(lfo_waveform[0], 12);
    EXPECT_EQ(osc_sample_2_l[0], 11);
    EXPECT_EQ(osc_sample_2_r[0], 10);
}

TEST_F(InstrumentLoad, ReloadRestartsTheModulatorsAndLeavesTheVoiceAlone)
{
    configure_instrument(2, 5);
    env_wav_tick[2] = env_vol_tick[2] = swp_tick[2] = lfo_tick[2] = 40;
    osc_pitch[2] = 1234;
    osc_volume[2] = 0.75f;
    osc_mix[2] = 30;
    lfo_amplitude[2] = 4;
    configure_instrument(2, 5);
    EXPECT_EQ(env_wav_tick[2], 1);
    EXPECT_EQ(env_vol_tick[2], 1);
    EXPECT_EQ(swp_tick[2], 1);
    EXPECT_EQ(lfo_tick[2], 1);
    EXPECT_EQ(osc_pitch[2], 1234);
    EXPECT_EQ(osc_volume[2], 0.75f);
    EXPECT_EQ(osc_mix[2], 30);
    EXPECT_EQ(lfo_amplitude[2], 4);
}

}  // namespace
