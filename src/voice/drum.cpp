#include "voice/drum.h"

uint16_t sample_start;
uint16_t sample_end;
uint16_t sample_accumulator;
uint8_t sample_mute;
int16_t sample_output;

int16_t drum_step() { return sample_output; }
void drum_reset() {}
