// Files written whole or not at all. A draft is an unnamed file in the
// target's folder (the kernel removes it if the program dies, whatever the
// signal), named and renamed over the target only once every byte went
// through, so a failed or interrupted write never leaves a truncated file,
// a half-replaced one or a temporary one. A target that exists and is not
// a regular file (a device, a FIFO) is written in place, never replaced:
// /dev/null takes everything, /dev/full fails with its reason.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

struct Draft {
    std::FILE* file = nullptr;  // open for reading and writing
    std::string path;           // the target
    std::string temp;           // a named draft where the folder has no unnamed files; else empty
    bool in_place = false;      // a device or FIFO, written as it is
};

// 0, or the reason (an errno value) the draft cannot be made.
int draft_open(Draft& draft, const char* path);

// Puts the draft in place if `ok` (everything written so far went through)
// and the rest succeeds; otherwise leaves nothing new behind. Closes the
// draft either way. Returns 0 or the reason it failed (an errno value).
int draft_commit(Draft& draft, bool ok);

// Drops an unfinished draft.
void draft_discard(Draft& draft);

// `size` bytes at `data` as the whole of `path`; 0 or an errno value.
int write_file_whole(const char* path, const void* data, size_t size);

// Whether two paths name the same file, however spelled (false when either
// does not exist).
bool same_file(const char* a, const char* b);
