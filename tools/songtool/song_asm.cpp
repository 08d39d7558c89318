#include "song_asm.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

#include "notation.h"
#include "song/bytecode.h"
#include "song_check.h"
#include "song_findings.h"
#include "song_lint.h"
#include "sound_fields.h"
#include "voice/instrument.h"

namespace {

constexpr size_t MAX_ERRORS = 50;

struct Loc {
    int line = 0;  // 0 = no source position
    int column = 0;
};

enum class SectionKind { none, channel, pattern, data, instrument, delay_preset, reverb_preset, eq };

// What a source may hold: a song (music, and sound sections changing the
// sounds it starts from), a sounds file (sound sections only), or the
// defaults file, a sounds file that sets every field.
enum class SourceKind { song, sounds, default_sounds };

bool holds_music(SectionKind kind)
{
    return kind == SectionKind::channel || kind == SectionKind::pattern || kind == SectionKind::data;
}

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
    // A channel's mix or a sound section: its number (-1 when the header's
    // is wrong), its name in messages and the fields given so far (bit i =
    // field i of its table).
    int number = -1;
    std::string label;
    uint32_t fields_given = 0;
};

// Edits (insertions, deletions, substitutions) turning `a` into `b`.
size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// " (did you mean fill?)" for the known name nearest to `name`, when it is
// near enough to be a slip of the pen; else nothing.
template <typename Names>
std::string did_you_mean(const std::string& name, const Names& known)
{
    const std::string* nearest = nullptr;
    size_t best = std::max<size_t>(1, name.size() / 3) + 1;
    for (const std::string& candidate : known) {
        const size_t d = candidate.empty() ? best : edit_distance(name, candidate);
        if (d < best) {
            best = d;
            nearest = &candidate;
        }
    }
    return nearest ? " (did you mean " + *nearest + "?)" : "";
}

struct CallFixup {
    size_t operand_at;
    std::string name;
    Loc loc;
};

struct Assembler {
    std::string filename;
    SourceKind kind = SourceKind::song;
    SongSounds* sounds = nullptr;
    std::map<std::pair<SectionKind, int>, uint32_t> sound_fields_given;  // over the whole file
    std::map<std::string, int> instrument_numbers;
    std::vector<CallFixup> instrument_calls;
    std::vector<uint8_t> block = std::vector<uint8_t>(SONG_HEADER_SIZE, 0);
    std::vector<Loc> byte_loc = std::vector<Loc>(SONG_HEADER_SIZE);
    std::array<std::optional<uint16_t>, SONG_TABLE_ENTRIES> entries;
    std::array<Loc, SONG_TABLE_ENTRIES> entry_loc;
    std::map<std::string, int> pattern_numbers;
    std::vector<CallFixup> calls;
    std::vector<Finding> errors;
    Section section;
    bool trailer = true;
    SongMarks marks;
    std::optional<Loc> pickup_loc;
    std::vector<Loc> pending_bar_lines;  // `|`s waiting for the next event's byte
    std::map<int, Loc> instrument_sections;  // the song's own, by number

    // Current line being read.
    std::string_view line;
    int line_number = 0;
    size_t at = 0;

    Loc here() const { return {line_number, static_cast<int>(at) + 1}; }

    void error(Loc loc, const std::string& message, const char* rule = "notation")
    {
        report({filename, loc.line, loc.column, false, {{}, 0, rule, message}});
    }

    void warning(Loc loc, const std::string& message, const char* rule)
    {
        report({filename, loc.line, loc.column, false, {{}, 0, rule, message}, true});
    }

    void report(const Finding& finding)
    {
        if (errors.size() < MAX_ERRORS) errors.push_back(finding);
    }

    void emit(uint8_t byte, Loc loc)
    {
        for (const Loc bar : pending_bar_lines)
            marks.bar_lines.push_back({static_cast<uint32_t>(block.size()), bar.line, bar.column});
        pending_bar_lines.clear();
        block.push_back(byte);
        byte_loc.push_back(loc);
    }

    // ---- scanning ----

    char peek() const { return at < line.size() ? line[at] : '\0'; }

