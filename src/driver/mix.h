// Renders every channel and mixes it, through its effects, into the master.
#pragma once

// Returns the whole song's master mix, equalised (taken with take_floats),
// writing each channel's progress line. Channels go through the reverb in
// ascending order, since its carried state links each channel to the one
// before; other threads render, convert and delay the channels ahead of it
// and equalise the master behind the last one.
float* mix_channels();
