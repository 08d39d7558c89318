#include "song_disasm.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "notation.h"
#include "song/bytecode.h"

namespace {

std::string raw(uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "$%02X", static_cast<unsigned>(byte));
    return text;
}

// Writes tokens, wrapping lines.
struct Writer {
    std::string text;
    size_t line_length = 0;

    void line(const std::string& s)
    {
        if (line_length > 0) text += '\n';
        text += s + '\n';
        line_length = 0;
    }
    void token(const std::string& s)
    {
        if (line_length > 0 && line_length + 1 + s.size() > 76) {
            text += '\n';
            line_length = 0;
        }
        if (line_length == 0) {
            text += "  ";
            line_length = 2;
        } else {
            text += ' ';
            ++line_length;
        }
        text += s;
        line_length += s.size();
    }
    void end_line()
    {
        if (line_length > 0) text += '\n';
        line_length = 0;
    }
};

struct Disassembler {
    const uint8_t* block;
    size_t size;
    std::array<uint16_t, SONG_TABLE_ENTRIES> entries{};
    std::array<bool, SONG_TABLE_ENTRIES> is_header{};  // entry set by a section header
    std::array<bool, SONG_TABLE_ENTRIES> labelled{};   // ... already written out
    Writer out;

    bool is_pattern_section(unsigned p) const
    {
        return p < SONG_PATTERNS && is_header[CHANNEL_COUNT + p];
    }

    std::string event_text(const Event& e) const
    {
        const uint8_t lo = nibble_low(e.byte);
        switch (e.op) {
        case Op::rest: return "r" + std::string(LENGTH_SPELLING[lo]);
        case Op::note:
            return std::string(NOTE_SPELLING[nibble_high(e.byte)]) + std::string(LENGTH_SPELLING[lo]);
        case Op::octave: return "o" + std::to_string(lo);
        case Op::volume: return "v" + std::to_string(lo);
        case Op::tempo: return "t" + std::to_string(e.operand);
        case Op::transpose: return "k" + std::to_string(operand_signed(e.operand));
        case Op::panning: return "p" + std::to_string(operand_signed(e.operand));
        case Op::instrument: return "@" + std::to_string(e.operand);
        case Op::tie: return "&";
        case Op::pattern_call:
            return "*" + (is_pattern_section(e.operand) ? pattern_label(e.operand)
                                                       : std::to_string(e.operand));
        case Op::loop_start: return raw(e.byte) + " " + raw(e.operand);
        default: return raw(e.byte);  // loop_end and undefined bytes, end in data
        }
    }

