#include "songtool.h"

#include <unistd.h>

#include <algorithm>
#include <ostream>

#include "command_line.h"
#include "output/draft.h"
#include "song_asm.h"
#include "song_check.h"
#include "song_disasm.h"
#include "song_findings.h"
#include "song_info.h"
#include "song_lint.h"
#include "song_render.h"
#include "song_roll.h"
#include "song_sounds.h"
#include "studio.h"

namespace {

// Each command's part of the usage text; a part's later lines are indented
// to sit under the full text's first.
struct CommandUsage {
    const char* command;
    const char* lines;
};
constexpr CommandUsage COMMAND_USAGES[] = {
    {"asm", "songtool asm SONG.txt -o OUT [--cpp] [--werror]\n"
            "                                              assemble (--cpp: as C++ source)\n"},
    {"disasm", "songtool disasm SONG                   print the song in notation\n"},
    {"check", "songtool check SONG [--json] [--werror]\n"
              "                                              check the song's rules and warn of slips\n"
              "                                              (--json: findings as a JSON list on\n"
              "                                              standard output; --werror: warnings fail)\n"},
    {"info", "songtool info SONG [--json]            the timeline and a per-channel summary\n"},
    {"sounds", "songtool sounds SONG [--json]          the song's instruments, mix, presets and\n"
               "                                              equaliser, with what they mean in time\n"},
    {"roll", "songtool roll SONG -o ROLL.svg|.png    draw the song as a piano roll\n"
             "                                              (-o -: SVG, or PNG with --png, on standard\n"
             "                                              output)\n"},
    {"render", "songtool render SONG -o OUT.wav [--play | --loop] [--solo 0,3] [--mute 7]\n"
               "                       [--normalise song|self] [--stems DIR] [--werror]\n"
               "                       [--frames N | --seconds S | --from A --to B]\n"
               "                                              render as songrender would (--stems: a\n"
               "                                              32-bit float DIR/channel-K.wav per channel;\n"
               "                                              A, B: bar 41, bar and beat 41.3, time 1:23.5,\n"
               "                                              B also end; --loop: play until Ctrl-C)\n"},
    {"studio", "songtool studio SONG [--port N] [--listen ADDRESS]\n"
               "                                              edit, check, draw and play the song in a\n"
               "                                              browser at the address it prints (SONG is\n"
               "                                              notation, made if missing; port 8080, 0:\n"
               "                                              any free one; beyond 127.0.0.1 it asks for\n"
               "                                              the token in its address); Ctrl-C stops it\n"},
    {"--version", "songtool --version                     print the version\n"},
    {"help", "songtool help | --help | -h             print this text; after a command (asm --help)\n"
             "                                              print that command's part of it\n"},
};
constexpr const char* SONG_IS = "SONG is a song in the notation or an assembled block; -o - writes to standard output.\n";

std::string usage()
{
    std::string text;
    for (const CommandUsage& u : COMMAND_USAGES) text += (text.empty() ? "usage: " : "       ") + std::string(u.lines);
    return text + SONG_IS;
}

const CommandUsage* usage_of(const std::string& command)
{
    for (const CommandUsage& u : COMMAND_USAGES)
        if (u.command == command) return &u;
    return nullptr;
}

bool asks_for_help(const std::string& arg) { return arg == "--help" || arg == "-h"; }

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
    SongMarks marks;  // a block has no pick-up or bar lines
    std::vector<Finding> findings;
    bool from_notation = false;
};

// False if the file cannot be read (reported on `err`).
bool load_song(const std::string& path, LoadedSong& song, std::ostream& err)
{
    std::string content, reason;
    if (!read_file(path, content, reason)) return unreadable(path, reason, err), false;
    song.from_notation = is_notation(content);
    if (song.from_notation) {
        assemble_song(content, path, song.block, song.sounds, song.marks, song.findings);
        return true;
    }
    song.block.assign(content.begin(), content.end());
    for (const SongError& e : check_song(song.block.data(), song.block.size()))
        song.findings.push_back({path, 0, 0, true, e});
    if (song.findings.empty())
        for (const SongWarning& w : lint_song(song.block.data(), song.block.size(), song.marks))
            song.findings.push_back({path, 0, 0, true, w.error, true});
    return true;
}

int disassemble(const LoadedSong& song, const std::string& path, std::ostream& out,
                std::ostream& err)
{
    // A block is written out broken or not; notation must assemble first.
    if (song.from_notation && has_errors(song.findings)) return report_findings(song.findings, err), EXIT_INVALID;
    std::string text, error;
    if (!disassemble_song(song.block.data(), song.block.size(), text, error))
        return err << path << ": error: " << error << '\n', EXIT_INVALID;
    out << text;
    return 0;
}

int check(LoadedSong& song, const Arguments& a, std::ostream& out, std::ostream& err)
{
    const bool valid = settle_findings(song.findings, has_flag(a, "--werror"));
    if (has_flag(a, "--json")) return out << findings_json(song.findings), valid ? 0 : EXIT_INVALID;
    report_findings(song.findings, err);
    if (valid) out << a.song << ": valid song, " << song.block.size() << " bytes\n";
    return valid ? 0 : EXIT_INVALID;
}

