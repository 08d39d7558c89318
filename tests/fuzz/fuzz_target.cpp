// A libFuzzer target: the probe named FUZZ_TARGET (set by the build) on every
// input. A broken requirement aborts with its description; libFuzzer
// reports that as a crash and keeps the input.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "song_probes.h"

namespace {

constexpr const FuzzProbe& probe_named(const char* name, size_t k = 0)
{
    return std::strcmp(FUZZ_PROBES[k].name, name) == 0 ? FUZZ_PROBES[k] : probe_named(name, k + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string broken = probe_named(FUZZ_TARGET).probe(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "fuzz: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
