// Playback through the real ALSA library, with "default" pointed at the file
// plugin over a null device so the frames that reach it can be read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/playback.h"
#include "output/alsa.h"

namespace {

namespace fs = std::filesystem;

struct Played {
    std::string out;
    std::vector<int16_t> captured;
};

// Plays `count` samples of `song` with `config` as the library's whole configuration;
// "FILE" in it stands for a PCM that stores every frame, unchanged, in a file.
Played play(std::string config, const std::vector<int16_t>& song, uint32_t count)
{
    std::string pattern = (fs::temp_directory_path() / "songrender-alsa-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {"mkdtemp failed", {}};
    const fs::path folder = pattern, capture = folder / "capture.raw", conf = folder / "asound.conf";
    config.replace(config.find("FILE"), 4,
                   "{ type file slave.pcm { type null } file \"" + capture.string() + "\" format \"raw\" }");
    std::ofstream(conf) << config << '\n';
    const char* old = std::getenv("ALSA_CONFIG_PATH");
    const std::string saved = old ? old : "";
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    testing::internal::CaptureStdout();  // alsa_playback says nothing itself: all of it is the report
    report_playback(alsa_playback(song.data(), count));
    std::fflush(stdout);
    Played played{testing::internal::GetCapturedStdout(), {}};
    if (old) setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
    else unsetenv("ALSA_CONFIG_PATH");
    if (fs::exists(capture)) {
        played.captured.resize(fs::file_size(capture) / 2);
        std::ifstream(capture, std::ios::binary)
            .read(reinterpret_cast<char*>(played.captured.data()), static_cast<std::streamsize>(played.captured.size() * 2));
    }
    fs::remove_all(folder);
    return played;
}

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

TEST(PlaybackDevice, FramesReachTheDeviceInOrderOrTheReasonIsReported)
{
    struct Case {
        const char* config;
        uint32_t frames, count, played;
        const char* out;
    };
    const Case cases[] = {
        {"pcm.!default FILE", 44100, 88200, 44100, "Total processed frames: 44100\nPlayback complete. Bye!\n"},
        {"pcm.!default FILE", 1000, 1999, 999, "Total processed frames: 999\nPlayback complete. Bye!\n"},
        {"pcm.other FILE", 1000, 2000, 0,
         "Error: ALSA device \"default\": cannot be opened for playback: No such file or directory\n"},
        // The mu-law plugin over a 16-bit device takes only mu-law frames.
        {"pcm.!default { type mulaw slave { pcm FILE format S16_LE } }", 1000, 2000, 0,
         "Error: ALSA device \"default\": cannot be set to 16-bit stereo at 44100 Hz: Invalid argument\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        const auto song = tone(c.frames);
        const Played p = play(c.config, song, c.count);
        EXPECT_EQ(p.out, c.out);
        EXPECT_EQ(p.captured, std::vector<int16_t>(song.begin(), song.begin() + 2 * c.played));
    }
}

// The library converts the rate in software: one second of song is one second at 48 kHz.
TEST(PlaybackDevice, DeviceAtAnotherRateGetsTheSongResampled)
{
    const Played p = play("pcm.!default { type plug slave { pcm FILE rate 48000 } }", tone(44100), 88200);
    EXPECT_EQ(p.out, "Total processed frames: 44100\nPlayback complete. Bye!\n");
    EXPECT_NEAR(p.captured.size() / 2.0, 48000.0, 100.0);
}

}  // namespace
