#include "song_info.h"

#include <set>
#include <vector>

#include "base/timeline.h"
#include "song/tarq.h"
#include "song_check.h"

namespace {

// loop_start 255, a whole rest, loop_end: then `end`.
constexpr uint8_t CLOSING_HOLD[] = {command_byte(Op::loop_start), 255, rest_byte(0),
                                    command_byte(Op::loop_end)};
constexpr uint32_t HOLD_SIZE = sizeof CLOSING_HOLD;

// Position just after the hold's rest, where the channel waits once it has
// read it; 0 if the stream does not end with the hold.
uint32_t hold_wait_position(const uint8_t* block, const Stream& stream)
{
    const size_t n = stream.events.size();
    if (n < 3) return 0;
    const uint32_t at = stream.events[n - 3].pos;
    if (at + HOLD_SIZE != stream.end_pos) return 0;
    for (uint32_t i = 0; i < HOLD_SIZE; ++i)
        if (block[at + i] != CLOSING_HOLD[i]) return 0;
    return at + 3;
}

std::string list(const std::set<int>& values)
{
    std::string text;
    for (int v : values) text += (text.empty() ? "" : " ") + std::to_string(v);
    return text.empty() ? "none" : text;
}

struct ChannelUse {
    std::set<int> instruments, pattern_instruments, patterns, octaves;
};

void note_uses(const Stream& stream, std::set<int>& instruments, ChannelUse& use)
{
    for (const StreamEvent& se : stream.events) {
        if (se.event.op == Op::instrument) instruments.insert(se.event.operand);
        if (se.event.op == Op::octave) use.octaves.insert(nibble_low(se.event.byte));
        if (se.event.op == Op::pattern_call) use.patterns.insert(se.event.operand);
    }
}

}  // namespace

std::array<HoldTime, CHANNEL_COUNT> closing_hold_times(const uint8_t* block, size_t size,
                                                       uint32_t frame_limit, const Sounds& sounds)
{
    std::array<HoldTime, CHANNEL_COUNT> times{};
    std::array<uint32_t, CHANNEL_COUNT> wait_at{};
    int waiting = 0;
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        Stream stream;
        decode_stream(block, size, song_table_entry(block, static_cast<unsigned>(c)), stream);
        wait_at[c] = hold_wait_position(block, stream);
        times[c].has_hold = wait_at[c] != 0;
        waiting += times[c].has_hold;
    }
    Tarq tarq_state;
    tarq_start(tarq_state, block, sounds.instrument_bank);
    const TarqListeners nobody;
    uint32_t tick = 0;
    for (uint32_t frame = 0; frame < frame_limit && waiting > 0; ++frame) {
        const bool ticks = tarq_state.tick_counter == 0;
        tarq(tarq_state, nobody);
        if (!ticks) continue;
        for (int c = 0; c < CHANNEL_COUNT; ++c) {
            if (!times[c].has_hold || times[c].reached || tarq_state.data_pointer[c] != wait_at[c]) continue;
            times[c] = {true, true, tick, frame};
            --waiting;
        }
        ++tick;
    }
    return times;
}

std::string song_info(const uint8_t* block, size_t size, const Sounds& sounds)
{
    constexpr uint32_t frame_limit = 20 * SONG_FRAMES;
    const auto times = closing_hold_times(block, size, frame_limit, sounds);
    std::string text;
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const uint16_t start = song_table_entry(block, static_cast<unsigned>(c));
        Stream stream;
        decode_stream(block, size, start, stream);
        ChannelUse use;
        note_uses(stream, use.instruments, use);
        const std::set<int> called = use.patterns;
        for (int p : called) {
            Stream body;
            decode_stream(block, size, song_table_entry(block, CHANNEL_COUNT + p), body);
            note_uses(body, use.pattern_instruments, use);
        }
        text += "channel " + std::to_string(c) + ": " +
                std::to_string(stream.end_pos + 1 - start) + " bytes, instruments " +
                list(use.instruments);
        if (!use.pattern_instruments.empty())
            text += " (in patterns: " + list(use.pattern_instruments) + ")";
        text += ", patterns " + list(use.patterns) + ", octaves " + list(use.octaves) + ", ";
        const HoldTime& t = times[c];
        if (!t.has_hold)
            text += "no closing hold";
        else if (!t.reached)
            text += "closing hold not reached within " + std::to_string(frame_limit) + " frames";
        else
            text += "closing hold at tick " + std::to_string(t.tick) + " (frame " +
                    std::to_string(t.frame) + ")";
        text += '\n';
    }
    return text;
}
