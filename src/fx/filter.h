// One-pole (RC) low-pass or high-pass filter over an interleaved stereo
// buffer, blended with the unfiltered signal.
#pragma once
#include <cstdint>

enum FilterType : int { FILTER_LOW_PASS = 0, FILTER_HIGH_PASS = 1 };

// One filter run over a stream of stereo frames that arrives in blocks. It
// keeps only the previous input and output frame, so a stream cut into any
// blocks sounds exactly like the same stream in one piece. It holds no
// resources: there is nothing to tear down.
struct FilterStage {
    int type;
    float mix;             // share of the filtered signal
    float alpha;           // the one coefficient of both filter types
    bool started;          // false until the stream's first frame is through
    float last_input[2];   // x[n-1], left and right
    float last_output[2];  // y[n-1], left and right
};

// The coefficient for a cutoff in Hz: dt / (RC + dt), with RC from pi taken
// as 3.14 and a sample period of 1/44100 s. A cutoff of 0 gives exactly 0.
float filter_alpha(float cutoff);

// A stage at the start of its stream.
FilterStage filter_start(FilterType type, float mix, float cutoff);

// Filters and blends the next length floats (whole frames) in place.
void filter_block(FilterStage& stage, float* block, uint32_t length);

// Runs the stages one after another over the next length floats, as
// filter_block on each stage in turn would, but in one pass: each frame goes
// through every stage before the next frame enters, so the stages' serial
// recurrences overlap and no stage's output needs storing.
// The chain is half the master equaliser, so two threads can share it.
constexpr int FILTER_CHAIN_LENGTH = 6;
void filter_chain_block(FilterStage (&stages)[FILTER_CHAIN_LENGTH], float* block, uint32_t length);
