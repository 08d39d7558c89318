// songrender: renders the compiled-in song, writes ./output.wav and plays it
// once on the ALSA device "default". Takes no arguments.
#include <csignal>
#include <cstdio>
#include <ctime>

#include "driver/mix.h"
#include "driver/render.h"
#include "fx/mixdown.h"

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

    const MasterMix mix = mix_channels();
    return post_render(mix.samples, mix.peak, start);
}
