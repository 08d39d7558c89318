// Why an operation could not be done, handed back to the caller, who
// decides how to report it.
#pragma once
#include <cstdarg>
#include <cstdio>

struct Fault {
    char message[240] = {};  // empty while nothing failed

    explicit operator bool() const { return message[0] != '\0'; }
};

// Records a printf-style message in `fault` and returns false, so a failing
// step can end with `return fail(fault, ...)`.
[[gnu::format(printf, 2, 3)]] inline bool fail(Fault& fault, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(fault.message, sizeof fault.message, format, args);
    va_end(args);
    return false;
}
