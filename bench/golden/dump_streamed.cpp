// Prints the digests of the block-wise pipeline (see tests/golden_digests.h)
// for bench/golden-hashes, in the format of dump_straightforward.cpp.
#include <cstdio>

#include "tests/golden_digests.h"

int main()
{
    for (const std::string& line : song_digests()) std::fprintf(stderr, "%s\n", line.c_str());
    return 0;
}
