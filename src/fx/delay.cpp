#include "fx/delay.h"

void delay_process(float*, uint32_t, uint32_t, uint32_t, float, float, float) {}
