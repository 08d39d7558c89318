#include "song_asm.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <optional>
#include <string_view>

#include "notation.h"
#include "song/bytecode.h"
#include "song_findings.h"

namespace {

constexpr size_t MAX_ERRORS = 50;

struct Loc {
    int line = 0;  // 0 = no source position
    int column = 0;
};

enum class SectionKind { none, channel, pattern, data };

struct OpenLoop {
    size_t count_at;  // position of the loop_start operand, filled at ']'
    Loc loc;
};

struct Section {
    SectionKind kind = SectionKind::none;
    Loc loc;
    int default_length = 2;  // length code of a quarter note
    int octave = -1;         // last octave set in the text, -1 = none yet
    std::vector<OpenLoop> loops;
};

struct CallFixup {
    size_t operand_at;
    std::string name;
    Loc loc;
};

struct Assembler {
    std::string filename;
    std::vector<uint8_t> block = std::vector<uint8_t>(SONG_HEADER_SIZE, 0);
    std::vector<Loc> byte_loc = std::vector<Loc>(SONG_HEADER_SIZE);
    std::array<std::optional<uint16_t>, SONG_TABLE_ENTRIES> entries;
    std::array<Loc, SONG_TABLE_ENTRIES> entry_loc;
    std::map<std::string, int> pattern_numbers;
    std::vector<CallFixup> calls;
    std::vector<Finding> errors;
    Section section;
    bool trailer = true;

    // Current line being read.
    std::string_view line;
    int line_number = 0;
    size_t at = 0;

    Loc here() const { return {line_number, static_cast<int>(at) + 1}; }

    void error(Loc loc, const std::string& message)
    {
        report({filename, loc.line, loc.column, false, {{}, 0, "notation", message}});
    }

    void report(const Finding& finding)
    {
        if (errors.size() < MAX_ERRORS) errors.push_back(finding);
    }

    void emit(uint8_t byte, Loc loc)
    {
        block.push_back(byte);
        byte_loc.push_back(loc);
    }

    // ---- scanning ----

    char peek() const { return at < line.size() ? line[at] : '\0'; }

    void skip_blanks()
    {
        while (at < line.size() && (std::isspace(static_cast<unsigned char>(line[at])) ||
                                    line[at] == '|'))
            ++at;
    }

    std::string word()
    {
        const size_t start = at;
        while (at < line.size() &&
               (std::isalnum(static_cast<unsigned char>(line[at])) || line[at] == '_'))
            ++at;
        return std::string(line.substr(start, at - start));
    }

    static bool is_name(const std::string& w)
    {
        return !w.empty() && (std::isalpha(static_cast<unsigned char>(w[0])) || w[0] == '_');
    }

    // A decimal number (optionally signed) or, with `hex_ok`, 0x... hex.
    // Reports and returns nullopt if there is none or it is outside lo..hi.
    std::optional<long> number(long lo, long hi, const char* what, bool hex_ok = false)
    {
        const Loc loc = here();
        bool negative = false;
        if (peek() == '-' || peek() == '+') negative = line[at++] == '-';
        int base = 10;
        if (hex_ok && peek() == '0' && at + 1 < line.size() &&
            (line[at + 1] == 'x' || line[at + 1] == 'X')) {
            base = 16;
            at += 2;
        }
        long value = 0;
        size_t digits = 0;
        while (at < line.size() && std::isxdigit(static_cast<unsigned char>(line[at])) &&
               (base == 16 || std::isdigit(static_cast<unsigned char>(line[at])))) {
            const char ch = static_cast<char>(std::tolower(static_cast<unsigned char>(line[at])));
            if (value < 1000000) value = value * base + (ch <= '9' ? ch - '0' : ch - 'a' + 10);
            ++at;
            ++digits;
        }
        if (digits == 0) {
            error(loc, std::string(what) + " needs a number");
            return std::nullopt;
        }
        if (negative) value = -value;
        if (value < lo || value > hi) {
            error(loc, std::string(what) + " " + std::to_string(value) + " is outside " +
                           std::to_string(lo) + ".." + std::to_string(hi));
            return std::nullopt;
        }
        return value;
    }

