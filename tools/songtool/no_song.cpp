// The tool carries no song of its own: it always plays the block it is
// given (tarq_load), so the engine's default song is an empty stand-in.
#include "data/tables.h"

const uint8_t tarq_data[1] = {0};
const uint32_t tarq_data_size = 0;
