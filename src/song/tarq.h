// The song interpreter: turns the byte code of a song block into events for
// the voices, one tick every tick_speed + 1 frames.
#pragma once
#include <cstdint>

#include "base/timeline.h"
#include "song/bytecode.h"
#include "voice/drum.h"
#include "voice/voice.h"

constexpr int TARQ_LOOP_LEVELS = SONG_LOOP_LEVELS;

// Called with each event a channel reads (its position in the song), before
// the event takes effect. The song tool's piano roll listens here to draw
// what the interpreter plays.
struct Tarq;
using TarqEventHook = void (*)(void* context, const Tarq& tarq, int channel, uint16_t pos);

// The voices that hear the song: a channel whose voice is null is read and
// timed as usual, but its notes go nowhere.
struct TarqListeners {
    Voice* voice[OSC_CHANNELS] = {};
    Drum* drum = nullptr;
};

struct Tarq {
    const uint8_t* tarq_song = nullptr;  // a block that passes the song checks
    const InstrumentRecord* tarq_instruments = nullptr;  // the bank notes load from
    uint16_t data_pointer[CHANNEL_COUNT] = {};  // next byte to read
    uint16_t tarq_length[CHANNEL_COUNT] = {};   // ticks left of the current event
    uint16_t tarq_octave[CHANNEL_COUNT] = {TARQ_START_OCTAVE[0]};  // the others start at 0
    float tarq_volume[CHANNEL_COUNT] = {0.5f, 0, 0, 0, 0, 0, 0, 0};
    uint16_t tarq_note[CHANNEL_COUNT] = {};
    int8_t tarq_transpose[CHANNEL_COUNT] = {};
    int8_t tarq_panning[CHANNEL_COUNT] = {};  // percent, -100 left .. 100 right
    uint16_t tarq_tie_flag[CHANNEL_COUNT] = {};
    uint16_t pointer_location[CHANNEL_COUNT] = {};  // return from pattern, 0 = none
    uint8_t loops_active[CHANNEL_COUNT] = {};
    uint16_t loop_point[TARQ_LOOP_LEVELS][CHANNEL_COUNT] = {};
    uint16_t loop_duration[TARQ_LOOP_LEVELS][CHANNEL_COUNT] = {};
    uint8_t osc_instrument[OSC_CHANNELS] = {};
    uint16_t tick_counter = 0;  // frames left until the next tick
    uint16_t tick_speed = 700;  // reload of tick_counter
    TarqEventHook tarq_event_hook = nullptr;
    void* tarq_event_context = nullptr;
};

// Puts every channel at its start in the channel table of `song`, which
// plays with the instruments of `bank`; the rest of the state as at start.
void tarq_start(Tarq& tarq, const uint8_t* song, const InstrumentRecord* bank);

// Tells the listeners the channels' volumes and pannings as they stand, as
// the song would when it set them.
void tarq_announce(const Tarq& tarq, const TarqListeners& listeners);

// Called once per frame after the frame is stored: counts down and runs one
// tick for all eight channels when the counter is 0.
void tarq(Tarq& tarq, const TarqListeners& listeners);
