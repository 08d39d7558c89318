#include "song/tarq.h"

#include <cstring>

#include "data/tables.h"

uint16_t data_pointer[TARQ_CHANNELS];
uint16_t tarq_length[TARQ_CHANNELS];
uint16_t tarq_octave[TARQ_CHANNELS] = {2};
float tarq_volume[TARQ_CHANNELS] = {0.5f};
uint16_t tarq_note[TARQ_CHANNELS];
int8_t tarq_transpose[TARQ_CHANNELS];
int8_t tarq_panning[TARQ_CHANNELS];
uint16_t tarq_tie_flag[TARQ_CHANNELS];
uint16_t pointer_location[TARQ_CHANNELS];
uint8_t loops_active[TARQ_CHANNELS];
uint16_t loop_point[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
uint16_t loop_duration[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
uint8_t osc_instrument[7];

uint16_t tick_counter = 0;
uint16_t tick_speed = 700;

namespace {

uint16_t read_be16(unsigned offset)
{
    return static_cast<uint16_t>(tarq_data[offset] << 8 | tarq_data[offset + 1]);
}

void tick() {}

}  // namespace

void tarq()
{
    if (tick_counter != 0) {
        --tick_counter;
        return;
    }
    tick_counter = tick_speed;
    tick();
}

void tarq_start()
{
    for (int c = 0; c < TARQ_CHANNELS; ++c) data_pointer[c] = read_be16(2u * c);
}

void tarq_reset()
{
    std::memset(data_pointer, 0, sizeof data_pointer);
    std::memset(tarq_length, 0, sizeof tarq_length);
    std::memset(tarq_octave, 0, sizeof tarq_octave);
    tarq_octave[0] = 2;
    std::memset(tarq_volume, 0, sizeof tarq_volume);
    tarq_volume[0] = 0.5f;
    std::memset(tarq_note, 0, sizeof tarq_note);
    std::memset(tarq_transpose, 0, sizeof tarq_transpose);
    std::memset(tarq_panning, 0, sizeof tarq_panning);
    std::memset(tarq_tie_flag, 0, sizeof tarq_tie_flag);
    std::memset(pointer_location, 0, sizeof pointer_location);
    std::memset(loops_active, 0, sizeof loops_active);
    std::memset(loop_point, 0, sizeof loop_point);
    std::memset(loop_duration, 0, sizeof loop_duration);
    std::memset(osc_instrument, 0, sizeof osc_instrument);
    tick_counter = 0;
    tick_speed = 700;
}
