// Files written whole or not at all. A draft is an unnamed file in the
// target's folder (the kernel removes it if the program dies, whatever the
// signal), named and renamed over the target only once every byte went
// through, so a failed or interrupted write never leaves a truncated file,
// a half-replaced one or a temporary one. A target that exists and is not
// a regular file (a device, a FIFO) is written in place, never replaced:
// /dev/null takes everything, /dev/full fails with its reason. The path
// "-" is standard output, also written in place.
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

// Standard output as a path.
constexpr const char* STANDARD_OUTPUT = "-";

// Puts the draft in place if `ok` (everything written so far went through)
// and the rest succeeds; otherwise leaves nothing new behind. Closes the
// draft either way. Returns 0 or the reason it failed (an errno value).
int draft_commit(Draft& draft, bool ok);

// The first half of draft_commit, for files that appear together: writes
// out and syncs the draft under a hidden name beside the target, so that
// only renames remain. On failure (an errno value) nothing is left.
int draft_ready(Draft& draft, bool ok);
// The second half: the ready draft renamed over its target, and closed.
int draft_place(Draft& draft);

// Drops a draft, ready or not.
void draft_discard(Draft& draft);

// `size` bytes at `data` as the whole of `path`; 0 or an errno value.
int write_file_whole(const char* path, const void* data, size_t size);

// Whether two paths name the same file, however spelled (false when either
// does not exist).
bool same_file(const char* a, const char* b);
