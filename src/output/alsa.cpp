#include "output/alsa.h"

#include <alsa/asoundlib.h>

#include <cstdio>

#include "driver/render.h"

namespace {

constexpr const char* PLAYBACK_DEVICE = "default";
constexpr unsigned int PLAYBACK_CHANNELS = 2;
constexpr unsigned int PLAYBACK_LATENCY_US = 500000;  // half a second queued ahead
constexpr int ALLOW_SOFT_RESAMPLE = 1;

void report_failure(const char* problem, int error)
{
    std::printf("Error: ALSA device \"%s\": %s: %s\n", PLAYBACK_DEVICE, problem, snd_strerror(error));
}

// Writes the song, then waits for the device to play out what it still
// holds (about half a second), so the end of the song is not cut off.
pcm_write_result play_song(snd_pcm_t* pcm, const int16_t* samples, uint32_t frames)
{
    pcm_write_result result = pcm_write_all(
        samples, frames,
        [pcm](const int16_t* from, uint32_t n) -> long { return snd_pcm_writei(pcm, from, n); },
        [pcm](int error) { return snd_pcm_recover(pcm, error, 0); });
    if (result.error == 0) result.error = snd_pcm_drain(pcm);
    return result;
}

}  // namespace

void report_playback(const pcm_write_result& result)
{
    std::printf("Total processed frames: %d\n", static_cast<int>(result.frames_written));
    if (result.error < 0) report_failure("playback failed", result.error);
    else std::puts("Playback complete. Bye!");
}

void alsa_playback(const int16_t* samples, uint32_t count)
{
    snd_pcm_t* pcm = nullptr;
    int error = snd_pcm_open(&pcm, PLAYBACK_DEVICE, SND_PCM_STREAM_PLAYBACK, 0);
    if (error < 0) {
        report_failure("cannot be opened for playback", error);
    } else {
        error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                   PLAYBACK_CHANNELS, SAMPLE_RATE, ALLOW_SOFT_RESAMPLE,
                                   PLAYBACK_LATENCY_US);
        if (error < 0) report_failure("cannot be set to 16-bit stereo at 44100 Hz", error);
        else report_playback(play_song(pcm, samples, count / 2));
        snd_pcm_close(pcm);
    }
    // The library keeps its parsed configuration cached for later opens; this
    // was the program's last, so hand the memory back.
    snd_config_update_free_global();
}
