// Golden digests of the whole embedded song: they only guard against change. Made by the
// straightforward whole-buffer pipeline (commit 4976298) with bench/golden-hashes; when
// data/song.txt changes, rerun `bench/golden-hashes 4976298` and paste its lines here. A
// correctness fix that changes the output updates them in the same commit and says why.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/golden_digests.h"

namespace {

TEST(GoldenOutput, DigestsOfTheWholeSongGuardAgainstChange)
{
    const std::vector<std::string> recorded = {
        "rendered 0 a5d58cd9d2cf276ab857d9da960cb8607b3a5f4a85f6b2fa4388660539121c6b",
        "processed 0 224b2f6deb76c807704d25d387aff3eeb2be649e0948d7ee2da228907c6c425c",
        "rendered 1 73f146411e391ccd0812fe141d6216e3e8bfab16a382e45c9379f49f4be191d2",
        "processed 1 3bbc9a50e71d5090ae0ebcf275a73c00cb77341a38dbe67b8466576c6e94df58",
        "rendered 2 0975c9c5034674ea463c044be1752fcc962b783082980a051be9ac7d62b6cfee",
        "processed 2 138f9e2812d6082dfad7718c5cf55bd220cca9d0b3a02fb492f6fc87231f3490",
        "rendered 3 d74d23c88a5854b7ce2eeac4239da289a19dccb1992f64dbca761c69e57b0c1b",
        "processed 3 01b10176839700b496ff38df5f33ba86f33ae3767c38a739552aab532228399e",
        "rendered 4 e4ca8987ef86d104933a0eecebb11b369a25f911325fc3cf37aa04dfc52ae142",
        "processed 4 ce70301b2939b662b21ca76a35db7e98e5a0979b8aaa6da700daca89a8e99c86",
        "rendered 5 91de60c5badc7789dcb288936eae0f53282daf611aa632b6c0eea6afd25a6608",
        "processed 5 2abb4f12c331c2f15d6b840135c720746e31eb62cab1be8e835e596c19d00df1",
        "rendered 6 076c462b30d4a48b2f72ea0ce574191a98e09b2e33b18c5a050c83d3a033b450",
        "processed 6 9ae8c2abd6be40817a5a31199b4533ca6827b63d48837598d4dad04a82f995ff",
        "rendered 7 79b22b1027df62e7509bb1e8460ed0fd7d5f06d00f2c529d903c97150744864c",
        "processed 7 2a583cfd181906782d9dbf3aa2ddbd1d4ec4f6c317fc2f49c892b42c0c0bcf53",
        "output.wav 22bdde81ccbc6aeca7c41772702f9ae795e0a21f44d17f68ae786c569b06e5c9"};
    EXPECT_EQ(song_digests(), recorded);
}

}  // namespace
