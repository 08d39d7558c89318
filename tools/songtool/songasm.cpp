// songasm: songtool's `asm` command on its own, for the build to turn the
// song's notation into the compiled-in block. It needs neither the engine
// nor cairo, so a cross build runs only this small program under emulation.
#include <iostream>

#include "command_line.h"

int main(int argc, char** argv)
{
    Arguments a;
    std::string error;
    if (!parse_arguments(std::vector<std::string>(argv, argv + argc), {"--cpp", "--werror"}, "OUT", a, error)) {
        std::cerr << "songasm: " << error << "\n"
                     "usage: songasm SONG.txt -o OUT [--cpp] [--werror]   assemble as songtool asm does"
                     " (--cpp: as C++ source)\n";
        return EXIT_USAGE;
    }
    return assemble_command(a, std::cerr);
}