int render(const std::vector<std::string>& args, std::ostream& err)
{
    RenderRequest request;
    std::string error;
    if (!parse_render_arguments(args, request, error))
        return err << "songtool: render: " << error << '\n' << usage(), EXIT_USAGE;
    if (!request.output.empty() && refuses_output("render", request.song, request.output, true, err))
        return EXIT_USAGE;
    LoadedSong song;
    if (!load_song(request.song, song, err)) return EXIT_FAILED;
    const bool valid = settle_findings(song.findings, request.werror);
    report_findings(song.findings, err);
    if (!valid) return EXIT_INVALID;
    if (wants_excerpt(request)) {
        const SongTimeline timeline = song_timeline(song.block.data(), song.block.size(), song.marks);
        if (!excerpt_span(request, timeline, request.span, error))
            return err << "songtool: render: " << error << '\n' << usage(), EXIT_USAGE;
    }
    request.show_progress = isatty(STDERR_FILENO) == 1;
    return render_song(song.block, song.sounds.sounds, request, err);
}

int roll(const LoadedSong& song, const Arguments& a, std::ostream& err)
{
    RollFormat format = has_flag(a, "--png") ? RollFormat::png : RollFormat::svg;
    if (a.output != STANDARD_OUTPUT && has_flag(a, "--png"))
        return err << "songtool: roll: --png is for -o -; a file's name gives its format\n", EXIT_USAGE;
    const bool named_format = a.output == STANDARD_OUTPUT || roll_format_of(a.output, format);
    if (refuses_output("roll", a.song, a.output, format == RollFormat::png, err)) return EXIT_USAGE;
    if (!named_format)
        return err << "songtool: the roll's file must end in .svg or .png: " << a.output << '\n', EXIT_USAGE;
    const Roll r = observe_song_roll(song.block, song.sounds, song.marks);
    std::string picture, error;
    if (!draw_roll(r, a.song, format, picture, error)) return err << "songtool: " << error << '\n', EXIT_USAGE;
    if (r.cut)
        err << "songtool: roll: drawn up to tick " << r.end_tick << " only: a roll shows at most "
            << ROLL_MAX_TICKS / ROLL_TICKS_PER_BAR << " bars and " << ROLL_MAX_EVENTS << " notes, hits and marks\n";
    return write_output(a.output, picture, err);
}

int studio(const std::vector<std::string>& args, std::ostream& err)
{
    StudioOptions options;
    std::string error;
    if (!parse_studio_arguments(args, options, error))
        return err << "songtool: studio: " << error << '\n' << usage(), EXIT_USAGE;
    return run_studio(options, err);
}

}  // namespace

int songtool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.empty()) return err << usage(), EXIT_USAGE;
    const std::string& command = args[0];
    if (args.size() == 1 && command == "--version") return out << "songtool " SONGTOOL_VERSION "\n", 0;
    if (args.size() == 1 && (command == "help" || asks_for_help(command))) return out << usage(), 0;
    const CommandUsage* command_usage = usage_of(command);
    if (command_usage && std::any_of(args.begin() + 1, args.end(), asks_for_help))
        return out << "usage: " << command_usage->lines << SONG_IS, 0;
    if (command == "render") return render(args, err);
    if (command == "studio") return studio(args, err);
    Arguments a;
    const std::string output = command == "asm" ? "OUT" : command == "roll" ? "ROLL.svg|.png" : "";
    const std::vector<std::string> flags = command == "asm"     ? std::vector<std::string>{"--cpp", "--werror"}
                                           : command == "check" ? std::vector<std::string>{"--json", "--werror"}
                                           : command == "roll"  ? std::vector<std::string>{"--png"}
                                           : command == "sounds" || command == "info"
                                               ? std::vector<std::string>{"--json"}
                                               : std::vector<std::string>{};
    const bool known = !output.empty() || command == "disasm" || command == "check" || command == "info" ||
                       command == "sounds";
    if (!known) return err << usage(), EXIT_USAGE;
    std::string error;
    if (!parse_arguments(args, flags, output, a, error))
        return err << "songtool: " << command << ": " << error << '\n' << usage(), EXIT_USAGE;
    if (command == "asm") return assemble_command(a, err);

    LoadedSong song;
    if (!load_song(a.song, song, err)) return EXIT_FAILED;
    if (command == "disasm") return disassemble(song, a.song, out, err);
    if (command == "check") return check(song, a, out, err);
    if (has_errors(song.findings)) return report_findings(song.findings, err), EXIT_INVALID;
    if (command == "info")
        out << song_info(song.block.data(), song.block.size(), song.marks, song.sounds.channel_names,
                         has_flag(a, "--json"));
    else if (command == "sounds") out << describe_sounds(song.sounds, has_flag(a, "--json"));
    else return roll(song, a, err);
    return 0;
}