    // A length after a note, rest or `l`: MML length with optional dot, or
    // 0 for no time. Without one, the section's default length.
    std::optional<int> length(bool required)
    {
        const Loc loc = here();
        if (!std::isdigit(static_cast<unsigned char>(peek()))) {
            if (required) {
                error(loc, "l needs a length");
                return std::nullopt;
            }
            return section.default_length;
        }
        const size_t start = at;
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++at;
        if (peek() == '.') ++at;
        const std::string_view text = line.substr(start, at - start);
        for (int code = 0; code < 16; ++code)
            if (LENGTH_SPELLING[code] == text) return code;
        error(loc, "length " + std::string(text) +
                       " is not one of 1 2 4 8 16 32 64 128, 2. 4. 8. 16. 32. 64. 128. or 0");
        return std::nullopt;
    }

    // ---- section bodies ----

    bool in_section(Loc loc)
    {
        if (section.kind != SectionKind::none) return true;
        error(loc, "music before the first channel, pattern or data section");
        return false;
    }

    void note(Loc loc, char letter)
    {
        int n = note_letter_number(letter);
        if (peek() == '+' || peek() == '#') {
            ++n;
            ++at;
        } else if (peek() == '-') {
            --n;
            ++at;
        }
        const std::optional<int> code = length(false);
        if (n < 1 || n > 12) {
            error(loc, std::string(line.substr(loc.column - 1, 2)) +
                           " leaves the octave; write the note in the octave next to it");
            return;
        }
        if (code) emit(note_byte(static_cast<unsigned>(n), static_cast<unsigned>(*code)), loc);
    }

    void relative_octave(Loc loc, int step)
    {
        if (section.octave < 0) {
            error(loc, std::string(1, step < 0 ? '<' : '>') +
                           " needs an o earlier in this section");
            return;
        }
        const int octave = section.octave + step;
        if (octave < 0 || octave > 15) {
            error(loc, "octave " + std::to_string(octave) + " is outside 0..15");
            return;
        }
        section.octave = octave;
        emit(octave_byte(static_cast<unsigned>(octave)), loc);
    }

    void command(Loc loc, Op op, long lo, long hi, const char* what)
    {
        if (const std::optional<long> value = number(lo, hi, what)) {
            emit(command_byte(op), loc);
            emit(static_cast<uint8_t>(*value), loc);
        }
    }

    void loop_close(Loc loc)
    {
        std::optional<long> count = 2;
        if (std::isdigit(static_cast<unsigned char>(peek()))) count = number(0, 255, "loop count");
        if (section.loops.empty()) {
            error(loc, "] without an open [ in this section");
            return;
        }
        const OpenLoop open = section.loops.back();
        section.loops.pop_back();
        if (count) block[open.count_at] = static_cast<uint8_t>(*count);
        emit(command_byte(Op::loop_end), loc);
    }

    void call(Loc loc)
    {
        if (std::isdigit(static_cast<unsigned char>(peek()))) {
            if (const std::optional<long> p = number(0, 255, "pattern number")) {
                emit(command_byte(Op::pattern_call), loc);
                emit(static_cast<uint8_t>(*p), loc);
            }
            return;
        }
        const std::string name = word();
        if (!is_name(name)) {
            error(loc, "* needs a pattern name or number");
            return;
        }
        emit(command_byte(Op::pattern_call), loc);
        calls.push_back({block.size(), name, loc});
        emit(0, loc);
    }

    void raw_byte(Loc loc)
    {
        const std::string_view digits = line.substr(at, 2);
        at += digits.size();
        if (digits.size() != 2 || !std::isxdigit(static_cast<unsigned char>(digits[0])) ||
            !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
            error(loc, "$ needs two hex digits");
            return;
        }
        emit(static_cast<uint8_t>(std::stoi(std::string(digits), nullptr, 16)), loc);
    }

