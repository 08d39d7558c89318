#include "driver/mix.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/mix_plan.h"
#include "driver/render.h"
#include "fx/buffers.h"
#include "fx/mixdown.h"

// The mix is a list of small pieces of work, each one block of one channel
// (rendered, through its gain, delay and reverb, then added into the
// master) or one block of one half of the master equaliser. Threads take
// the pieces in the list's order, and each piece waits for the ones it
// needs, all of which come earlier in the list, so the run never locks up
// and any number of threads gives the same samples.
//
// A channel's blocks follow one another, and so do each equaliser half's.
// A block of the master takes the channels in ascending order. The reverb
// hands its comb filter states from each channel's end to the next
// channel's start; in the plain order the list takes the channels one
// after another. With two threads or more, the channels instead run side by
// side from the song's start, every reverb from zero states, and only the
// first channel with a reverb is right from its first frame. What the
// states a channel starts from do to its sound dies away: a run from the
// wrong states becomes, bit for bit, the run from the right ones within a
// few seconds.
// So the master leaves out the head of every later channel (HEAD_BLOCKS) in
// that first run; once all have finished, their heads run again from the
// true states, into the master, and each must end in the very state the
// first run had there. The equaliser, whose state carries through the
// song, meanwhile works the master behind the head from a guessed state,
// and its first block there is made again from the true one and must meet
// that state too. Should either fail, the whole mix is made again in the
// plain order.

namespace {

// One channel's engine, effects and block in flight.
struct Lane {
    Engine engine;
    ChannelChain chain;
    bool chain_started = false;
    int previous = -1;  // the channel whose reverb hands its states to this one's
    Reverb reverb;
    Reverb at_head;                         // the first run's reverb at the head's end
    float handed_on[COMB_COUNT] = {};       // its comb states at the song's end
    bool matches = true;                    // the second run ended its head as the first did
    int16_t rendered[BLOCK_FRAMES][2];
    float block[2 * BLOCK_FRAMES];
    std::atomic<uint32_t> steps{0};   // blocks finished, both runs counted
    std::atomic<uint32_t> mixed{0};   // samples of the master holding this channel for good
    double path = 0.0, handed_on_path = 0.0;  // critical path, when timed
};

void wait_at_least(const std::atomic<uint32_t>& counter, uint32_t value)
{
    for (uint32_t seen = counter.load(std::memory_order_acquire); seen < value;
         seen = counter.load(std::memory_order_acquire))
        counter.wait(seen, std::memory_order_acquire);
}

void advance(std::atomic<uint32_t>& counter, uint32_t value)
{
    counter.store(value, std::memory_order_release);
    counter.notify_all();
}

double seconds_now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Run {
    Run(const MixOptions& o, float* m)
        : options(o), frames(o.frames), samples(2 * o.frames),
          blocks((o.frames + BLOCK_FRAMES - 1) / BLOCK_FRAMES), master(m), block_lanes(blocks),
          block_path(blocks)
    {
    }
    const MixOptions& options;
    const uint32_t frames, samples, blocks;
    float* const master;
    Lane lanes[CHANNEL_COUNT];
    Plan plan;
    std::atomic<uint32_t> next_task{0};
    std::vector<std::atomic<uint32_t>> block_lanes;  // channels added into each block so far
    std::atomic<uint32_t> equalised_steps[2] = {};
    MasterEqualiser from_start{}, guessed{}, guessed_at_settling{};
    float settling_block[2 * BLOCK_FRAMES];  // the master's first block after the head, before equalising
    float peak = 0.0f;
    bool settled = false;
    // A worker left work undone because the mix was stopped; the flag it saw
    // may be cleared again before the mix ends.
    std::atomic<bool> halted{false};
    std::atomic<uint32_t> equalised{0};  // samples of the master equalised
    // Whether the counts are final: a side-by-side run's may yet be made
    // again, so none is reported whole until it has settled.
    std::atomic<bool> counts_final{false};
    // Progress, reported in order under its lock.
    std::mutex report_lock;
    int reported_channel = 0;
    bool channel_announced = false;
    uint32_t reported_done = 0, reported_equalised = 0;
    // Critical path, when timed.
    std::vector<double> block_path;
    double equaliser_path[2] = {};
    double settle_path = 0.0;
};

uint32_t frames_of_block(const Run& run, uint32_t b)
{
    return std::min(BLOCK_FRAMES, run.frames - b * BLOCK_FRAMES);
}

float* master_block(Run& run, uint32_t b) { return run.master + 2 * std::size_t{b} * BLOCK_FRAMES; }

// A worker's clock: the time each kind of work took, when the mix is timed.
struct Clock {
    double* busy;  // the worker's row of MixTimes.busy, or null
    double last = 0.0;

