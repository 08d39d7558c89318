#include "song/bytecode.h"

bool decode_event(const uint8_t* block, size_t size, size_t pos, Event& event)
{
    if (pos >= size) return false;
    event.byte = block[pos];
    event.op = event_op(event.byte);
    event.size = static_cast<uint8_t>(op_size(event.op));
    if (pos + event.size > size) return false;
    event.operand = event.size == 2 ? block[pos + 1] : 0;
    return true;
}
