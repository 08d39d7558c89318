// Playback of the finished song on the ALSA device "default".
#pragma once
#include <cerrno>
#include <cstddef>
#include <cstdint>

constexpr const char* PLAYBACK_DEVICE = "default";

// How a playback ended: the frames the device took, and the ALSA error
// (negative) that stopped it, or 0 when every frame went through.
struct pcm_write_result {
    uint32_t frames_written;
    int error;
};

// What became of a playback: the device refused to open or to take the
// format (`problem` says which, with ALSA's `error`), or it played until
// `written` says how far.
struct PlaybackResult {
    const char* problem;  // null once the device was set up
    int error;
    pcm_write_result written;
};

// Once, or over and over without a gap until the device fails or the
// process is interrupted (`written` then counts the last pass).
enum class PlaybackRepeat { once, forever };

// samples: interleaved stereo 16-bit; count: number of samples (twice the
// frames). Plays the whole song on the device "default" and waits until
// the device has played it out.
PlaybackResult alsa_playback(const int16_t* samples, uint32_t count,
                             PlaybackRepeat repeat = PlaybackRepeat::once);

// ALSA's text for an error code.
const char* alsa_reason(int error);

// Hands frame_count interleaved stereo frames to the device until it has
// taken them all. write(from, n) returns how many of the n frames it took or
// a negative ALSA error; after an error (an underrun, a suspend)
// recover(error) restarts the stream and returns 0, or returns the error
// that ends playback. A write that fails again straight after a recovery,
// or takes nothing at all, ends playback too, so a dead device cannot keep
// the loop spinning.
template <typename Write, typename Recover>
pcm_write_result pcm_write_all(const int16_t* samples, uint32_t frame_count, Write write,
                               Recover recover)
{
    uint32_t written = 0;
    bool just_recovered = false;
    while (written < frame_count) {
        const long taken = write(samples + 2 * std::size_t{written}, frame_count - written);
        if (taken > 0) {
            written += static_cast<uint32_t>(taken);
            just_recovered = false;
            continue;
        }
        if (taken == 0) return {written, -EIO};  // a blocking write never takes nothing
        const int error = static_cast<int>(taken);
        if (just_recovered) return {written, error};
        const int recovered = recover(error);
        if (recovered < 0) return {written, recovered};
        just_recovered = true;
    }
    return {written, 0};
}