    // One event of a section body.
    void body_token()
    {
        const Loc loc = here();
        const char ch = line[at++];
        if (!in_section(loc)) {
            at = line.size();
            return;
        }
        if (ch >= 'a' && ch <= 'g') return note(loc, ch);
        switch (ch) {
        case 'r':
            if (const std::optional<int> code = length(false))
                emit(rest_byte(static_cast<unsigned>(*code)), loc);
            return;
        case 'l':
            if (const std::optional<int> code = length(true)) section.default_length = *code;
            return;
        case 'o':
            if (const std::optional<long> o = number(0, 15, "octave")) {
                section.octave = static_cast<int>(*o);
                emit(octave_byte(static_cast<unsigned>(*o)), loc);
            }
            return;
        case '<': return relative_octave(loc, -1);
        case '>': return relative_octave(loc, 1);
        case 'v':
            if (const std::optional<long> v = number(0, 15, "volume"))
                emit(volume_byte(static_cast<unsigned>(*v)), loc);
            return;
        case 't': return command(loc, Op::tempo, 0, 255, "tempo");
        case 'k': return command(loc, Op::transpose, -128, 127, "transpose");
        case 'p': return command(loc, Op::panning, -128, 127, "panning");
        case '@': return command(loc, Op::instrument, 0, 255, "instrument");
        case '&': return emit(command_byte(Op::tie), loc);
        case '[':
            emit(command_byte(Op::loop_start), loc);
            section.loops.push_back({block.size(), loc});
            return emit(2, loc);
        case ']': return loop_close(loc);
        case '*': return call(loc);
        case '$': return raw_byte(loc);
        default:
            error(loc, std::string("unexpected '") + ch + "'");
            at = line.size();
        }
    }

    // ---- section headers ----

    void close_section()
    {
        for (const OpenLoop& open : section.loops) error(open.loc, "[ is not closed in this section");
        if (section.kind == SectionKind::channel || section.kind == SectionKind::pattern)
            emit(command_byte(Op::end), section.loc);
        trailer = section.kind != SectionKind::data;
        section = {};
    }

    bool set_entry(int k, uint16_t value, Loc loc, const std::string& what)
    {
        if (entries[k]) {
            error(loc, what + " is defined twice");
            return false;
        }
        entries[k] = value;
        entry_loc[k] = loc;
        return true;
    }

    void start_section(SectionKind kind, Loc loc)
    {
        close_section();
        section.kind = kind;
        section.loc = loc;
    }

    void channel_header(Loc loc)
    {
        skip_blanks();
        const std::optional<long> c = number(0, CHANNEL_COUNT - 1, "channel");
        skip_blanks();
        if (is_name(std::string(1, peek()))) word();  // a name for the reader
        start_section(SectionKind::channel, loc);
        if (c) set_entry(static_cast<int>(*c), static_cast<uint16_t>(block.size()), loc,
                         "channel " + std::to_string(*c));
    }

    int free_pattern_number() const
    {
        for (int p = 0; p < SONG_PATTERNS; ++p)
            if (!entries[CHANNEL_COUNT + p]) return p;
        return -1;
    }

    void pattern_header(Loc loc)
    {
        skip_blanks();
        const Loc name_loc = here();
        const std::string name = word();
        start_section(SectionKind::pattern, loc);
        if (!is_name(name)) return error(name_loc, "pattern needs a name");
        skip_blanks();
        std::optional<long> p;
        if (peek() == '=') {
            ++at;
            skip_blanks();
            p = number(0, SONG_PATTERNS - 1, "pattern number");
            if (!p) return;
        } else {
            p = free_pattern_number();
            if (*p < 0) return error(loc, "more than 48 patterns");
        }
        if (!pattern_numbers.emplace(name, static_cast<int>(*p)).second)
            return error(name_loc, "pattern " + name + " is defined twice");
        set_entry(CHANNEL_COUNT + static_cast<int>(*p), static_cast<uint16_t>(block.size()), loc,
                  "pattern " + std::to_string(*p));
    }