    // Events of [begin, end) in notation. Loops become [ ... ]N where both
    // brackets lie in the range; anything that does not decode inside the
    // range is written as raw bytes.
    void body(size_t begin, size_t end)
    {
        std::vector<std::pair<size_t, Event>> events;
        for (size_t pos = begin; pos < end;) {
            Event e;
            if (!decode_event(block, end, pos, e)) e = {Op::undefined, block[pos], 0, 1};
            events.push_back({pos, e});
            pos += e.size;
        }
        std::vector<int> match(events.size(), -1);
        std::vector<size_t> open;
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].second.op == Op::loop_start) {
                open.push_back(i);
            } else if (events[i].second.op == Op::loop_end && !open.empty()) {
                match[i] = static_cast<int>(open.back());
                match[open.back()] = static_cast<int>(i);
                open.pop_back();
            }
        }
        for (size_t i = 0; i < events.size(); ++i) {
            const Event& e = events[i].second;
            if (match[i] < 0) out.token(event_text(e));
            else if (e.op == Op::loop_start) out.token("[");
            else out.token("]" + std::to_string(events[match[i]].second.operand));
        }
        out.end_line();
    }

    // Position of the `end` of a stream starting at `start` if it lies
    // before `limit`, else `limit`.
    size_t stream_end(size_t start, size_t limit) const
    {
        Event e;
        for (size_t pos = start; decode_event(block, limit, pos, e); pos += e.size)
            if (e.op == Op::end) return pos;
        return limit;
    }

    void header(int k)
    {
        if (k < CHANNEL_COUNT) {
            out.line("channel " + std::to_string(k));
        } else {
            const int p = k - CHANNEL_COUNT;
            std::string text = "pattern " + pattern_label(p);
            if (p != auto_pattern_number()) text += " = " + std::to_string(p);
            out.line(text);
        }
        labelled[k] = true;
    }

    // The number the assembler gives a pattern header without `= N`.
    int auto_pattern_number() const
    {
        for (int p = 0; p < SONG_PATTERNS; ++p)
            if (!labelled[CHANNEL_COUNT + p] && entries[CHANNEL_COUNT + p] == 0) return p;
        return -1;
    }

    // First entry that a region starting at `start` can be a section of.
    int section_entry(size_t start) const
    {
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k)
            if (entries[k] == start) return k;
        return -1;
    }

    std::string write()
    {
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k) entries[k] = song_table_entry(block, k);

        // Streams split the block at every offset the table points to.
        std::vector<size_t> starts{SONG_HEADER_SIZE};
        for (uint16_t e : entries)
            if (e >= SONG_HEADER_SIZE && e < size) starts.push_back(e);
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

        // Decide the headers first: an entry is a header if its stream ends
        // inside its region.
        std::vector<int> section_of(starts.size(), -1);
        std::vector<size_t> ends(starts.size());
        for (size_t r = 0; r < starts.size(); ++r) {
            const size_t limit = r + 1 < starts.size() ? starts[r + 1] : size;
            ends[r] = limit;
            if (starts[r] >= size) continue;
            const int k = section_entry(starts[r]);
            if (k >= 0 && stream_end(starts[r], limit) < limit) section_of[r] = k;
        }
        for (int k : section_of)
            if (k >= 0) is_header[k] = true;

        // Entries no header sets come first, so that they count when the
        // assembler numbers patterns.
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k) {
            // Patterns default to 0 (undefined); channels must be given.
            if (is_header[k] || (entries[k] == 0 && k >= CHANNEL_COUNT)) continue;
            char text[40];
            std::snprintf(text, sizeof text, "entry %d = 0x%04X", k, entries[k]);
            out.line(text);
        }
        // From here on, entries holds what the assembler has seen set.
        for (int k = 0; k < SONG_TABLE_ENTRIES; ++k)
            if (is_header[k]) entries[k] = 0;

        bool ends_with_data = false;
        bool trailer_dropped = false;
        for (size_t r = 0; r < starts.size() && starts[r] < size; ++r) {
            const size_t start = starts[r];
            const size_t limit = ends[r];
            size_t rest_from = start;
            if (section_of[r] >= 0) {
                header(section_of[r]);
                const size_t end = stream_end(start, limit);
                body(start, end);
                rest_from = end + 1;
                ends_with_data = false;
            }
            if (rest_from == limit) continue;
            if (limit == size && rest_from + 1 == size && block[rest_from] == 0 &&
                section_of[r] >= 0) {
                trailer_dropped = true;  // the assembler adds it back
                continue;
            }
            out.line("data");
            body(rest_from, limit);
            ends_with_data = true;
        }
        if (!ends_with_data && !trailer_dropped) out.line("data");  // no trailing zero
        return out.text;
    }
};

}  // namespace

bool disassemble_song(const uint8_t* block, size_t size, std::string& text, std::string& error)
{
    if (size < SONG_HEADER_SIZE) {
        error = "block of " + std::to_string(size) +
                " bytes is shorter than its 112-byte offset table";
        return false;
    }
    Disassembler d{block, size, {}, {}, {}, {}};
    text = "; disassembled song, " + std::to_string(size) + " bytes\n" + d.write();
    return true;
}
