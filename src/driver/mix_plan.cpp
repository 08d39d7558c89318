#include "driver/mix_plan.h"

namespace {

constexpr uint32_t EQUALISER_LAG = 1;  // blocks each equaliser half stays behind what it waits for

// Places the equaliser's work just behind the last channel's sums into the
// blocks it follows, and numbers every channel's steps.
class Placer {
public:
    explicit Placer(Plan& plan) : plan_(plan) {}

    void channel(int k, bool again, uint32_t b)
    {
        plan_.tasks.push_back({Work::channel, static_cast<uint8_t>(k), again, b, steps_[k]++});
        if (k + 1 < CHANNEL_COUNT || !plan_mixes(plan_, k, again, b)) return;
        complete_.push_back({b, again});
        while (complete_.size() - first_ > EQUALISER_LAG) place(Work::equalise_first, first_);
        while (first_ - second_ > EQUALISER_LAG) place(Work::equalise_second, second_);
    }

    void finish()
    {
        while (second_ < complete_.size()) {
            if (first_ < complete_.size()) place(Work::equalise_first, first_);
            place(Work::equalise_second, second_);
        }
    }

private:
    struct Done {
        uint32_t block;
        bool again;
    };
    void place(Work work, std::size_t& next)
    {
        const Done d = complete_[next];
        plan_.tasks.push_back({work, CHANNEL_COUNT - 1, d.again, d.block, static_cast<uint32_t>(next)});
        ++next;
    }
    Plan& plan_;
    uint32_t steps_[CHANNEL_COUNT] = {};
    std::vector<Done> complete_;  // blocks in the order the last channel completes them
    std::size_t first_ = 0, second_ = 0;
};

}  // namespace

Plan plan_in_order(uint32_t blocks)
{
    Plan plan;
    Placer placer(plan);
    for (int k = 0; k < CHANNEL_COUNT; ++k)
        for (uint32_t b = 0; b < blocks; ++b) placer.channel(k, false, b);
    placer.finish();
    return plan;
}

Plan plan_side_by_side(uint32_t blocks, int first_late)
{
    Plan plan;
    plan.guesses = true;
    plan.head_blocks = HEAD_BLOCKS;
    plan.first_late = first_late;
    Placer placer(plan);
    for (uint32_t b = 0; b < blocks; ++b)
        for (int k = 0; k < CHANNEL_COUNT; ++k) placer.channel(k, false, b);
    for (uint32_t b = 0; b < HEAD_BLOCKS; ++b)
        for (int k = first_late; k < CHANNEL_COUNT; ++k) placer.channel(k, true, b);
    placer.finish();
    plan.tasks.push_back({Work::settle, 0, true, HEAD_BLOCKS, blocks});
    return plan;
}

bool plan_mixes(const Plan& plan, int k, bool again, uint32_t b)
{
    return !plan.guesses || again || k < plan.first_late || b >= plan.head_blocks;
}
