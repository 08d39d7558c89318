#include "output/alsa.h"

#include <alsa/asoundlib.h>

#include "base/timeline.h"

namespace {

constexpr unsigned int PLAYBACK_CHANNELS = 2;
constexpr unsigned int PLAYBACK_LATENCY_US = 500000;  // half a second queued ahead
constexpr int ALLOW_SOFT_RESAMPLE = 1;

// Writes the song, then waits for the device to play out what it still
// holds (about half a second), so the end of the song is not cut off.
pcm_write_result play_song(snd_pcm_t* pcm, const int16_t* samples, uint32_t frames, PlaybackRepeat repeat)
{
    pcm_write_result result;
    do {
        result = pcm_write_all(
            samples, frames,
            [pcm](const int16_t* from, uint32_t n) -> long { return snd_pcm_writei(pcm, from, n); },
            [pcm](int error) { return snd_pcm_recover(pcm, error, 0); });
    } while (repeat == PlaybackRepeat::forever && result.error == 0);
    if (result.error == 0) result.error = snd_pcm_drain(pcm);
    return result;
}

// libasound prints lines of its own on standard error for what it also
// returns as an error code; the caller reports that code once, in its words.
void quiet_library(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

const char* alsa_reason(int error) { return snd_strerror(error); }

PlaybackResult alsa_playback(const int16_t* samples, uint32_t count, PlaybackRepeat repeat)
{
    PlaybackResult result{nullptr, 0, {0, 0}};
    snd_pcm_t* pcm = nullptr;
    snd_lib_error_set_handler(quiet_library);
    int error = snd_pcm_open(&pcm, PLAYBACK_DEVICE, SND_PCM_STREAM_PLAYBACK, 0);
    if (error < 0) {
        result = {"cannot be opened for playback", error, {0, 0}};
    } else {
        error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                   PLAYBACK_CHANNELS, SAMPLE_RATE, ALLOW_SOFT_RESAMPLE,
                                   PLAYBACK_LATENCY_US);
        if (error < 0) result = {"cannot be set to 16-bit stereo at 44100 Hz", error, {0, 0}};
        else result.written = play_song(pcm, samples, count / 2, repeat);
        snd_pcm_close(pcm);
    }
    // The library keeps its parsed configuration cached for later opens; this
    // was the program's last, so hand the memory back.
    snd_config_update_free_global();
    return result;
}
