#include "driver/playback.h"

#include <cstdio>

namespace {

void report_failure(const char* problem, int error)
{
    std::printf("Error: ALSA device \"%s\": %s: %s\n", PLAYBACK_DEVICE, problem, alsa_reason(error));
}

}  // namespace

void report_playback(const PlaybackResult& result)
{
    if (result.problem != nullptr) {
        report_failure(result.problem, result.error);
        return;
    }
    std::printf("Total processed frames: %d\n", static_cast<int>(result.written.frames_written));
    if (result.written.error < 0) report_failure("playback failed", result.written.error);
    else std::puts("Playback complete. Bye!");
}

void play_and_report(const int16_t* samples, uint32_t count, PlaybackRepeat repeat)
{
    report_playback(alsa_playback(samples, count, repeat));
    std::fflush(stdout);
}
