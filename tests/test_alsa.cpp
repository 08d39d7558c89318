// Playback: the write loop against a scripted device (underruns, short and
// failing writes), and the lines that report how playback ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/playback.h"
#include "output/alsa.h"

namespace {

// Writes return scripted results in turn, then take everything; records what reached it.
struct ScriptedDevice {
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

// What reached the device must be exactly the song's first frames: none lost, repeated or shifted.
TEST(PlaybackWrite, WritesUntilDoneOrNoProgress)
{
    struct Case {
        const char* what;
        std::vector<long> writes;
        std::vector<int> recovers;
        uint32_t frames;
        int error;
        size_t write_calls;
        std::vector<int> recovered;
    };
    const Case cases[] = {
        {"the device takes it all", {}, {}, 1000, 0, 1, {}},
        {"short writes", {300, 1, 250}, {}, 1000, 0, 4, {}},
        {"underrun mid-song", {400, -EPIPE}, {}, 1000, 0, 3, {-EPIPE}},
        {"suspend mid-song", {400, -ESTRPIPE}, {}, 1000, 0, 3, {-ESTRPIPE}},
        {"every underrun between progress", {100, -EPIPE, 200, -EPIPE, 300}, {}, 1000, 0, 6, {-EPIPE, -EPIPE}},
        {"an error recovery does not handle", {400, -EIO}, {-EIO}, 400, -EIO, 2, {-EIO}},
        {"a recovery that fails", {400, -EPIPE}, {-ENODEV}, 400, -ENODEV, 2, {-EPIPE}},
        {"failing again straight after a recovery", {250, -EPIPE, -EPIPE, -EPIPE}, {}, 250, -EPIPE, 3, {-EPIPE}},
        {"a write that takes nothing", {500, 0}, {}, 500, -EIO, 2, {}},
    };
    // 1000 frames in which no two samples are equal.
    std::vector<int16_t> song(2000);
    for (size_t i = 0; i < song.size(); ++i) song[i] = static_cast<int16_t>(i * 7 - 7000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDevice device{c.writes, c.recovers, {}, {}};
        const pcm_write_result r = device.play(song);
        EXPECT_EQ(r.frames_written, c.frames);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(device.writes, c.write_calls);
        EXPECT_EQ(device.recovered_errors, c.recovered);
        EXPECT_EQ(device.received, std::vector<int16_t>(song.begin(), song.begin() + 2 * c.frames));
    }
}

std::string report_text(const pcm_write_result& result)
{
    testing::internal::CaptureStdout();
    report_playback(PlaybackResult{nullptr, 0, result});
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
