// Playback through the real ALSA library. A configuration file points
// "default" at the file plugin over a null device, so the frames that reach
// the "device" can be read back without a sound card.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "output/alsa.h"

namespace {

class PlaybackDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "songrender-alsa-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        capture = folder / "capture.raw";
        if (const char* old = std::getenv("ALSA_CONFIG_PATH")) saved_config_path = old;
    }

    void TearDown() override
    {
        if (saved_config_path) setenv("ALSA_CONFIG_PATH", saved_config_path->c_str(), 1);
        else unsetenv("ALSA_CONFIG_PATH");
        std::filesystem::remove_all(folder);
    }

    // Makes `text` the library's whole configuration.
    void use_config(const std::string& text)
    {
        const auto path = folder / "asound.conf";
        std::ofstream(path) << text << '\n';
        setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }

    // A PCM that stores every frame it is given, unchanged, in `capture`.
    std::string file_pcm() const
    {
        return "{ type file slave.pcm { type null } file \"" + capture.string() + "\" format \"raw\" }";
    }

    std::string play(const std::vector<int16_t>& song, uint32_t count)
    {
        testing::internal::CaptureStdout();
        alsa_playback(song.data(), count);
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    std::vector<int16_t> captured() const
    {
        if (!std::filesystem::exists(capture)) return {};
        std::vector<int16_t> samples(std::filesystem::file_size(capture) / 2);
        std::ifstream(capture, std::ios::binary)
            .read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
        return samples;
    }

    std::filesystem::path folder;
    std::filesystem::path capture;
    std::optional<std::string> saved_config_path;
};

// A 441 Hz tone, left and right in opposite phase.
std::vector<int16_t> tone(uint32_t frames)
{
    std::vector<int16_t> song(2 * frames);
    for (uint32_t f = 0; f < frames; ++f) {
        const auto v = static_cast<int16_t>(20000 * std::sin(2 * M_PI * 441 * f / 44100.0));
        song[2 * f] = v;
        song[2 * f + 1] = static_cast<int16_t>(-v);
    }
    return song;
}

TEST_F(PlaybackDevice, EveryFrameReachesTheDeviceInOrder)
{
    use_config("pcm.!default " + file_pcm());
    const auto song = tone(44100);
    EXPECT_EQ(play(song, 88200), "Total processed frames: 44100\nPlayback complete. Bye!\n");
    EXPECT_EQ(captured(), song);
}

TEST_F(PlaybackDevice, OddSampleCountPlaysWholeFramesOnly)
{
    use_config("pcm.!default " + file_pcm());
    const auto song = tone(1000);
    EXPECT_EQ(play(song, 1999), "Total processed frames: 999\nPlayback complete. Bye!\n");
    EXPECT_EQ(captured(), std::vector<int16_t>(song.begin(), song.begin() + 1998));
}

// A device fixed at 48 kHz: the library converts the rate in software, so one
// second of song still lasts one second on the device.
TEST_F(PlaybackDevice, DeviceAtAnotherRateGetsTheSongResampled)
{
    use_config("pcm.!default { type plug slave { pcm " + file_pcm() + " rate 48000 } }");
    EXPECT_EQ(play(tone(44100), 88200), "Total processed frames: 44100\nPlayback complete. Bye!\n");
    EXPECT_NEAR(captured().size() / 2.0, 48000.0, 100.0);
}

TEST_F(PlaybackDevice, MissingDeviceIsReportedWithAlsasReason)
{
    use_config("pcm.other " + file_pcm());
    EXPECT_EQ(play(tone(1000), 2000),
              "Error: ALSA device \"default\": cannot be opened for playback: "
              "No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(capture));
}

// The mu-law plugin over a 16-bit device takes only mu-law frames.
TEST_F(PlaybackDevice, DeviceRefusingTheFormatIsReportedWithAlsasReason)
{
    use_config("pcm.!default { type mulaw slave { pcm " + file_pcm() + " format S16_LE } }");
    EXPECT_EQ(play(tone(1000), 2000),
              "Error: ALSA device \"default\": cannot be set to 16-bit stereo at 44100 Hz: "
              "Invalid argument\n");
    EXPECT_TRUE(captured().empty());
}

}  // namespace