    // Blanks, and bar lines: in a channel or pattern each `|` checks the
    // event written after it.
    void skip_blanks()
    {
        while (at < line.size() && (std::isspace(static_cast<unsigned char>(line[at])) ||
                                    line[at] == '|')) {
            if (line[at] == '|' && (section.kind == SectionKind::channel || section.kind == SectionKind::pattern))
                pending_bar_lines.push_back(here());
            ++at;
        }
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

    // What may begin a name as written, right or wrong (a UTF-8 letter is
    // wrong, but still meant as a name).
    static bool starts_name(char ch)
    {
        return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_' || static_cast<unsigned char>(ch) >= 0x80;
    }

    // A name as written: up to a blank or what may follow a name, so that a
    // stray character inside it is reported with the whole name.
    std::string name_text()
    {
        const size_t start = at;
        while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at])) &&
               std::string_view("=[]|&").find(line[at]) == std::string_view::npos)
            ++at;
        return std::string(line.substr(start, at - start));
    }

    // Reports a name that is not a plain identifier; true if it is one.
    bool plain_name(Loc loc, const std::string& name)
    {
        const bool plain = is_name(name) && std::all_of(name.begin(), name.end(), [](char ch) {
            return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_';
        });
        if (!plain)
            error(loc, "name " + name + " may hold only letters a-z and A-Z, digits and _, and starts with a letter or _");
        return plain;
    }

    // A decimal number (optionally signed) or, with `hex_ok`, 0x... hex.
    // Reports and returns nullopt if there is none or it is outside lo..hi,
    // quoting the number as written.
    std::optional<long> number(long lo, long hi, const std::string& what, bool hex_ok = false,
                               const char* rule = "notation")
    {
        const Loc loc = here();
        const size_t start = at;
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
            // Past the cap the value is out of every range; only the text is quoted.
            if (value < 1000000) value = value * base + (ch <= '9' ? ch - '0' : ch - 'a' + 10);
            ++at;
            ++digits;
        }
        if (digits == 0) {
            error(loc, what + " needs a number", rule);
            return std::nullopt;
        }
        if (negative) value = -value;
        if (value < lo || value > hi) {
            error(loc, what + " " + std::string(line.substr(start, at - start)) + " is outside " + std::to_string(lo) +
                           ".." + std::to_string(hi), rule);
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
        if (!starts_name(peek())) {
            error(loc, "* needs a pattern name or number");
            return;
        }
        const Loc name_loc = here();
        const std::string name = name_text();
        if (!plain_name(name_loc, name)) return;
        emit(command_byte(Op::pattern_call), loc);
        calls.push_back({block.size(), name, loc});
        emit(0, loc);
    }

    // `@5`, or `@lead` for the instrument a sound section named so.
    void instrument_change(Loc loc)
    {
        if (std::isdigit(static_cast<unsigned char>(peek()))) return instrument_number(loc);
        if (!starts_name(peek())) return command(loc, Op::instrument, 0, 255, "instrument");
        const Loc name_loc = here();
        const std::string name = name_text();
        if (!plain_name(name_loc, name)) return;
        emit(command_byte(Op::instrument), loc);
        instrument_calls.push_back({block.size(), name, loc});
        emit(0, loc);
    }

    // The block's check reports instruments 14..255 at the `@`; a number
    // that no byte holds gets the same message here.
    void instrument_number(Loc loc)
    {
        const size_t start = at;
        const long n = *number(0, std::numeric_limits<long>::max(), "instrument");  // digits: always in range
        if (n > 255)
            return error(loc, unknown_instrument_message(std::string(line.substr(start, at - start))),
                         "unknown-instrument");
        emit(command_byte(Op::instrument), loc);
        emit(static_cast<uint8_t>(n), loc);
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
        case '@': return instrument_change(loc);
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
        pending_bar_lines.clear();
        if (holds_music(section.kind)) trailer = section.kind != SectionKind::data;
        if (section.number >= 0) sound_fields_given[{section.kind, section.number}] |= section.fields_given;
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

    // `channel N [name] [gain = G reverb = R delay = D]`
    void channel_header(Loc loc)
    {
        skip_blanks();
        const std::optional<long> c = number(0, CHANNEL_COUNT - 1, "channel");
        start_section(SectionKind::channel, loc);
        const std::string name = section_name();
        if (c) {
            set_entry(static_cast<int>(*c), static_cast<uint16_t>(block.size()), loc,
                      "channel " + std::to_string(*c));
            section.number = static_cast<int>(*c);
            section.label = "channel " + std::to_string(*c);
            if (!name.empty()) sounds->channel_names[*c] = name;
        }
        sound_fields();
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
        const std::string name = name_text();
        start_section(SectionKind::pattern, loc);
        if (name.empty()) return error(name_loc, "pattern needs a name");
        if (!plain_name(name_loc, name)) {
            at = line.size();  // the rest of the header belongs to the broken name
            return;
        }
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

    // ---- sound sections ----

    // The optional name after a header's number: a word not followed by '='
    // (that would be the first field).
    std::string section_name()
    {
        skip_blanks();
        const size_t start = at;
        const Loc loc = here();
        std::string name = name_text();
        skip_blanks();
        if (name.empty() || peek() == '=') {
            at = start;
            return {};
        }
        return plain_name(loc, name) ? name : std::string();
    }

    // `instrument N [name]`, `delay_preset P`, `reverb_preset P`, `eq R`,
    // each with fields on the header's line and the lines that follow.
    void sound_header(Loc loc, SectionKind kind, const std::string& keyword, long lo, long hi)
    {
        skip_blanks();
        const std::optional<long> n = number(lo, hi, keyword, false, "sound-section");
        start_section(kind, loc);
        const std::string name = kind == SectionKind::instrument ? section_name() : std::string();
        if (!n) return sound_fields();
        section.number = static_cast<int>(*n);
        section.label = keyword + " " + std::to_string(*n);
        if (!sound_fields_given.try_emplace({kind, section.number}, 0u).second)
            error(loc, section.label + " is defined twice", "sound-section");
        if (!name.empty()) name_instrument(loc, name);
        if (kind == SectionKind::instrument) instrument_sections.emplace(section.number, loc);
        sound_fields();
    }

    void name_instrument(Loc loc, const std::string& name)
    {
        const auto [named, fresh] = instrument_numbers.emplace(name, section.number);
        if (!fresh && named->second != section.number)
            return error(loc, "instrument name " + name + " is taken by instrument " +
                                  std::to_string(named->second), "sound-section");
        // A default instrument of that name gives it up to the song's own.
        for (std::string& other : sounds->instrument_names)
            if (other == name) other.clear();
        sounds->instrument_names[section.number] = name;
    }

    std::span<const std::string_view> field_names() const
    {
        switch (section.kind) {
        case SectionKind::channel: return CHANNEL_FIELDS;
        case SectionKind::instrument: return INSTRUMENT_FIELDS;
        case SectionKind::delay_preset: return DELAY_FIELDS;
        case SectionKind::reverb_preset: return REVERB_FIELDS;
        case SectionKind::eq: return EQ_FIELDS;
        default: return {};
        }
    }

    // `NAME = VALUE` pairs up to the end of the line.
    void sound_fields()
    {
        for (skip_blanks(); at < line.size(); skip_blanks()) {
            const Loc loc = here();
            const std::string name = word();
            skip_blanks();
            if (!is_name(name) || peek() != '=') {
                error(loc, "expected a field, written NAME = VALUE", "sound-field");
                at = line.size();
                return;
            }
            ++at;
            skip_blanks();
            const Loc value_loc = here();
            const size_t start = at;
            while (at < line.size() && !std::isspace(static_cast<unsigned char>(line[at]))) ++at;
            sound_field(loc, name, value_loc, std::string(line.substr(start, at - start)));
        }
    }

    void sound_field(Loc loc, const std::string& name, Loc value_loc, const std::string& value)
    {
        const std::span<const std::string_view> names = field_names();
        const auto found = std::find(names.begin(), names.end(), name);
        const std::string where = section.label.empty() ? "this section" : section.label;
        if (found == names.end()) {
            std::string known;
            for (const std::string_view n : names) known += (known.empty() ? "" : " ") + std::string(n);
            return error(loc, "unknown field " + name + " in " + where + " (its fields: " + known + ")",
                         "sound-field");
        }
        const int field = static_cast<int>(found - names.begin());
        if (section.fields_given & (1u << field))
            return error(loc, name + " is given twice in " + where, "sound-field");
        section.fields_given |= 1u << field;
        if (value.empty()) return error(value_loc, name + " needs a value", "sound-value");
        if (section.kind == SectionKind::eq) return eq_field(value_loc, field, name, value);
        if (const std::optional<long> byte = field_byte(value_loc, field, name, value))
            if (section.number >= 0) *byte_slot(field) = static_cast<uint8_t>(*byte);
    }

    // A whole number from lo to hi, or nullopt after saying why not.
    std::optional<long> whole_value(Loc loc, const std::string& name, const std::string& value, long lo,
                                    long hi, const std::string& hint = "")
    {
        long n = 0;
        const char* end = value.data() + value.size();
        const auto [stop, problem] = std::from_chars(value.data(), end, n);
        if (stop != end || (problem != std::errc() && problem != std::errc::result_out_of_range)) {
            error(loc, name + " needs a whole number, not '" + value + "'", "sound-value");
            return std::nullopt;
        }
        if (problem == std::errc::result_out_of_range || n < lo || n > hi) {
            error(loc, name + " " + value + " is outside " + std::to_string(lo) + ".." + std::to_string(hi) +
                           hint, "sound-value");
            return std::nullopt;
        }
        return n;
    }

    // A byte field's value, checked against what the field can mean.
    std::optional<long> field_byte(Loc loc, int field, const std::string& name, const std::string& value)
    {
        switch (section.kind) {
        case SectionKind::channel:
            return whole_value(loc, name, value, 0, field == 0 ? 255 : FX_PRESET_COUNT - 1,
                               field == 0 ? " (percent)" : " (0 = off)");
        case SectionKind::instrument: return instrument_byte(loc, field, name, value);
        case SectionKind::delay_preset: return delay_byte(loc, field, name, value);
        default: return whole_value(loc, name, value, 0, 255);
        }
    }

    std::optional<long> instrument_byte(Loc loc, int field, const std::string& name, const std::string& value)
    {
        std::optional<long> byte;
        if (field <= INS_SAMPLE_2_R)
            byte = whole_value(loc, name, value, 0, WAVE_COUNT - 1, " (the wave bank's waves)");
        else if (field == INS_LFO_WAVEFORM)
            byte = whole_value(loc, name, value, 0, 127, " (a larger one reads outside the wave bank)");
        else
            byte = whole_value(loc, name, value, 0, 255);
        if (byte && field == INS_ENV_VOL_LENGTH && *byte == 0)
            warning(loc, "env_vol_length 0 silences every note of " + section.label +
                             " (its volume envelope has no length)", "silent-envelope");
        if (byte && field == INS_ENV_VOL_TYPE && *byte > 1)
            warning(loc, "env_vol_type " + value + " silences every note of " + section.label +
                             " (the volume envelope is 0, decay, or 1, attack)", "silent-envelope-type");
        return byte;
    }

    std::optional<long> delay_byte(Loc loc, int field, const std::string& name, const std::string& value)
    {
        const std::optional<long> byte = whole_value(loc, name, value, 0, 255);
        if (byte && field == 0 && *byte == 0) {
            error(loc, "time 0 leaves the echo no line: a delay time is at least 1 (100 frames)",
                  "sound-value");
            return std::nullopt;
        }
        if (byte && field == 1 && *byte > 100)
            warning(loc, "feedback " + value + " above 100 makes the echo grow without bound", "runaway-echo");
        return byte;
    }

    uint8_t* byte_slot(int field) const
    {
        Sounds& s = sounds->sounds;
        const int n = section.number;
        switch (section.kind) {
        case SectionKind::channel: return field == 0 ? &s.channel_gain[n] : &s.channel_fx[n][field == 1 ? 0 : 1];
        case SectionKind::instrument: return &s.instrument_bank[n][field];
        case SectionKind::delay_preset: return &s.delay_bank[n][field];
        default: return &s.reverb_bank[n][field];
        }
    }

    // Equaliser fields are single-precision decimals: mixes finite,
    // cutoffs finite and at least 0 Hz.
    void eq_field(Loc loc, int field, const std::string& name, const std::string& value)
    {
        char* end = nullptr;
        const float x = std::strtof(value.c_str(), &end);
        if (end != value.c_str() + value.size())
            return error(loc, name + " needs a decimal number, not '" + value + "'", "sound-value");
        if (!std::isfinite(x)) return error(loc, name + " " + value + " is not a finite number", "sound-value");
        const bool cutoff = field % 2 == 1;
        if (cutoff && x < 0.0f) return error(loc, name + " " + value + " is below 0 Hz", "sound-value");
        if (section.number >= 0) sounds->sounds.eq_data[section.number * 4 + field] = x;
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

    // `pickup 2.` or `pickup 4 8` (lengths, summed) or `pickup 96 ticks`:
    // the ticks before bar 1, less than a bar.
    void pickup_directive(Loc loc)
    {
        if (pickup_loc) {
            at = line.size();
            return error(loc, "pickup is given twice");
        }
        pickup_loc = loc;
        uint32_t ticks = 0;
        for (skip_blanks(); std::isdigit(static_cast<unsigned char>(peek())); skip_blanks()) {
            const Loc length_loc = here();
            const size_t start = at;
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++at;
            if (peek() == '.') ++at;
            const std::string text(line.substr(start, at - start));
            skip_blanks();
            if (word() == "ticks") {
                ticks += static_cast<uint32_t>(std::min<unsigned long>(std::strtoul(text.c_str(), nullptr, 10), 1000));
                break;
            }
            at = start + text.size();
            const auto code = std::find(std::begin(LENGTH_SPELLING), std::end(LENGTH_SPELLING), text);
            if (code == std::end(LENGTH_SPELLING)) {
                at = line.size();
                return error(length_loc, "length " + text + " is not one of 1 2 4 8 16 32 64 128, 2. 4. 8. 16. 32. 64. 128. (or write N ticks)");
            }
            ticks += length_ticks(static_cast<unsigned>(code - std::begin(LENGTH_SPELLING)));
        }
        if (ticks == 0 || ticks >= TICKS_PER_BAR)
            return error(loc, "pickup needs a length shorter than a bar: 1 to 127 ticks, as lengths (2.) or N ticks");
        marks.pickup = ticks;
    }

    // A line whose first word is a section keyword is a header.
    bool header(Loc loc)
    {
        const size_t start = at;
        const std::string w = word();
        const bool music_header = w == "pattern" || w == "data" || w == "entry" || w == "pickup";
        if (music_header && kind != SourceKind::song) {
            error(loc, w + " in a sounds file, which holds no music", "sounds-only");
            at = line.size();
        } else if (w == "channel") channel_header(loc);
        else if (w == "pattern") pattern_header(loc);
        else if (w == "data") start_section(SectionKind::data, loc);
        else if (w == "entry") entry_directive(loc);
        else if (w == "pickup") pickup_directive(loc);
        else if (w == "instrument") sound_header(loc, SectionKind::instrument, w, 0, INSTRUMENT_COUNT - 1);
        else if (w == "delay_preset") sound_header(loc, SectionKind::delay_preset, w, 1, FX_PRESET_COUNT - 1);
        else if (w == "reverb_preset") sound_header(loc, SectionKind::reverb_preset, w, 1, FX_PRESET_COUNT - 1);
        else if (w == "eq") sound_header(loc, SectionKind::eq, w, 0, EQ_RECORD_COUNT - 1);
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
        if (at < line.size() && !holds_music(section.kind) && section.kind != SectionKind::none)
            return sound_fields();
        if (at < line.size() && kind != SourceKind::song)
            return error(here(), "music in a sounds file, which holds none", "sounds-only");
        for (skip_blanks(); at < line.size(); skip_blanks()) body_token();
    }

    // ---- finishing ----

    // In the map's order, which picks the nearest name among equals.
    std::vector<std::string> pattern_names() const
    {
        std::vector<std::string> names;
        for (const auto& [name, number] : pattern_numbers) names.push_back(name);
        return names;
    }

    void resolve_calls()
    {
        for (const CallFixup& call : calls) {
            const auto found = pattern_numbers.find(call.name);
            if (found == pattern_numbers.end())
                error(call.loc, "unknown pattern " + call.name +
                                    did_you_mean(call.name, pattern_names()));
            else
                block[call.operand_at] = static_cast<uint8_t>(found->second);
        }
    }

    void resolve_instrument_names()
    {
        for (const CallFixup& call : instrument_calls) {
            const std::string* names = sounds->instrument_names.data();
            const std::string* found = std::find(names, names + INSTRUMENT_COUNT, call.name);
            if (found == names + INSTRUMENT_COUNT)
                error(call.loc, "unknown instrument " + call.name + did_you_mean(call.name, sounds->instrument_names));
            else
                block[call.operand_at] = static_cast<uint8_t>(found - names);
        }
    }

    // The defaults file sets every field of every table.
    void require_every_field(Loc eof)
    {
        const auto require = [&](SectionKind kind, const std::string& keyword, int lo, int hi,
                                 std::span<const std::string_view> names) {
            for (int n = lo; n <= hi; ++n) {
                const std::string label = keyword + " " + std::to_string(n);
                const auto given = sound_fields_given.find({kind, n});
                if (given == sound_fields_given.end()) {
                    error(eof, label + " is missing; the defaults file sets every field", "sound-defaults");
                    continue;
                }
                std::string missing;
                for (size_t f = 0; f < names.size(); ++f)
                    if (!(given->second & (1u << f))) missing += " " + std::string(names[f]);
                if (!missing.empty())
                    error(eof, label + " leaves out" + missing + "; the defaults file sets every field",
                          "sound-defaults");
            }
        };
        require(SectionKind::instrument, "instrument", 0, INSTRUMENT_COUNT - 1, INSTRUMENT_FIELDS);
        require(SectionKind::channel, "channel", 0, CHANNEL_COUNT - 1, CHANNEL_FIELDS);
        require(SectionKind::delay_preset, "delay_preset", 1, FX_PRESET_COUNT - 1, DELAY_FIELDS);
        require(SectionKind::reverb_preset, "reverb_preset", 1, FX_PRESET_COUNT - 1, REVERB_FIELDS);
        require(SectionKind::eq, "eq", 0, EQ_RECORD_COUNT - 1, EQ_FIELDS);
    }

    void finish(Loc eof)
    {
        close_section();
        if (kind == SourceKind::default_sounds) require_every_field(eof);
        if (kind != SourceKind::song) return;
        if (trailer) emit(0, eof);
        resolve_calls();
        resolve_instrument_names();
        for (int c = 0; c < CHANNEL_COUNT; ++c)
            if (!entries[c]) error(eof, "channel " + std::to_string(c) + " is not defined");
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k) {
            const uint16_t value = entries[k].value_or(0);
            block[2 * k] = static_cast<uint8_t>(value >> 8);
            block[2 * k + 1] = static_cast<uint8_t>(value);
            byte_loc[2 * k] = byte_loc[2 * k + 1] = entry_loc[k];
        }
    }

    // The warnings of a valid song: the block's, each at its event, header
    // or bar line, and the song's own instruments that no channel plays.
    void lint(Loc eof)
    {
        for (const SongWarning& w : lint_song(block.data(), block.size(), marks)) {
            const Loc loc = w.bar_line >= 0 ? Loc{marks.bar_lines[w.bar_line].line, marks.bar_lines[w.bar_line].column}
                                            : loc_of(w.error.offset, eof);
            report({filename, loc.line, loc.column, true, w.error, true});
        }
        const auto played = instruments_played(block.data(), block.size());
        for (const auto& [n, loc] : instrument_sections) {
            if (played[n]) continue;
            const std::string& name = sounds->instrument_names[n];
            warning(loc, "instrument " + std::to_string(n) + (name.empty() ? "" : " (" + name + ")") +
                             " is defined but no channel plays it", "unused-instrument");
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

// Reads the whole source into `block` and `sounds` (which start as given);
// with `check`, also checks the song's rules and reports them at the source
// position of the offending byte.
bool assemble(const std::string& source, const std::string& filename, SourceKind kind, bool check,
              std::vector<uint8_t>& block, SongSounds& sounds, SongMarks& marks, std::vector<Finding>& errors)
{
    Assembler a;
    a.filename = filename;
    a.kind = kind;
    a.sounds = &sounds;
    // An editor's byte-order mark is no part of the text: columns count
    // from after it.
    std::string_view text = source;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    int number = 0;
    for (size_t start = 0; start <= text.size();) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        a.read_line(text.substr(start, stop - start), ++number);
        start = stop + 1;
    }
    const Loc eof{number, 1};
    a.finish(eof);
    if (check && !has_errors(a.errors)) {
        for (const SongError& e : check_song(a.block.data(), a.block.size())) {
            const Loc loc = a.loc_of(e.offset, eof);
            a.report({filename, loc.line, loc.column, true, e});
        }
        if (!has_errors(a.errors)) a.lint(eof);
    }
    errors = a.errors;
    block = a.block;
    marks = a.marks;
    marks.byte_places.clear();
    for (const Loc& loc : a.byte_loc) marks.byte_places.push_back({loc.line, loc.column});
    return !has_errors(errors);
}

// assemble for the block alone, its findings as formatted lines.
bool assemble_block(const std::string& source, const std::string& filename, bool check,
                    std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    SongSounds ignored{Sounds{}, {}, {}};  // the block does not depend on the sounds it starts from
    std::vector<Finding> findings;
    SongMarks marks;
    const bool ok = assemble(source, filename, SourceKind::song, check, block, ignored, marks, findings);
    errors.clear();
    for (const Finding& f : findings) errors.push_back(format_finding(f));
    return ok;
}

bool assemble_sounds_file(const std::string& source, const std::string& filename, SourceKind kind,
                          SongSounds& sounds, std::vector<Finding>& findings)
{
    std::vector<uint8_t> unused;
    SongMarks no_marks;
    return assemble(source, filename, kind, false, unused, sounds, no_marks, findings);
}

}  // namespace

bool assemble_song(const std::string& source, const std::string& filename, std::vector<uint8_t>& block,
                   SongSounds& sounds, SongMarks& marks, std::vector<Finding>& findings)
{
    return assemble(source, filename, SourceKind::song, true, block, sounds, marks, findings);
}

bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, SongSounds& sounds, std::vector<Finding>& findings)
{
    SongMarks marks;
    return assemble_song(source, filename, block, sounds, marks, findings);
}

bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<Finding>& findings)
{
    SongSounds ignored{Sounds{}, {}, {}};
    SongMarks marks;
    return assemble(source, filename, SourceKind::song, true, block, ignored, marks, findings);
}

bool assemble_song(const std::string& source, const std::string& filename,
                   std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    return assemble_block(source, filename, true, block, errors);
}

bool assemble_notation(const std::string& source, const std::string& filename,
                       std::vector<uint8_t>& block, std::vector<std::string>& errors)
{
    return assemble_block(source, filename, false, block, errors);
}

bool assemble_sounds(const std::string& source, const std::string& filename, SongSounds& sounds,
                     std::vector<Finding>& findings)
{
    return assemble_sounds_file(source, filename, SourceKind::sounds, sounds, findings);
}

bool assemble_default_sounds(const std::string& source, const std::string& filename, SongSounds& sounds,
                             std::vector<Finding>& findings)
{
    sounds = SongSounds{Sounds{}, {}, {}};
    return assemble_sounds_file(source, filename, SourceKind::default_sounds, sounds, findings);
}
