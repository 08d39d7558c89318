// Recirculating stereo echo whose left and right gains swap roles on a
// period tied to the delay length.
#pragma once
#include <cstdint>

#include "base/fault.h"

// One delay run over a stream of stereo frames that arrives in blocks. The
// echo of frame m is taken from the processed signal H = D/2 frames back
// through a line of H frames, so besides that line the run keeps only a
// short history of processed frames, never a whole-song copy; a stream cut
// into any blocks sounds exactly like the same stream in one piece.
struct DelayRun {
    uint32_t half;       // H = D/2: line slots and the feed's look-back
    uint32_t swap_period;  // D: the swap counter's reload point
    float feedback;
    float floor;         // lowest level of a falling side gain
    float mix;           // share of the processed signal in the result
    float gain[2];       // left and right echo gains
    bool falling[2];
    uint32_t swap_counter;
    uint32_t swap_state;
    uint32_t start_side;  // the swap state at the stream's start
    uint32_t frames_until_feed;  // the line is first fed at frame H
    bool echoing;        // the line is heard, from the frame after its first feed
    uint32_t cursor;     // line slot of the next write, and of the next frame's echo
    uint32_t newest;     // slot of recent that takes the next processed frame
    uint32_t recent_frames;  // H plus one stretch of frames worked at a time
    float* line;         // H frames of gain-scaled processed signal
    float* recent;       // ring of the last processed frames
};

// A run at the start of its stream, with a zeroed line. False, with the
// reason in `fault`, for a D below 2 (the line would have no slot) or a line
// that cannot be allocated.
bool delay_start(DelayRun& run, uint32_t delay, uint32_t swap_state, float feedback, float floor,
                 float mix, Fault& fault);

// The run back at its stream's start, its line kept and cleared.
void delay_restart(DelayRun& run);

// Delays and blends the next length floats (whole frames) in place.
void delay_block(DelayRun& run, float* block, uint32_t length);

// Releases the run's line.
void delay_finish(DelayRun& run);
