// songtool render's stems against the straightforward pipeline: each channel
// rendered whole, through its chain in one whole-length block, summed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>
#include <vector>

#include "driver/render.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "render_progress.h"
#include "data/tables.h"
#include "tests/reference.h"
#include "song_asm.h"
#include "songtool.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t FRAMES = 2 * SAMPLE_RATE;  // several blocks, and the effects' tails
constexpr uint32_t SAMPLES = 2 * FRAMES;

std::vector<uint8_t> read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SongRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int k = 0; k < 7; ++k)  // every channel plays a while with its own instrument, then holds
            song += "channel " + std::to_string(k) + "\n  o3 v8 @" + std::to_string(2 * k) +
                    " l8 c e g >c< b g e c [ r1 ]255\n";
        song += "channel 7\n  t43 v8 o3 c8 d8 e8 f8 g8 a8 [ r1 ]255\n";
        fs::create_directories(dir);
        std::ofstream(dir / "busy.txt") << song;
    }
    void TearDown() override { fs::remove_all(dir); }

    int render(const std::string& out, const std::string& frames)
    {
        std::ostringstream stdout_text, stderr_text;
        const int status = songtool_main({"render", (dir / "busy.txt").string(), "-o", (dir / out).string(), "--frames",
                                          frames, "--stems", (dir / "stems").string()}, stdout_text, stderr_text);
        EXPECT_EQ(stdout_text.str(), "");
        return status;
    }

    // The master before the equaliser: each channel rendered whole, then through its chain in one block.
    std::vector<float> straightforward_master()
    {
        std::vector<uint8_t> block;
        std::vector<std::string> errors;
        EXPECT_TRUE(assemble_song(song, "busy.txt", block, errors));
        std::vector<float> master(SAMPLES, 0.0f), c(SAMPLES);
        std::vector<int16_t> rendered(SAMPLES);
        auto* const frames = reinterpret_cast<int16_t(*)[2]>(rendered.data());
        const auto engine = std::make_unique<Engine>();
        const auto reverb = reference::fresh_reverb();
        for (int k = 0; k < CHANNEL_COUNT; ++k) {
            engine_start(*engine, block.data(), default_sounds.instrument_bank, k);
            for (uint32_t done = 0, n; done < FRAMES; done += n) {
                n = std::min(RENDER_BLOCK_FRAMES, FRAMES - done);
                render_channel_block(*engine, k, n, frames + done);
            }
            ChannelChain chain;
            Fault fault;
            EXPECT_TRUE(channel_chain_start(chain, default_sounds, k, fault)) << fault.message;
            channel_chain_enter(chain, *reverb);
            channel_chain_block(chain, *reverb, frames, c.data(), FRAMES);
            channel_chain_leave(chain, *reverb);
            channel_chain_finish(chain);
            for (uint32_t i = 0; i < SAMPLES; ++i) master[i] = master[i] + c[i];
        }
        return master;
    }

    fs::path dir = fs::temp_directory_path() / ("song_render_" + std::to_string(getpid()));
    std::string song;
};

TEST_F(SongRender, StemsSumToTheMasterBeforeTheEqualiserScaledAsTheFile)
{
    ASSERT_EQ(render("mix.wav", std::to_string(FRAMES)), 0);
    const std::vector<float> master = straightforward_master();
    std::vector<float> equalised = master;
    reference::master_equalise(default_sounds, equalised.data(), SAMPLES);
    const float scale = 32767.0f / master_peak_of(equalised.data(), SAMPLES) / 32768.0f;

    std::vector<double> sum(SAMPLES, 0.0), magnitude(SAMPLES, 0.0);
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
        const std::vector<uint8_t> bytes = read_file(dir / "stems" / ("channel-" + std::to_string(k) + ".wav"));
        ASSERT_EQ(bytes.size(), 58u + 4u * SAMPLES) << "float stem, channel " << k;  // fmt with extension, fact
        std::vector<float> stem(SAMPLES);
        std::memcpy(stem.data(), bytes.data() + 58, 4u * SAMPLES);
        EXPECT_GT(master_peak_of(stem.data(), SAMPLES), 0.01f) << "channel " << k << " sounds";
        for (uint32_t i = 0; i < SAMPLES; ++i) sum[i] += stem[i], magnitude[i] += std::fabs(stem[i]);
    }
    // Scaling each term rounds once more than scaling the sum: a few units in the last place.
    for (uint32_t i = 0; i < SAMPLES; ++i)
        ASSERT_LE(std::fabs(sum[i] - master[i] * scale), 2.0 * (CHANNEL_COUNT + 1) * std::ldexp(magnitude[i], -24))
            << "sample " << i;
}

TEST(RenderProgress, TimeLeftFollowsThePaceSoFar)
{
    for (const auto& [elapsed, fraction, text] : {std::tuple{0.1, 0.5, "--:-- left"}, {30.0, 0.005, "--:-- left"},
                                                  {10.0, 0.25, "0:30 left"}, {90.0, 0.5, "1:30 left"}, {12.0, 1.0, "0:00 left"}})
        EXPECT_EQ(time_left_text(elapsed, fraction), text) << elapsed << " s, " << fraction;
}

}  // namespace
