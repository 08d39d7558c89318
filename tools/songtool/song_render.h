// songtool render: a song rendered by the engine songrender uses, with
// channels soloed or muted, a shorter length, stems and playback.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/mix.h"

struct RenderRequest {
    std::string song, output, stems_dir;
    uint32_t frames = SONG_FRAMES;
    bool in_master[CHANNEL_COUNT] = {true, true, true, true, true, true, true, true};
    bool play = false;
    bool show_progress = false;  // a progress bar on standard error
};

// Reads the arguments after "render"; false with a message in `error` on a
// usage error.
bool parse_render_arguments(const std::vector<std::string>& args, RenderRequest& request,
                            std::string& error);

// Renders `block` (a valid song) with `sounds` as songrender would if both
// were compiled in, and writes and plays what the request asks for. Returns 0, or 1 after
// reporting on `err` a file that could not be written.
int render_song(const std::vector<uint8_t>& block, const Sounds& sounds, const RenderRequest& request,
                std::ostream& err);
