// Golden digests of the whole embedded song. They were produced by the
// straightforward pipeline (whole-song buffers, one stage after another,
// commit 4976298) with bench/golden-hashes, and guard every later change of
// how the work is scheduled and stored against changing what comes out.
// When data/song.txt changes, regenerate them with
//     bench/golden-hashes 4976298
// and paste its lines here; a correctness fix that changes the output
// updates them in the same commit and says why.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/golden_digests.h"

namespace {

TEST(GoldenOutput, DigestsOfTheWholeSongGuardAgainstChange)
{
    const std::vector<std::string> recorded = {
        "rendered 0 c7d98fed2a1c7026807458aaba73ee6c0239732ee69fb60571e06f8f90f00250",
        "processed 0 5e166a4fe6aedf7cf145c4ed40c59f383e50ba162a5fb0685f75e521a1c287ef",
        "rendered 1 94410495c1b5841e6356c3b16c4bdbff7f891c0c1c1fc91a8dcd42f13ffb3bbb",
        "processed 1 64812f85b44fa66e39bdd87a05602fa74f482162c43f1b1047f603dd620288ce",
        "rendered 2 7852d3c6627bce7130189fd1f3b56d060a91e2d8bed728bf6946a3760b6c9500",
        "processed 2 4b6e184ce49412a550b78e6097705f7f092784f57d89b233e4d61f46aaa49c5f",
        "rendered 3 326c0ab60597152c1f73ad357c4f0c723c012a7d8dc135e42a48323f392fba6c",
        "processed 3 6c1db67085e9359ea81a8e49d38fe931426033aad6f74c22949077a1d0135d72",
        "rendered 4 2b512a48e9b20f6c4460407c85f3fefa86e21863453d42a931857c3fef82c125",
        "processed 4 e226fa82f9a05a477f3be44e32f6b666848ec5552c3eda2a590c0958d9a13a63",
        "rendered 5 2342407c622205cc164d5a556f12b940a3434fcef743d017919c97c6eb79ce53",
        "processed 5 66a3133301b168e6ca4cb36c90e44f9de81faec02b34da54104c275611149eac",
        "rendered 6 767a6d910d5bb95e48a8083109d7eff4d94c6f0d6449b7a6339d2184c813b67f",
        "processed 6 ac5c51575c9d3b066a6bc9e95a671330139d3dbb504f198cbe25944c7f607ac0",
        "rendered 7 53371a099d91a394c08eb763df3987afff19ce25be0a1c11508f375df1333b54",
        "processed 7 fd566c05c72ad7391135e22d39b6d6e263536094f83cee75046e9ac515da2ad4",
        "output.wav bdbb1a0cac51c038af2fd506189fb9e8040a53cdf350d8fab9fa97ff219ee829"};
    const std::vector<std::string> now = song_digests();
    ASSERT_EQ(now.size(), recorded.size());
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_EQ(now[i], recorded[i]);
}

}  // namespace
