// The mix's plans: each piece of work finds everything it waits for earlier
// in the list (so threads taking the list in order never all wait), and
// every channel's block and every equaliser block is there exactly once per run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "driver/mix_plan.h"

namespace {

// Runs the plan on one thread, as one worker would, and fails where a piece
// needs one that has not run yet. Every channel is taken to follow the one
// before it through the reverb, the most any song asks.
void expect_runs_in_list_order(const Plan& plan, uint32_t blocks)
{
    std::map<int, uint32_t> channel_steps;          // steps finished per channel
    std::set<std::tuple<int, uint32_t>> mixed;      // (channel, block) in the master
    uint32_t equalised[2] = {0, 0};
    std::map<uint32_t, int> equalised_blocks[2];    // block: times
    std::map<std::tuple<int, bool, uint32_t>, int> seen;
    for (size_t i = 0; i < plan.tasks.size(); ++i) {
        const Task& t = plan.tasks[i];
        const std::string where = "task " + std::to_string(i);
        switch (t.work) {
        case Work::channel: {
            ASSERT_EQ(channel_steps[t.channel], t.step) << where << ": its channel's step before it";
            if (t.block == 0 && (!plan.guesses || t.again) && t.channel > 0) {
                ASSERT_GE(channel_steps[t.channel - 1], blocks) << where << ": the reverb states handed on";
            }
            if (plan_mixes(plan, t.channel, t.again, t.block)) {
                for (int k = 0; k < t.channel; ++k)
                    ASSERT_TRUE(mixed.count({k, t.block})) << where << ": channel " << k << " first";
                ASSERT_TRUE(mixed.insert({t.channel, t.block}).second) << where << ": mixed twice";
            }
            ++seen[{t.channel, t.again, t.block}];
            ++channel_steps[t.channel];
            break;
        }
        case Work::equalise_first:
        case Work::equalise_second: {
            const int half = t.work == Work::equalise_first ? 0 : 1;
            ASSERT_EQ(equalised[half], t.step) << where;
            if (half == 0) {
                for (int k = 0; k < CHANNEL_COUNT; ++k) ASSERT_TRUE(mixed.count({k, t.block})) << where;
            } else {
                ASSERT_GT(equalised[0], t.step) << where << ": the first half before the second";
            }
            ++equalised[half];
            ++equalised_blocks[half][t.block];
            break;
        }
        case Work::settle:
            ASSERT_EQ(i + 1, plan.tasks.size()) << "the settling comes last";
            ASSERT_EQ(equalised[1], t.step);
            for (int k = 0; k < CHANNEL_COUNT; ++k)
                ASSERT_EQ(channel_steps[k], blocks + (k >= plan.first_late ? plan.head_blocks : 0)) << k;
            break;
        }
    }
    for (uint32_t b = 0; b < blocks; ++b) {
        for (int k = 0; k < CHANNEL_COUNT; ++k) {
            EXPECT_EQ((seen[{k, false, b}]), 1) << "channel " << k << " block " << b;
            EXPECT_EQ((seen[{k, true, b}]), plan.guesses && k >= plan.first_late && b < plan.head_blocks ? 1 : 0);
            EXPECT_TRUE(mixed.count({k, b})) << "channel " << k << " never reaches block " << b;
        }
        EXPECT_EQ(equalised_blocks[0][b], 1) << "block " << b;
        EXPECT_EQ(equalised_blocks[1][b], 1) << "block " << b;
    }
}

TEST(MixPlan, InOrderEveryPieceFindsWhatItWaitsForEarlier)
{
    for (const uint32_t blocks : {0u, 1u, 2u, 3u, 40u}) {
        SCOPED_TRACE("blocks " + std::to_string(blocks));
        const Plan plan = plan_in_order(blocks);
        EXPECT_FALSE(plan.guesses);
        expect_runs_in_list_order(plan, blocks);
    }
}

TEST(MixPlan, SideBySideEveryPieceFindsWhatItWaitsForEarlier)
{
    for (const int first_late : {1, 3, CHANNEL_COUNT - 1}) {
        for (const uint32_t blocks : {HEAD_BLOCKS + 2, 2 * HEAD_BLOCKS, 350u}) {
            SCOPED_TRACE("first late " + std::to_string(first_late) + ", blocks " + std::to_string(blocks));
            const Plan plan = plan_side_by_side(blocks, first_late);
            EXPECT_TRUE(plan.guesses);
            EXPECT_EQ(plan.tasks.back().work, Work::settle);
            const auto first_equalised = std::find_if(plan.tasks.begin(), plan.tasks.end(),
                                                      [](const Task& t) { return t.work == Work::equalise_first; });
            ASSERT_NE(first_equalised, plan.tasks.end());
            EXPECT_EQ(first_equalised->block, HEAD_BLOCKS) << "the guessed equaliser starts behind the head";
            expect_runs_in_list_order(plan, blocks);
        }
    }
}

}  // namespace
