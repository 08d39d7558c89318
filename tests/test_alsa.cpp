// Playback: the write loop against a scripted device (underruns, short and
// failing writes), and the lines that report how playback ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "output/alsa.h"

namespace {

// A device whose writes return scripted results in turn; once the script is
// used up it takes everything it is given. Records what reached it.
struct ScriptedDevice {
    explicit ScriptedDevice(std::vector<long> writes = {}, std::vector<int> recovers = {})
        : write_results(std::move(writes)), recover_results(std::move(recovers))
    {
    }

    std::vector<long> write_results;
    std::vector<int> recover_results;  // 0 (recovered) once these run out
    std::vector<int16_t> received;
    std::vector<int> recovered_errors;
    size_t writes = 0;

    long write(const int16_t* from, uint32_t n)
    {
        long taken = writes < write_results.size() ? write_results[writes] : long{n};
        ++writes;
        if (taken > 0) {
            taken = std::min<long>(taken, n);
            received.insert(received.end(), from, from + 2 * taken);
        }
        return taken;
    }

    int recover(int error)
    {
        const size_t k = recovered_errors.size();
        recovered_errors.push_back(error);
        return k < recover_results.size() ? recover_results[k] : 0;
    }

    pcm_write_result play(const std::vector<int16_t>& song)
    {
        return pcm_write_all(
            song.data(), static_cast<uint32_t>(song.size() / 2),
            [this](const int16_t* from, uint32_t n) { return write(from, n); },
            [this](int error) { return recover(error); });
    }
};

// 1000 frames in which no two samples are equal, so a lost, repeated or
// shifted frame shows up in what the device received.
std::vector<int16_t> test_song()
{
    std::vector<int16_t> song(2000);
    for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<int16_t>(i * 7 - 7000);
    return song;
}

std::vector<int16_t> first_frames(const std::vector<int16_t>& song, size_t frames)
{
    return {song.begin(), song.begin() + 2 * frames};
}

TEST(PlaybackWrite, WholeSongInOneWriteWhenTheDeviceTakesIt)
{
    const auto song = test_song();
    ScriptedDevice device;
    const pcm_write_result r = device.play(song);
    EXPECT_EQ(r.frames_written, 1000u);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(device.writes, 1u);
    EXPECT_EQ(device.received, song);
    EXPECT_TRUE(device.recovered_errors.empty());
}

TEST(PlaybackWrite, ShortWritesContinueWhereTheDeviceStopped)
{
    const auto song = test_song();
    ScriptedDevice device({300, 1, 250});
    const pcm_write_result r = device.play(song);
    EXPECT_EQ(r.frames_written, 1000u);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(device.writes, 4u);
    EXPECT_EQ(device.received, song);
}

TEST(PlaybackWrite, UnderrunOrSuspendMidSongIsRecoveredAndTheRestWritten)
{
    const auto song = test_song();
    for (const int error : {-EPIPE, -ESTRPIPE}) {
        ScriptedDevice device({400, error});
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, 1000u) << error;
        EXPECT_EQ(r.error, 0) << error;
        EXPECT_EQ(device.recovered_errors, std::vector<int>{error});
        EXPECT_EQ(device.received, song) << "frames lost or repeated around the recovery";
    }
}

TEST(PlaybackWrite, EveryUnderrunBetweenProgressIsRecovered)
{
    const auto song = test_song();
    ScriptedDevice device({100, -EPIPE, 200, -EPIPE, 300});
    const pcm_write_result r = device.play(song);
    EXPECT_EQ(r.frames_written, 1000u);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(device.recovered_errors.size(), 2u);
    EXPECT_EQ(device.received, song);
}

TEST(PlaybackWrite, FailureStopsWithTheFramesWrittenAndTheFinalError)
{
    const auto song = test_song();
    {
        SCOPED_TRACE("an error recovery does not handle comes back unchanged");
        ScriptedDevice device({400, -EIO}, {-EIO});
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, 400u);
        EXPECT_EQ(r.error, -EIO);
        EXPECT_EQ(device.received, first_frames(song, 400));
    }
    {
        SCOPED_TRACE("a recovery that fails reports its own error");
        ScriptedDevice device({400, -EPIPE}, {-ENODEV});
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, 400u);
        EXPECT_EQ(r.error, -ENODEV);
        EXPECT_EQ(device.writes, 2u);
    }
}

TEST(PlaybackWrite, DeviceThatMakesNoProgressEndsTheLoop)
{
    const auto song = test_song();
    {
        SCOPED_TRACE("failing again straight after a recovery");
        ScriptedDevice device({250, -EPIPE, -EPIPE, -EPIPE});
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, 250u);
        EXPECT_EQ(r.error, -EPIPE);
        EXPECT_EQ(device.recovered_errors.size(), 1u);
        EXPECT_EQ(device.writes, 3u);
    }
    {
        SCOPED_TRACE("a write that takes nothing");
        ScriptedDevice device({500, 0});
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, 500u);
        EXPECT_EQ(r.error, -EIO);
        EXPECT_TRUE(device.recovered_errors.empty());
    }
}

TEST(PlaybackWrite, EmptySongWritesNothing)
{
    ScriptedDevice device;
    const pcm_write_result r = device.play({});
    EXPECT_EQ(r.frames_written, 0u);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(device.writes, 0u);
}

std::string report_text(const pcm_write_result& result)
{
    testing::internal::CaptureStdout();
    report_playback(result);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(PlaybackReport, CompletionOnlyWhenEveryFrameWasPlayed)
{
    EXPECT_EQ(report_text({5733000, 0}), "Total processed frames: 5733000\nPlayback complete. Bye!\n");
    EXPECT_EQ(report_text({300, -EPIPE}),
              "Total processed frames: 300\n"
              "Error: ALSA device \"default\": playback failed: Broken pipe\n");
    EXPECT_EQ(report_text({5733000, -ENODEV}),
              "Total processed frames: 5733000\n"
              "Error: ALSA device \"default\": playback failed: No such device\n");
}

}  // namespace
