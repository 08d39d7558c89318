// What songtool and songasm (the assembler the build runs) share on the
// command line: the form of a command's arguments, the exit statuses and the
// `asm` command itself, so both assemble with the same messages.
#pragma once
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "song_findings.h"

constexpr int EXIT_INVALID = 1;  // invalid song data
constexpr int EXIT_FAILED = 1;   // a file that cannot be read or written
constexpr int EXIT_USAGE = 2;    // a usage error

// Songs are under 64 KiB as blocks; their text stays far below this.
constexpr size_t MAX_SONG_FILE_SIZE = size_t{4} << 20;

// False, with the reason, if the file cannot be read as a song: it is
// missing or unreadable, a folder, a FIFO or a device, or larger than
// MAX_SONG_FILE_SIZE.
bool read_file(const std::string& path, std::string& content, std::string& reason);

// A command's arguments: one SONG, `-o FILE` and flags.
struct Arguments {
    std::string song, output;
    std::vector<std::string> flags;
};
// Splits args[1..] (args[0] names the command) into one SONG, `-o FILE` when
// the command writes the file its usage calls `output` (empty: none), and
// the flags in `allowed`; false on anything else, with the reason in `error`.
bool parse_arguments(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                     const std::string& output, Arguments& parsed, std::string& error);
bool has_flag(const Arguments& a, const std::string& flag);

// Each finding on a line of its own, as compilers print errors.
void report_findings(const std::vector<Finding>& findings, std::ostream& err);

// Whether the song may go on: true unless a finding is an error, after
// `--werror` (werror) has made every warning one.
bool settle_findings(std::vector<Finding>& findings, bool werror);

// "songtool: cannot read PATH: REASON" on `err`; EXIT_FAILED.
int unreadable(const std::string& path, const std::string& reason, std::ostream& err);

// "songtool: cannot write PATH: REASON" on `err` for an errno value;
// false when there was something to say.
bool written(int error, const std::string& path, std::ostream& err);

// The whole of `bytes` as `path` (see output/draft.h): 0, or EXIT_FAILED
// after saying why not.
int write_output(const std::string& path, const std::string& bytes, std::ostream& err);

// True, after saying so, when `output` is the file `song` (however
// spelled): a command never writes over its own song. Also true when
// `output` is standard output on a terminal and the bytes are not text
// (`binary`), which would only garble it.
bool refuses_output(const std::string& command, const std::string& song, const std::string& output, bool binary,
                    std::ostream& err);

// `asm SONG.txt -o OUT [--cpp] [--werror]`: assembles the notation in
// a.song and writes the block to a.output, as C++ source defining tarq_data
// with --cpp. Reports errors and warnings on `err`; returns the exit status.
int assemble_command(const Arguments& a, std::ostream& err);