    void restart()
    {
        if (busy != nullptr) last = seconds_now();
    }
    // The time since the last lap, counted as `kind`.
    double lap(MixWork kind)
    {
        if (busy == nullptr) return 0.0;
        const double now = seconds_now(), spent = now - last;
        last = now;
        busy[kind] += spent;
        return spent;
    }
};

void report_progress(Run& run)
{
    const MixOptions& o = run.options;
    if (o.progress == nullptr) return;
    std::lock_guard lock(run.report_lock);
    const uint32_t most = run.counts_final.load(std::memory_order_acquire) ? run.samples : run.samples - 1;
    for (; run.reported_channel < CHANNEL_COUNT; ++run.reported_channel) {
        const int k = run.reported_channel;
        if (!run.channel_announced) {
            o.progress(o.context, MixStage::channel, k, 0, run.samples);
            run.channel_announced = true;
            run.reported_done = 0;
        }
        const uint32_t done = std::min(run.lanes[k].mixed.load(std::memory_order_acquire), most);
        if (done > run.reported_done) {
            run.reported_done = done;
            o.progress(o.context, MixStage::channel, k, done, run.samples);
        }
        if (run.reported_done < run.samples) return;
        run.channel_announced = false;
    }
    const uint32_t equalised = std::min(run.equalised.load(std::memory_order_acquire), most);
    if (equalised > run.reported_equalised) {
        run.reported_equalised = equalised;
        o.progress(o.context, MixStage::equaliser, CHANNEL_COUNT - 1, equalised, run.samples);
    }
}

bool guessed_run(const Run& run, bool again) { return run.plan.guesses && !again; }

// The channel at the song's start. Its reverb takes the states the channel
// before hands on, or in a guessed run zeros.
void start_lane(Run& run, int k, bool again, double& path)
{
    Lane& lane = run.lanes[k];
    engine_start(lane.engine, run.options.song, run.options.sounds->instrument_bank, k);
    channel_chain_restart(lane.chain);
    if (!lane.chain.has_reverb) return;
    const float zeros[COMB_COUNT] = {};
    const float(*states)[COMB_COUNT] = &zeros;
    if (!guessed_run(run, again) && lane.previous >= 0) {
        Lane& before = run.lanes[lane.previous];
        wait_at_least(before.steps, run.blocks);
        states = &before.handed_on;
        path = std::max(path, before.handed_on_path);
    }
    reverb_resume(lane.reverb, *states);
    channel_chain_enter(lane.chain, lane.reverb);
}

// The lane's block into the master after the channels before it.
void add_into_master(Run& run, int k, uint32_t b, uint32_t length, double& path, Clock& clock)
{
    Lane& lane = run.lanes[k];
    const MixOptions& o = run.options;
    wait_at_least(run.block_lanes[b], static_cast<uint32_t>(k));
    clock.restart();
    if (o.in_master[k]) {
        float* into = master_block(run, b);
        for (uint32_t i = 0; i < length; ++i) into[i] = into[i] + lane.block[i];
    }
    if (o.observe != nullptr) o.observe(o.context, k, 2 * b * BLOCK_FRAMES, lane.block, length);
    path = std::max(path, run.block_path[b]) + clock.lap(MIX_ADD);
    run.block_path[b] = path;
    lane.mixed.fetch_add(length, std::memory_order_release);
    advance(run.block_lanes[b], static_cast<uint32_t>(k + 1));
}

void channel_block(Run& run, const Task& task, Clock& clock)
{
    const int k = task.channel;
    const uint32_t b = task.block;
    Lane& lane = run.lanes[k];
    wait_at_least(lane.steps, task.step);
    double path = lane.path;
    if (b == 0) start_lane(run, k, task.again, path);
    const uint32_t n = frames_of_block(run, b);
    clock.restart();
    render_channel_block(lane.engine, k, n, lane.rendered);
    path += clock.lap(MIX_RENDER);
    channel_chain_block(lane.chain, lane.reverb, lane.rendered, lane.block, n);
    path += clock.lap(MIX_EFFECTS);
    const bool head_ends = b + 1 == run.plan.head_blocks && k >= run.plan.first_late && lane.chain.has_reverb;
    if (head_ends && !task.again) lane.at_head = lane.reverb;
    if (head_ends && task.again) lane.matches = std::memcmp(&lane.reverb, &lane.at_head, sizeof lane.reverb) == 0;
    if (!task.again && b + 1 == run.blocks) {
        std::copy(std::begin(lane.reverb.comb_filterstore), std::end(lane.reverb.comb_filterstore),
                  std::begin(lane.handed_on));
        lane.handed_on_path = path;
    }
    if (plan_mixes(run.plan, k, task.again, b)) add_into_master(run, k, b, 2 * n, path, clock);
    lane.path = path;
    advance(lane.steps, task.step + 1);
}

void equalise_block(Run& run, const Task& task, Clock& clock)
{
    const int half = task.work == Work::equalise_first ? 0 : 1;
    const uint32_t b = task.block;
    wait_at_least(run.equalised_steps[half], task.step);
    if (half == 0) wait_at_least(run.block_lanes[b], CHANNEL_COUNT);
    else wait_at_least(run.equalised_steps[0], task.step + 1);
    const bool guessed = guessed_run(run, task.again);
    const bool settling = guessed && b == run.plan.head_blocks;
    MasterEqualiser& eq = guessed ? run.guessed : run.from_start;
    float* block = master_block(run, b);
    const uint32_t length = 2 * frames_of_block(run, b);
    clock.restart();
    if (settling && half == 0) std::copy(block, block + length, run.settling_block);
    FilterStage(&chain)[FILTER_CHAIN_LENGTH] = half == 0 ? eq.first : eq.second;
    filter_chain_block(chain, block, length);
    if (settling) {
        std::copy(std::begin(chain), std::end(chain),
                  half == 0 ? run.guessed_at_settling.first : run.guessed_at_settling.second);
    } else if (half == 1) {
        run.peak = std::max(run.peak, master_peak_of(block, length));
        run.equalised.fetch_add(length, std::memory_order_release);
    }
    double& path = run.equaliser_path[half];
    path = std::max(path, run.block_path[b]) + clock.lap(MIX_EQUALISE);
    run.block_path[b] = path;
    advance(run.equalised_steps[half], task.step + 1);
}

// After both runs: the equaliser from the song's start over the first block
// after the head must end as the guessed one did there, and every channel's
// second head as its first; then that block is the true one.
void settle(Run& run, const Task& task, Clock& clock)
{
    wait_at_least(run.equalised_steps[1], task.step);
    double path = run.equaliser_path[1];
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        Lane& lane = run.lanes[k];
        wait_at_least(lane.steps, run.blocks + (k >= run.plan.first_late ? run.plan.head_blocks : 0));
        path = std::max(path, lane.path);
    }
    const uint32_t b = run.plan.head_blocks, length = 2 * frames_of_block(run, b);
    clock.restart();
    filter_chain_block(run.from_start.first, run.settling_block, length);
    filter_chain_block(run.from_start.second, run.settling_block, length);
    run.settled = master_equaliser_same(run.from_start, run.guessed_at_settling) &&
                  std::all_of(std::begin(run.lanes), std::end(run.lanes), [](const Lane& l) { return l.matches; });
    if (run.settled) {
        std::copy(run.settling_block, run.settling_block + length, master_block(run, b));
        run.peak = std::max(run.peak, master_peak_of(run.settling_block, length));
        run.equalised.fetch_add(length, std::memory_order_release);
        run.counts_final.store(true, std::memory_order_release);
    }
    run.settle_path = path + clock.lap(MIX_EQUALISE);
}

