// Recirculating stereo echo whose left and right gains swap roles on a
// period tied to the delay length.
#pragma once
#include <cstdint>

// length: number of floats. delay: D, the delay length unit (even).
void delay_process(float* buffer, uint32_t length, uint32_t delay, uint32_t swap_state,
                   float feedback, float floor, float mix);
