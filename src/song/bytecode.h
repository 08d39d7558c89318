// The song byte code: the one place that knows how events are encoded.
// The interpreter decodes through it on the hot path; the song tool
// assembles, disassembles and checks songs through it.
//
// Layout of a song block: a table of 56 big-endian 16-bit offsets (entries
// 0..7 start the eight channel streams, entries 8..55 the 48 patterns), then
// the streams and pattern bodies, each closed by `end`.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/timeline.h"

constexpr int SONG_PATTERNS = 48;
constexpr int SONG_TABLE_ENTRIES = CHANNEL_COUNT + SONG_PATTERNS;
constexpr unsigned SONG_HEADER_SIZE = 2 * SONG_TABLE_ENTRIES;  // 112
constexpr unsigned SONG_MAX_SIZE = 65536;  // read positions are 16-bit
constexpr int SONG_LOOP_LEVELS = 5;
// Octave of each channel before its stream sets one.
constexpr uint16_t TARQ_START_OCTAVE[CHANNEL_COUNT] = {2, 0, 0, 0, 0, 0, 0, 0};

enum class Op : uint8_t {
    rest,          // 0x0L
    note,          // 0xNL, N = 1..12
    octave,        // 0xDO
    volume,        // 0xEV, volume V / 8
    loop_start,    // 0xF0 count
    loop_end,      // 0xF1
    pattern_call,  // 0xF2 pattern
    tempo,         // 0xF3 n: tick every 14 n + 1 frames
    transpose,     // 0xF4 signed semitones
    instrument,    // 0xF5 instrument
    tie,           // 0xF6
    panning,       // 0xF7 signed percent
    undefined,     // 0xF8..0xFE
    end,           // 0xFF
};

namespace bytecode_detail {
constexpr std::array<Op, 256> make_op_table()
{
    constexpr Op commands[16] = {
        Op::loop_start, Op::loop_end,  Op::pattern_call, Op::tempo,
        Op::transpose,  Op::instrument, Op::tie,         Op::panning,
        Op::undefined,  Op::undefined, Op::undefined,    Op::undefined,
        Op::undefined,  Op::undefined, Op::undefined,    Op::end,
    };
    std::array<Op, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned hi = b >> 4;
        if (hi == 0xF) table[b] = commands[b & 15];
        else if (hi == 0xD) table[b] = Op::octave;
        else if (hi == 0xE) table[b] = Op::volume;
        else if (hi != 0) table[b] = Op::note;
        else table[b] = Op::rest;
    }
    return table;
}
inline constexpr std::array<Op, 256> op_table = make_op_table();
}  // namespace bytecode_detail

// Kind of the event whose first byte is b.
constexpr Op event_op(uint8_t b) { return bytecode_detail::op_table[b]; }

constexpr bool op_has_operand(Op op)
{
    return op == Op::loop_start || op == Op::pattern_call || op == Op::tempo ||
           op == Op::transpose || op == Op::instrument || op == Op::panning;
}

// Bytes the event occupies, operand included.
constexpr unsigned op_size(Op op) { return op_has_operand(op) ? 2 : 1; }

constexpr uint8_t nibble_high(uint8_t b) { return static_cast<uint8_t>(b >> 4); }
constexpr uint8_t nibble_low(uint8_t b) { return static_cast<uint8_t>(b & 15); }

// Length codes of notes and rests (low nibble). Codes 0..7 wait 127 >> k
// ticks more, the dotted codes 8..14 wait 95 >> (k - 8); code 15 takes no
// time and the next event is read in the same tick.
constexpr uint8_t LENGTH_CODE_TIMELESS = 15;
constexpr uint16_t length_wait(unsigned code)
{
    return static_cast<uint16_t>(code < 8 ? 127u >> code : 95u >> (code - 8));
}
// Whole ticks an event with this length code occupies.
constexpr unsigned length_ticks(unsigned code)
{
    return code == LENGTH_CODE_TIMELESS ? 0u : length_wait(code) + 1u;
}

constexpr int8_t operand_signed(uint8_t operand) { return static_cast<int8_t>(operand); }

// Encoders, for the assembler.
constexpr uint8_t rest_byte(unsigned code) { return static_cast<uint8_t>(code & 15); }
constexpr uint8_t note_byte(unsigned note, unsigned code)
{
    return static_cast<uint8_t>(note << 4 | (code & 15));
}
constexpr uint8_t octave_byte(unsigned octave) { return static_cast<uint8_t>(0xD0 | octave); }
constexpr uint8_t volume_byte(unsigned volume) { return static_cast<uint8_t>(0xE0 | volume); }
// First byte of a command of the 0xF kind (loop_start .. panning, end).
constexpr uint8_t command_byte(Op op)
{
    unsigned b = 0xF0;
    while (b < 0xFF && event_op(static_cast<uint8_t>(b)) != op) ++b;
    return static_cast<uint8_t>(b);
}

// Entry k of the offset table (channel k for k < 8, pattern k - 8 above).
inline uint16_t song_table_entry(const uint8_t* block, unsigned k)
{
    return static_cast<uint16_t>(block[2 * k] << 8 | block[2 * k + 1]);
}

// One decoded event.
struct Event {
    Op op;
    uint8_t byte;     // the first byte
    uint8_t operand;  // 0 when the event has none
    uint8_t size;     // 1 or 2
};

// Decodes the event at pos of a block of size bytes. False when pos is
// outside the block or the operand would be.
bool decode_event(const uint8_t* block, size_t size, size_t pos, Event& event);
