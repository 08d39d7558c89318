#include "songtool.h"

#include <unistd.h>

#include <algorithm>
#include <ostream>

#include "command_line.h"
#include "song_asm.h"
#include "song_check.h"
#include "song_disasm.h"
#include "song_findings.h"
#include "song_info.h"
#include "song_render.h"
#include "song_roll.h"
#include "song_sounds.h"

namespace {

const char* const USAGE =
    "usage: songtool asm SONG.txt -o OUT [--cpp]   assemble (--cpp: as C++ source)\n"
    "       songtool disasm SONG                   print the song in notation\n"
    "       songtool check SONG [--json]           check the song's rules (--json: findings\n"
    "                                              as a JSON list on standard output)\n"
    "       songtool info SONG                     per-channel summary and timing\n"
    "       songtool sounds SONG [--json]          the song's instruments, mix, presets and\n"
    "                                              equaliser, with what they mean in time\n"
    "       songtool roll SONG -o ROLL.svg|.png    draw the song as a piano roll\n"
    "       songtool render SONG -o OUT.wav [--play | --loop] [--solo 0,3] [--mute 7]\n"
    "                       [--normalise song|self] [--stems DIR]\n"
    "                       [--frames N | --seconds S | --from A --to B]\n"
    "                                              render as songrender would (--stems: a\n"
    "                                              32-bit float DIR/channel-K.wav per channel;\n"
    "                                              A, B: bar 41, bar and beat 41.3, time 1:23.5,\n"
    "                                              B also end; --loop: play until Ctrl-C)\n"
    "       songtool --version                     print the version\n"
    "SONG is a song in the notation or an assembled block.\n";

// Notation is text; a block's offset table and rests are control bytes.
bool is_notation(const std::string& content)
{
    return std::none_of(content.begin(), content.end(), [](char ch) {
        const auto b = static_cast<unsigned char>(ch);
        return (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F;
    });
}

// A song file read as notation (assembled and checked) or as a block
// (checked): its block, its sounds (the defaults for a block) and what is
// wrong with it.
struct LoadedSong {
    std::vector<uint8_t> block;
    SongSounds sounds;
    std::vector<Finding> findings;
    bool from_notation = false;
};

// False if the file cannot be read (reported on `err`).
bool load_song(const std::string& path, LoadedSong& song, std::ostream& err)
{
    std::string content;
    if (!read_file(path, content)) {
        err << "songtool: cannot read " << path << '\n';
        return false;
    }
    song.from_notation = is_notation(content);
    if (song.from_notation) {
        assemble_song(content, path, song.block, song.sounds, song.findings);
        return true;
    }
    song.block.assign(content.begin(), content.end());
    for (const SongError& e : check_song(song.block.data(), song.block.size()))
        song.findings.push_back({path, 0, 0, true, e});
    return true;
}

int disassemble(const LoadedSong& song, const std::string& path, std::ostream& out,
                std::ostream& err)
{
    // A block is written out broken or not; notation must assemble first.
    if (song.from_notation && !song.findings.empty()) return report_findings(song.findings, err), EXIT_INVALID;
    std::string text, error;
    if (!disassemble_song(song.block.data(), song.block.size(), text, error))
        return err << path << ": error: " << error << '\n', EXIT_INVALID;
    out << text;
    return 0;
}

int check(const LoadedSong& song, const Arguments& a, std::ostream& out, std::ostream& err)
{
    if (has_flag(a, "--json")) out << findings_json(song.findings);
    else if (!song.findings.empty()) report_findings(song.findings, err);
    else out << a.song << ": valid song, " << song.block.size() << " bytes\n";
    return song.findings.empty() ? 0 : EXIT_INVALID;
}

int render(const std::vector<std::string>& args, std::ostream& err)
{
    RenderRequest request;
    std::string error;
    if (!parse_render_arguments(args, request, error))
        return err << "songtool: render: " << error << '\n' << USAGE, EXIT_USAGE;
    LoadedSong song;
    if (!load_song(request.song, song, err)) return EXIT_USAGE;
    if (!song.findings.empty()) return report_findings(song.findings, err), EXIT_INVALID;
    if (wants_excerpt(request)) {
        const SongTimeline timeline = song_timeline(song.block.data(), song.block.size(), SongMarks{});
        if (!excerpt_span(request, timeline, request.span, error))
            return err << "songtool: render: " << error << '\n' << USAGE, EXIT_USAGE;
    }
    request.show_progress = isatty(STDERR_FILENO) == 1;
    return render_song(song.block, song.sounds.sounds, request, err);
}

int roll(const LoadedSong& song, const Arguments& a, std::ostream& err)
{
    const Roll r = observe_roll(song.block.data(), song.block.size(), song.sounds.sounds);
    std::string error;
    if (!draw_roll(r, a.song, a.output, error)) return err << "songtool: " << error << '\n', EXIT_USAGE;
    return 0;
}

}  // namespace

int songtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) return err << USAGE, EXIT_USAGE;
    const std::string& command = args[0];
    if (args.size() == 1 && command == "--version") return out << "songtool " SONGTOOL_VERSION "\n", 0;
    if (command == "render") return render(args, err);
    Arguments a;
    const bool takes_output = command == "asm" || command == "roll";
    const std::vector<std::string> flags = command == "asm"     ? std::vector<std::string>{"--cpp"}
                                           : command == "check" || command == "sounds"
                                               ? std::vector<std::string>{"--json"}
                                                                : std::vector<std::string>{};
    const bool known = takes_output || command == "disasm" || command == "check" || command == "info" ||
                       command == "sounds";
    if (!known || !parse_arguments(args, flags, takes_output, a)) return err << USAGE, EXIT_USAGE;
    if (command == "asm") return assemble_command(a, err);

    LoadedSong song;
    if (!load_song(a.song, song, err)) return EXIT_USAGE;
    if (command == "disasm") return disassemble(song, a.song, out, err);
    if (command == "check") return check(song, a, out, err);
    if (!song.findings.empty()) return report_findings(song.findings, err), EXIT_INVALID;
    if (command == "info") out << song_info(song.block.data(), song.block.size(), song.sounds.sounds);
    else if (command == "sounds") out << describe_sounds(song.sounds, has_flag(a, "--json"));
    else return roll(song, a, err);
    return 0;
}
