// What `asm` and `check` report about a song: each error with its place in
// the source (when there is one) and in the block, as compilers print them
// and as JSON for other tools.
#pragma once
#include <string>
#include <vector>

#include "song_check.h"

struct Finding {
    std::string file;
    int line = 0;  // 1-based; 0 when there is no source (an assembled block)
    int column = 0;
    bool has_offset = false;  // a song rule at a byte offset, not a notation slip
    SongError error;          // for notation slips only rule and message count
    bool warning = false;     // the song plays all the same
};

// "FILE:LINE:COLUMN: error: MESSAGE" (or "warning:"), or "FILE: error:
// MESSAGE" for a block.
std::string format_finding(const Finding& finding);

// A JSON list of objects with "file", "line", "column", "offset",
// "channel", "pattern", "severity" ("error" or "warning"), "rule" and
// "message"; absent values are null.
std::string findings_json(const std::vector<Finding>& findings);

// `text` as a JSON string literal, quotes included.
std::string json_string(const std::string& text);

// Whether any finding stops the song.
bool has_errors(const std::vector<Finding>& findings);

// `--werror`: every warning becomes an error.
void warnings_to_errors(std::vector<Finding>& findings);
