#include "song_probes.h"

#include <algorithm>
#include <array>
#include <memory>
#include <unordered_set>
#include <vector>

#include "command_line.h"
#include "data/tables.h"
#include "driver/render.h"
#include "song_asm.h"
#include "song_check.h"
#include "song_disasm.h"
#include "song_render.h"

namespace {

constexpr const char* FILENAME = "fuzz.txt";

// Ticks played at the song's own tempo, every frame of every voice as the
// render runs them (at most MAX_TEMPO_FRAMES frames), then ticks played one
// per frame to reach deeper into the song.
constexpr int TEMPO_TICKS = 4;
constexpr int MAX_TEMPO_FRAMES = 4 * (14 * 255 + 1);
constexpr int FAST_TICKS = 2000;

// What the interpreter's event hook saw going wrong. Thrown out of the hook:
// a stalled channel would otherwise never return from its tick.
struct BrokenPlay {
    std::string what;
};

struct PlayWatch {
    size_t size;
    // (position, return address) of every event each channel read this tick.
    std::array<std::unordered_set<uint32_t>, CHANNEL_COUNT> read_this_tick;
};

[[noreturn]] void broken_play(int c, uint16_t pos, const std::string& what)
{
    throw BrokenPlay{"channel " + std::to_string(c) + " at offset " + std::to_string(pos) + " " + what};
}

void watch_event(void* context, const Tarq& t, int c, uint16_t pos)
{
    PlayWatch& watch = *static_cast<PlayWatch*>(context);
    if (pos >= watch.size) broken_play(c, pos, "reads outside the block of " + std::to_string(watch.size) + " bytes");
    if (t.loops_active[c] > TARQ_LOOP_LEVELS)
        broken_play(c, pos, "has " + std::to_string(t.loops_active[c]) + " loops open");
    // Checked data takes time on every way back to an event, so a second
    // read in one tick is a channel that would never leave the tick.
    if (!watch.read_this_tick[c].insert(uint32_t{pos} << 16 | t.pointer_location[c]).second)
        broken_play(c, pos, "reads the same event twice in one tick");
}

void next_tick(PlayWatch& watch)
{
    for (auto& read : watch.read_this_tick) read.clear();
}

// A block that check_song accepted, played by the engine's frame loop with
// every channel heard.
std::string play_checked_block(const uint8_t* block, size_t size)
{
    PlayWatch watch{size, {}};
    auto engine = std::make_unique<Engine>();
    engine_start(*engine, block, default_sounds.instrument_bank, EVERY_CHANNEL);
    engine->tarq.tarq_event_hook = watch_event;
    engine->tarq.tarq_event_context = &watch;
    int16_t out[CHANNEL_COUNT][2];
    try {
        for (int ticks = 0, frames = 0; ticks < TEMPO_TICKS && frames < MAX_TEMPO_FRAMES; ++frames) {
            if (engine->tarq.tick_counter == 0) ++ticks, next_tick(watch);
            engine_frame(*engine, 0, DRUM_CHANNEL, out);
        }
        for (int ticks = 0; ticks < FAST_TICKS; ++ticks) {
            engine->tarq.tick_counter = 0;
            next_tick(watch);
            engine_frame(*engine, 0, DRUM_CHANNEL, out);
        }
    } catch (const BrokenPlay& broken) {
        return "checked block plays wrong: " + broken.what;
    }
    return {};
}

// The disassembler writes out every block that holds its offset table, in
// notation that assembles to the same bytes.
std::string round_trip(const std::vector<uint8_t>& block)
{
    std::string text, error;
    if (!disassemble_song(block.data(), block.size(), text, error))
        return block.size() >= SONG_HEADER_SIZE ? "disassembler refuses a block of " + std::to_string(block.size()) +
                                                      " bytes: " + error
               : error.empty()                  ? "disassembler refuses a short block without a reason"
                                                : std::string{};
    std::vector<uint8_t> again;
    std::vector<std::string> errors;
    if (!assemble_notation(text, FILENAME, again, errors))
        return "disassembly does not assemble: " + (errors.empty() ? std::string{} : errors[0]) + "\n" + text;
    if (again != block) return "disassembly assembles to other bytes:\n" + text;
    return {};
}

// "fuzz.txt:LINE:COLUMN: error: MESSAGE" or "...: warning: MESSAGE".
bool compiler_form(const std::string& message)
{
    return message.rfind(std::string(FILENAME) + ":", 0) == 0 &&
           (message.find(": error: ") != std::string::npos || message.find(": warning: ") != std::string::npos);
}

std::string findings_broken(const std::vector<Finding>& findings, bool accepted)
{
    for (const Finding& f : findings)
        if (!compiler_form(format_finding(f)) || f.error.message.empty())
            return "finding not in the compiler's form: " + format_finding(f);
    if (accepted == has_errors(findings))
        return accepted ? "accepted with an error: " + format_finding(findings[0]) : "rejected without an error";
    return {};
}

std::vector<std::string> lines_of(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') lines.emplace_back();
        else lines.back() += static_cast<char>(data[i]);
    }
    return lines;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::string command_arguments_broken(const std::vector<std::string>& args)
{
    const std::vector<std::string> allowed = {"--cpp", "--json", "--werror"};
    const std::string output = args[0] == "asm" ? "OUT" : "";
    Arguments parsed;
    std::string error;
    if (!parse_arguments(args, allowed, output, parsed, error))
        return error.empty() ? "parse_arguments refuses without a reason" : std::string{};
    if (!error.empty()) return "parse_arguments accepts with an error: " + error;
    if (parsed.song.empty() || parsed.song[0] == '-' || !contains(args, parsed.song))
        return "parse_arguments takes '" + parsed.song + "' for the song";
    if (output.empty() != parsed.output.empty()) return "parse_arguments gets -o '" + parsed.output + "' wrong";
    for (const std::string& flag : parsed.flags)
        if (!contains(allowed, flag)) return "parse_arguments takes the flag '" + flag + "'";
    return {};
}

std::string render_arguments_broken(const std::vector<std::string>& args)
{
    RenderRequest request;
    std::string error;
    if (!parse_render_arguments(args, request, error))
        return error.empty() ? "parse_render_arguments refuses without a reason" : std::string{};
    if (request.song.empty() || !contains(args, request.song))
        return "parse_render_arguments takes '" + request.song + "' for the song";
    if (request.output.empty() && !request.play) return "parse_render_arguments renders for nobody";
    if (request.frames < 1 || request.frames > SONG_FRAMES)
        return "parse_render_arguments renders " + std::to_string(request.frames) + " frames";
    return {};
}

}  // namespace

