// songrender: renders the compiled-in song, writes ./output.wav and plays it
// once on the ALSA device "default". Takes no arguments.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "data/tables.h"
#include "driver/mix.h"
#include "driver/playback.h"
#include "fx/mixdown.h"
#include "output/wave.h"

namespace {

constexpr const char* OUTPUT_PATH = "./output.wav";

void say(const char* text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// "Processing channel k: " with the channel's effects as it starts, and the
// line's end when it is through.
void on_progress(void*, MixStage stage, int k, uint32_t done, uint32_t total)
{
    if (stage != MixStage::channel) return;
    if (done == 0) {
        std::printf("Processing channel %d: ", k);
        if (channel_has_delay(tarq_sounds, k)) std::fputs("delay | ", stdout);
        if (channel_has_reverb(tarq_sounds, k)) std::fputs("reverb", stdout);
        std::fflush(stdout);
    }
    if (done == total) say("\n");
}

// A fault that leaves the mix impossible: on standard output after any open
// progress line, and on standard error.
int report_fault(const Fault& fault)
{
    std::printf("\nError: %s\n", fault.message);
    std::fflush(stdout);
    std::fprintf(stderr, "songrender: %s\n", fault.message);
    return EXIT_FAILURE;
}

// Normalisation, the WAV file and playback. Returns the exit status.
int finish_song(MasterMix& mix, std::clock_t start)
{
    // The equaliser has followed the last channel's mix already.
    say("\nProcessing master EQ...\n");
    say("Normalising track...\n\n");
    const int16_t* song = master_to_song(mix.samples, mix.length, mix.peak);

    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("Done! Took %.2f seconds to complete.\n\n", seconds);

    say("Building wave file...\n");
    const WaveProgress progress{[](void*) { say("Writing to output file...\n"); }, nullptr};
    const int error = wave_write_pcm(OUTPUT_PATH, song, mix.length, progress);
    if (error == 0) {
        say("Successfully written! (Maybe, there's no error checking.)\n");
    } else {
        std::printf("Error: could not write %s: %s\n", OUTPUT_PATH, std::strerror(error));
        std::fflush(stdout);
        std::fprintf(stderr, "songrender: could not write %s: %s\n", OUTPUT_PATH, std::strerror(error));
    }

    say("It's playback time!\n\n");
    play_and_report(song, mix.length);
    mix_release(mix);
    return error == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main()
{
    // A file-size limit should fail the write with an error we can report,
    // not kill the program.
    std::signal(SIGXFSZ, SIG_IGN);

    std::puts("Let's build a song!");
    std::printf("Total samples: %d\n\n", static_cast<int>(SONG_SAMPLES));
    const std::clock_t start = std::clock();
    std::puts("Starting synthesis (this can take a little time)...\n");
    std::fflush(stdout);

    MixOptions options{tarq_data, &tarq_sounds};
    options.progress = on_progress;
    MasterMix mix{};
    Fault fault;
    if (!mix_channels(options, mix, fault)) return report_fault(fault);
    return finish_song(mix, start);
}
