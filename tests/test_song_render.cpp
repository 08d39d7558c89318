// songtool render's stems against the straightforward pipeline: each
// channel rendered whole, through its whole-buffer effects, summed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "driver/render.h"
#include "fx/mixdown.h"
#include "fx/reverb.h"
#include "render_progress.h"
#include "song/tarq.h"
#include "song_asm.h"
#include "songtool.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t FRAMES = 2 * SAMPLE_RATE;  // several blocks, and the effects' tails
constexpr uint32_t SAMPLES = 2 * FRAMES;

// Every channel plays for a while (each with another instrument), then holds.
std::string busy_song()
{
    std::string text;
    for (int k = 0; k < 7; ++k)
        text += "channel " + std::to_string(k) + "\n  o3 v8 @" + std::to_string(2 * k) +
                " l8 c e g >c< b g e c [ r1 ]255\n";
    return text + "channel 7\n  t43 v8 o3 c8 d8 e8 f8 g8 a8 [ r1 ]255\n";
}

std::vector<uint8_t> read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The samples of a float stem (58-byte header: fmt with extension, fact).
std::vector<float> stem_samples(const fs::path& path)
{
    const std::vector<uint8_t> bytes = read_file(path);
    EXPECT_EQ(bytes.size(), 58u + 4u * SAMPLES) << path;
    std::vector<float> samples(SAMPLES);
    if (bytes.size() == 58u + 4u * SAMPLES) std::memcpy(samples.data(), bytes.data() + 58, 4u * SAMPLES);
    return samples;
}

struct Reference {
    std::vector<std::vector<float>> channels;  // as each enters the mix
    std::vector<float> master;                 // their sum, before the equaliser
};

// The straightforward way: one channel at a time over the whole length.
Reference straightforward_mix(const std::vector<uint8_t>& block)
{
    Reference ref{std::vector<std::vector<float>>(RENDER_CHANNELS, std::vector<float>(SAMPLES)),
                  std::vector<float>(SAMPLES, 0.0f)};
    render_reset();
    reverb_reset();
    tarq_load(block.data());
    testing::internal::CaptureStdout();  // the effects' progress texts
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        std::vector<float>& c = ref.channels[k];
        render_channel_start();
        for (uint32_t done = 0; done < FRAMES; done += RENDER_BLOCK_FRAMES) {
            const uint32_t n = std::min(RENDER_BLOCK_FRAMES, FRAMES - done);
            render_channel_block(k, n);
            channel_to_float(k, c.data() + 2 * done, n);
        }
        channel_effects(k, c.data(), SAMPLES);
        for (uint32_t i = 0; i < SAMPLES; ++i) ref.master[i] = ref.master[i] + c[i];
    }
    testing::internal::GetCapturedStdout();
    return ref;
}

class SongRender : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("song_render_" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::vector<std::string> errors;
        ASSERT_TRUE(assemble_song(busy_song(), "busy.txt", block, errors));
        std::ofstream(dir / "busy.txt") << busy_song();
    }
    void TearDown() override { fs::remove_all(dir); }

    int tool(std::vector<std::string> args)
    {
        std::ostringstream out, err;
        args.insert(args.begin(), "render");
        const int status = songtool_main(args, out, err);
        EXPECT_EQ(out.str(), "");
        messages = err.str();
        return status;
    }

    fs::path dir;
    std::vector<uint8_t> block;
    std::string messages;
};

TEST_F(SongRender, StemsSumToTheMasterBeforeTheEqualiserScaledAsTheFile)
{
    ASSERT_EQ(tool({(dir / "busy.txt").string(), "-o", (dir / "mix.wav").string(), "--frames",
                    std::to_string(FRAMES), "--stems", (dir / "stems").string()}),
              0)
        << messages;
    const Reference ref = straightforward_mix(block);
    std::vector<float> equalised = ref.master;
    master_equalise(equalised.data(), SAMPLES);
    const float peak = master_peak_of(equalised.data(), SAMPLES);
    ASSERT_GT(peak, 0.0f);
    const float scale = 32767.0f / peak / 32768.0f;

    std::vector<std::vector<float>> stems;
    for (int k = 0; k < RENDER_CHANNELS; ++k)
        stems.push_back(stem_samples(dir / "stems" / ("channel-" + std::to_string(k) + ".wav")));
    // Each stem is its channel times the one scale, exactly; every one sounds.
    for (int k = 0; k < RENDER_CHANNELS; ++k) {
        EXPECT_GT(master_peak_of(stems[k].data(), SAMPLES), 0.01f) << "channel " << k;
        for (uint32_t i = 0; i < SAMPLES; i += 97)
            ASSERT_EQ(stems[k][i], ref.channels[k][i] * scale) << "channel " << k << " sample " << i;
    }

    // Scaling each term before the sum rounds each once more than scaling
    // the sum: the two differ by at most a few units in the last place of
    // the terms' magnitudes (one rounding per term and per addition).
    const double tolerance_ulps = 2.0 * (RENDER_CHANNELS + 1);
    double largest = 0.0;
    for (uint32_t i = 0; i < SAMPLES; ++i) {
        double sum = 0.0, magnitude = 0.0;
        for (const auto& s : stems) {
            sum += s[i];
            magnitude += std::fabs(s[i]);
        }
        const double expected = static_cast<double>(ref.master[i] * scale);
        ASSERT_LE(std::fabs(sum - expected), tolerance_ulps * std::ldexp(magnitude, -24)) << "sample " << i;
        largest = std::max(largest, std::fabs(sum));
    }
    EXPECT_GT(largest, 0.1);  // the song is heard, not a silent pass

    // And the file holds the equalised master normalised, as songrender would.
    std::vector<int16_t> expected(SAMPLES);
    master_normalise(equalised.data(), expected.data(), SAMPLES);
    const std::vector<uint8_t> file = read_file(dir / "mix.wav");
    ASSERT_EQ(file.size(), 44u + 2u * SAMPLES);
    EXPECT_EQ(std::memcmp(file.data() + 44, expected.data(), 2u * SAMPLES), 0);
}

TEST_F(SongRender, StemsAreWrittenOnlyForChannelsInTheMix)
{
    ASSERT_EQ(tool({(dir / "busy.txt").string(), "-o", (dir / "mix.wav").string(), "--frames", "1000",
                    "--mute", "1,7", "--stems", (dir / "stems").string()}),
              0)
        << messages;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir / "stems")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"channel-0.wav", "channel-2.wav", "channel-3.wav",
                                               "channel-4.wav", "channel-5.wav", "channel-6.wav"}));
}

TEST_F(SongRender, AFailedWriteLeavesNoFileAndExits1)
{
    EXPECT_EQ(tool({(dir / "busy.txt").string(), "-o", (dir / "none" / "mix.wav").string(), "--frames",
                    "1000", "--stems", (dir / "stems").string()}),
              1);
    EXPECT_TRUE(fs::is_empty(dir / "stems"));
}

TEST(RenderProgress, TimeLeftFollowsThePaceSoFar)
{
    EXPECT_EQ(time_left_text(0.1, 0.5), "--:-- left");  // too early to tell
    EXPECT_EQ(time_left_text(30.0, 0.005), "--:-- left");
    EXPECT_EQ(time_left_text(10.0, 0.25), "0:30 left");
    EXPECT_EQ(time_left_text(90.0, 0.5), "1:30 left");
    EXPECT_EQ(time_left_text(12.0, 1.0), "0:00 left");
}

}  // namespace