bool stopped(const Run& run)
{
    return run.options.stop != nullptr && run.options.stop->load(std::memory_order_relaxed);
}

void work(Run& run, double* busy)
{
    Clock clock{busy};
    for (;;) {
        if (stopped(run)) {
            run.halted.store(true);
            return;
        }
        const uint32_t t = run.next_task.fetch_add(1, std::memory_order_relaxed);
        if (t >= run.plan.tasks.size()) return;
        const Task& task = run.plan.tasks[t];
        switch (task.work) {
        case Work::channel: channel_block(run, task, clock); break;
        case Work::equalise_first:
        case Work::equalise_second: equalise_block(run, task, clock); break;
        case Work::settle: settle(run, task, clock); break;
        }
        report_progress(run);
    }
}

// The threads of a run, joined when it ends however it ends.
class Threads {
public:
    ~Threads()
    {
        for (std::thread& t : threads_) t.join();
    }

    // False if the thread cannot start; the run then goes on without it.
    template <class... Args>
    bool start(Args&&... args)
    {
        try {
            threads_.emplace_back(std::forward<Args>(args)...);
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

private:
    std::vector<std::thread> threads_;
};

int usable_cores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

// The master's first touch on a thread of its own, in the order the mix
// fills it.
void prefault_master(float* master, uint32_t samples, uint32_t first_filled)
{
    constexpr uint32_t PIECE = 1u << 20;  // samples: whole huge pages, yielding the memory map's lock between them
    const auto touch = [&](uint32_t from, uint32_t to) {
        for (uint32_t at = from; at < to; at += PIECE) prefault_song_floats(master + at, std::min(PIECE, to - at));
    };
    touch(first_filled, samples);
    touch(0, first_filled);
}

void run_plan(Run& run, int threads)
{
    MixTimes* times = run.options.times;
    Threads workers;
    int started = 1;
    for (; started < threads; ++started)
        if (!workers.start(work, std::ref(run), times != nullptr ? times->busy[started] : nullptr)) break;
    if (times != nullptr) times->threads = std::max(times->threads, started);
    work(run, times != nullptr ? times->busy[0] : nullptr);
}

// The lanes and counters back at the song's start for the plain order.
void start_again(Run& run)
{
    std::memset(run.master, 0, std::size_t{run.samples} * sizeof(float));
    double path = run.settle_path;
    for (Lane& lane : run.lanes) {
        lane.steps.store(0);
        lane.mixed.store(0);
        lane.matches = true;
        path = std::max(path, lane.path);
    }
    for (auto& count : run.block_lanes) count.store(0);
    std::fill(run.block_path.begin(), run.block_path.end(), path);
    for (Lane& lane : run.lanes) lane.path = path;
    run.equaliser_path[0] = run.equaliser_path[1] = path;
    run.equalised_steps[0].store(0);
    run.equalised_steps[1].store(0);
    run.equalised.store(0);
    run.next_task.store(0);
    run.from_start = master_equaliser_start(*run.options.sounds);
    run.peak = 0.0f;
}

// Links each channel with a reverb to the one before it; the second such
// channel is the first whose start is guessed in a side-by-side run.
int link_reverbs(Run& run)
{
    int last = -1, second = CHANNEL_COUNT;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        if (!run.lanes[k].chain.has_reverb) continue;
        run.lanes[k].previous = last;
        if (last >= 0 && second == CHANNEL_COUNT) second = k;
        last = k;
    }
    return second;
}

bool mix(Run& run, Fault& fault)
{
    const MixOptions& o = run.options;
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        if (!channel_chain_start(run.lanes[k].chain, *o.sounds, k, fault)) return false;
        run.lanes[k].chain_started = true;
    }
    const int first_late = link_reverbs(run);
    const int threads = std::clamp(o.threads > 0 ? o.threads : usable_cores(), 1, MIX_MAX_THREADS);
    // Side by side only while the head is at most half the mix, and never
    // for an observer, which needs each channel's blocks in time order.
    const bool side_by_side = threads > 1 && o.observe == nullptr && first_late < CHANNEL_COUNT &&
                              run.blocks >= 2 * HEAD_BLOCKS;
    run.plan = side_by_side ? plan_side_by_side(run.blocks, first_late) : plan_in_order(run.blocks);
    run.counts_final = !side_by_side;
    run.from_start = master_equaliser_start(*o.sounds);
    run.guessed = master_equaliser_resumed(*o.sounds);
    const double began = seconds_now();
    {
        Threads helpers;
        const uint32_t first_filled = side_by_side ? 2 * HEAD_BLOCKS * BLOCK_FRAMES : 0;
        helpers.start(prefault_master, run.master, run.samples, first_filled);
        run_plan(run, threads);
    }
    if (side_by_side && !run.settled && !run.halted) {
        start_again(run);
        run.plan = plan_in_order(run.blocks);
        run.counts_final = true;
        run_plan(run, threads);
    }
    report_progress(run);
    if (o.times != nullptr) {
        MixTimes& t = *o.times;
        t.guessed = side_by_side;
        t.fell_back = side_by_side && !run.settled;
        t.wall = seconds_now() - began;
        t.critical_path = std::max({run.settle_path, run.equaliser_path[1], run.equaliser_path[0]});
        for (const Lane& lane : run.lanes) t.critical_path = std::max(t.critical_path, lane.path);
    }
    if (run.halted) return fail(fault, "%s", MIX_STOPPED);
    return true;
}

}  // namespace

bool mix_channels(const MixOptions& options, MasterMix& mix_out, Fault& fault)
{
    float* master = take_song_floats(2 * std::size_t{options.frames}, "the master mix", fault);
    if (master == nullptr) return false;
    std::unique_ptr<Run> run;
    bool ok = false;
    try {
        run = std::make_unique<Run>(options, master);
        ok = mix(*run, fault);
    } catch (const std::bad_alloc&) {
        fail(fault, "out of memory: cannot allocate the channels' engines and blocks");
    }
    if (run != nullptr)
        for (Lane& lane : run->lanes)
            if (lane.chain_started) channel_chain_finish(lane.chain);
    if (!ok) {
        release_song_floats(master, 2 * std::size_t{options.frames});
        return false;
    }
    mix_out = MasterMix{master, 2 * options.frames, run->peak};
    return true;
}

void mix_release(MasterMix& mix)
{
    release_song_floats(mix.samples, mix.length);
    mix.samples = nullptr;
}