std::string probe_song_block(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> block(data, data + size);
    std::string broken = round_trip(block);
    if (!broken.empty()) return broken;
    const std::vector<SongError> errors = check_song(block.data(), block.size());
    for (const SongError& e : errors)
        if (e.message.empty() || e.rule.empty()) return "check_song reports an error without a rule or message";
    return errors.empty() ? play_checked_block(block.data(), block.size()) : std::string{};
}

std::string probe_notation(const uint8_t* data, size_t size)
{
    const std::string text(data, data + size);
    std::vector<uint8_t> block;
    SongSounds sounds;
    std::vector<Finding> findings;
    const bool accepted = assemble_song(text, FILENAME, block, sounds, findings);
    std::string broken = findings_broken(findings, accepted);
    if (!broken.empty() || !accepted) return broken;
    const std::vector<SongError> errors = check_song(block.data(), block.size());
    if (!errors.empty()) return "assembled song fails the check: " + format_song_error(errors[0]);
    broken = round_trip(block);
    return broken.empty() ? play_checked_block(block.data(), block.size()) : broken;
}

std::string probe_sound_sections(const uint8_t* data, size_t size)
{
    const std::string text(data, data + size);
    SongSounds over_defaults;
    std::vector<Finding> findings;
    std::string broken = findings_broken(findings, assemble_sounds(text, FILENAME, over_defaults, findings));
    if (!broken.empty()) return "over the defaults: " + broken;
    SongSounds as_defaults;
    findings.clear();
    broken = findings_broken(findings, assemble_default_sounds(text, FILENAME, as_defaults, findings));
    return broken.empty() ? broken : "as the defaults file: " + broken;
}

std::string probe_command_line(const uint8_t* data, size_t size)
{
    const std::vector<std::string> args = lines_of(data, size);
    const std::string broken = command_arguments_broken(args);
    return broken.empty() ? render_arguments_broken(args) : broken;
}
