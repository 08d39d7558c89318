// songtool studio: a page in the browser for writing one song, served by
// the tool itself. It edits the song's text with its findings marked, draws
// the roll, plays excerpts (solo, mute, loop) rendered on the engine and
// saves the text; a JSON API under the page serves scripts as well.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

struct StudioOptions {
    std::string song;
    std::string listen = "127.0.0.1";
    int port = 8080;  // 0: any free port
};

// Reads the arguments after "studio"; false with the reason on a usage error.
bool parse_studio_arguments(const std::vector<std::string>& args, StudioOptions& options, std::string& error);

// Serves the page until SIGINT or SIGTERM, saying on `err` where; returns
// 0 then, EXIT_FAILED when SONG cannot be read or made, or EXIT_USAGE when
// it is a block or the address cannot be had.
int run_studio(const StudioOptions& options, std::ostream& err);
