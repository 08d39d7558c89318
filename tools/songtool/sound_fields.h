// The names of the sound tables' fields, as the notation's sound sections
// and `songtool sounds` write them, each list in its table's column order.
#pragma once
#include <string_view>

#include "data/tables.h"

inline constexpr std::string_view INSTRUMENT_FIELDS[INSTRUMENT_SIZE] = {
    "sample_1_l", "sample_1_r",     "sample_2_l",     "sample_2_r",  "env_wav_length", "env_vol_type",
    "env_vol_length", "swp_type",   "swp_length",     "swp_target",  "lfo_pitch",      "lfo_intensity",
    "lfo_waveform",   "lfo_length", "stereo_mix",     "phase",
};

// A channel header's mix: channel_gain, then channel_fx's two presets.
inline constexpr std::string_view CHANNEL_FIELDS[3] = {"gain", "reverb", "delay"};

inline constexpr std::string_view DELAY_FIELDS[5] = {"time", "feedback", "floor", "start_side", "mix"};
inline constexpr std::string_view REVERB_FIELDS[5] = {"width", "dry", "wet", "damp", "roomsize"};
inline constexpr std::string_view EQ_FIELDS[4] = {"lowpass_mix", "lowpass_cutoff", "highpass_mix",
                                                  "highpass_cutoff"};