    void entry_directive(Loc loc)
    {
        skip_blanks();
        const std::optional<long> k = number(0, SONG_TABLE_ENTRIES - 1, "entry");
        skip_blanks();
        if (peek() != '=') return error(here(), "entry needs '= OFFSET'");
        ++at;
        skip_blanks();
        const std::optional<long> value = number(0, 65535, "offset", true);
        if (k && value)
            set_entry(static_cast<int>(*k), static_cast<uint16_t>(*value), loc,
                      "entry " + std::to_string(*k));
    }

    // A line whose first word is a section keyword is a header.
    bool header(Loc loc)
    {
        const size_t start = at;
        const std::string w = word();
        if (w == "channel") channel_header(loc);
        else if (w == "pattern") pattern_header(loc);
        else if (w == "data") start_section(SectionKind::data, loc);
        else if (w == "entry") entry_directive(loc);
        else {
            at = start;
            return false;
        }
        skip_blanks();
        if (at < line.size()) error(here(), "unexpected text after the header");
        return true;
    }

    void read_line(std::string_view text, int number)
    {
        line = text.substr(0, text.find(';'));
        line_number = number;
        at = 0;
        skip_blanks();
        if (at < line.size() && header(here())) return;
        for (skip_blanks(); at < line.size(); skip_blanks()) body_token();
    }

    // ---- finishing ----

    void resolve_calls()
    {
        for (const CallFixup& call : calls) {
            const auto found = pattern_numbers.find(call.name);
            if (found == pattern_numbers.end())
                error(call.loc, "unknown pattern " + call.name);
            else
                block[call.operand_at] = static_cast<uint8_t>(found->second);
        }
    }

    void finish(Loc eof)
    {
        close_section();
        if (trailer) emit(0, eof);
        resolve_calls();
        for (int c = 0; c < CHANNEL_COUNT; ++c)
            if (!entries[c]) error(eof, "channel " + std::to_string(c) + " is not defined");
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k) {
            const uint16_t value = entries[k].value_or(0);
            block[2 * k] = static_cast<uint8_t>(value >> 8);
            block[2 * k + 1] = static_cast<uint8_t>(value);
            byte_loc[2 * k] = byte_loc[2 * k + 1] = entry_loc[k];
        }
    }

    // Where a checked rule points in the source: the event at the offset, or
    // the header that set a table entry.
    Loc loc_of(uint32_t offset, Loc eof) const
    {
        const Loc loc = offset < byte_loc.size() ? byte_loc[offset] : Loc{};
        return loc.line > 0 ? loc : eof;
    }
};

}  // namespace

namespace {

// Reads the whole source; with `check`, also checks the song's rules and
// reports them at the source position of the offending byte.
bool assemble(const std::string& source, const std::string& filename, bool check,
              std::vector<uint8_t>& block, std::vector<Finding>& errors)
{
    Assembler a;
    a.filename = filename;
    int number = 0;
    for (size_t start = 0; start <= source.size();) {
        size_t stop = source.find('\n', start);
        if (stop == std::string::npos) stop = source.size();
        a.read_line(std::string_view(source).substr(start, stop - start), ++number);
        start = stop + 1;
    }
    const Loc eof{number, 1};
    a.finish(eof);
    if (check && a.errors.empty()) {
        for (const SongError& e : check_song(a.block.data(), a.block.size())) {
            const Loc loc = a.loc_of(e.offset, eof);
            a.report({filename, loc.line, loc.column, true, e});
        }
    }
    errors = a.errors;
    block = a.block;
    return errors.empty();
}

// assemble, with its findings as formatted lines.
bool assemble(const std::string& source, const std::string& filename, bool check,
              std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    std::vector<Finding> findings;
    const bool ok = assemble(source, filename, check, block, findings);
    errors.clear();
    for (const Finding& f : findings) errors.push_back(format_finding(f));
    return ok;
}

}  // namespace

bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<Finding>& findings)
{
    return assemble(source, filename, true, block, findings);
}

bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    return assemble(source, filename, true, block, errors);
}

bool assemble_notation(const std::string& source, const std::string& filename,
                       std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    return assemble(source, filename, false, block, errors);
}
