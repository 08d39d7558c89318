// The whole mix of the embedded song, instrumented, on 1, 2 and 4 threads:
// each thread's busy time, the time by kind of work, and the critical path
// (the longest chain of pieces that had to follow one another, timed as
// they ran). With the total work that gives the run's time on more cores
// than this machine has: no run can beat either bound, and a list of small
// pieces taken in order comes close to the larger of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <string>

#include "data/tables.h"
#include "driver/mix.h"

namespace {

double milliseconds(double seconds) { return 1000.0 * seconds; }

void BM_mix_instrumented(benchmark::State& state)
{
    MixTimes times;
    for (auto _ : state) {
        times = MixTimes{};
        MixOptions options{tarq_data, &tarq_sounds};
        options.threads = static_cast<int>(state.range(0));
        options.times = &times;
        MasterMix mix{};
        Fault fault;
        if (!mix_channels(options, mix, fault)) std::abort();
        mix_release(mix);
    }
    double kinds[MIX_WORK_KINDS] = {}, busiest = 0.0, total = 0.0;
    for (int t = 0; t < times.threads; ++t) {
        const double busy = std::accumulate(std::begin(times.busy[t]), std::end(times.busy[t]), 0.0);
        state.counters["thread" + std::to_string(t) + "_ms"] = milliseconds(busy);
        busiest = std::max(busiest, busy);
        total += busy;
        for (int k = 0; k < MIX_WORK_KINDS; ++k) kinds[k] += times.busy[t][k];
    }
    state.counters["render_ms"] = milliseconds(kinds[MIX_RENDER]);
    state.counters["effects_ms"] = milliseconds(kinds[MIX_EFFECTS]);
    state.counters["add_ms"] = milliseconds(kinds[MIX_ADD]);
    state.counters["equalise_ms"] = milliseconds(kinds[MIX_EQUALISE]);
    state.counters["work_ms"] = milliseconds(total);
    state.counters["wall_ms"] = milliseconds(times.wall);
    state.counters["critical_ms"] = milliseconds(times.critical_path);
    state.counters["critical_share"] = times.critical_path / total;
    state.counters["busiest_share"] = busiest / total;
    state.counters["on_4_cores_ms"] = milliseconds(std::max(times.critical_path, total / 4));
    state.counters["fell_back"] = times.fell_back ? 1 : 0;
}
BENCHMARK(BM_mix_instrumented)->Arg(1)->Arg(2)->Arg(4)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
