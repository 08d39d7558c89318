// The song interpreter: turns the byte code of tarq_data into changes of the
// voice state, one tick every tick_speed + 1 frames.
#pragma once
#include <cstdint>

#include "song/tarq_layout.h"

extern uint16_t data_pointer[TARQ_CHANNELS];  // next byte to read
extern uint16_t tarq_length[TARQ_CHANNELS];   // ticks left of the current event
extern uint16_t tarq_octave[TARQ_CHANNELS];
extern float tarq_volume[TARQ_CHANNELS];
extern uint16_t tarq_note[TARQ_CHANNELS];
extern int8_t tarq_transpose[TARQ_CHANNELS];
extern int8_t tarq_panning[TARQ_CHANNELS];    // percent, -100 left .. 100 right
extern uint16_t tarq_tie_flag[TARQ_CHANNELS];
extern uint16_t pointer_location[TARQ_CHANNELS];  // return from pattern, 0 = none
extern uint8_t loops_active[TARQ_CHANNELS];
extern uint16_t loop_point[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
extern uint16_t loop_duration[TARQ_LOOP_LEVELS][TARQ_CHANNELS];
extern uint8_t osc_instrument[7];

// The song block the interpreter reads: tarq_data unless tarq_load chose
// another one.
extern const uint8_t* tarq_song;

// Called with each event a channel reads (its position in tarq_song), before
// the event takes effect. Null in the renderer; the song tool's piano roll
// listens here to draw what the interpreter plays.
using TarqEventHook = void (*)(int channel, uint16_t pos);
extern TarqEventHook tarq_event_hook;

extern uint16_t tick_counter;  // frames left until the next tick
extern uint16_t tick_speed;    // reload of tick_counter

// Called once per frame after the frame is stored: counts down and runs one
// tick for all eight channels when the counter is 0.
void tarq();

// Points every channel at its start in the channel table of tarq_song.
void tarq_start();

// Plays `song` (a block that passes the song checks) from now on, every
// channel from its start.
void tarq_load(const uint8_t* song);

// Back to the state at program start.
void tarq_reset();
