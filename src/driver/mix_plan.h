// The mix's work as a list of small pieces, in the order threads take them.
// Every piece waits only for pieces earlier in the list, so threads that
// take the pieces in order, whatever their number, never all wait at once.
#pragma once
#include <cstdint>
#include <vector>

#include "base/timeline.h"

constexpr uint32_t BLOCK_FRAMES = 16384;  // frames of one piece
// The head of a channel whose reverb starts from a guess: 11.9 s, by when
// every channel of the embedded song has met its true run.
constexpr uint32_t HEAD_BLOCKS = 32;

enum class Work : uint8_t {
    channel,          // one block of one channel: rendered, through its effects, into the master
    equalise_first,   // one block of the master through the equaliser's first half
    equalise_second,  // and its second half
    settle,           // the guessed equaliser's first block after the head, checked and made true
};

struct Task {
    Work work;
    uint8_t channel;
    bool again;     // the second run of a channel's head, or the equaliser from the song's start
    uint32_t block;
    uint32_t step;  // place in the sequence of its channel or equaliser half
};

struct Plan {
    std::vector<Task> tasks;
    bool guesses = false;  // channels side by side from guessed reverb states
    uint32_t head_blocks = 0;
    int first_late = CHANNEL_COUNT;  // the first channel whose head waits for the second run
};

// Channel after channel, each one's blocks in order, the equaliser behind
// the last channel.
Plan plan_in_order(uint32_t blocks);

// Block after block, each one's channels in order, the equaliser behind
// the head from a guess; then the heads again of the channels from
// first_late on, the equaliser over them from the song's start, and the
// settling. Needs more than HEAD_BLOCKS + 1 blocks.
Plan plan_side_by_side(uint32_t blocks, int first_late);

// Whether the block of channel k goes into the master in this run of it:
// in a side-by-side plan the first run of a late channel's head does not.
bool plan_mixes(const Plan& plan, int k, bool again, uint32_t b);
