#include "song_findings.h"

#include <cstdio>

std::string json_string(const std::string& text)
{
    std::string quoted = "\"";
    for (const char ch : text) {
        if (ch == '"' || ch == '\\') {
            quoted += '\\';
            quoted += ch;
        } else if (static_cast<unsigned char>(ch) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(ch));
            quoted += escape;
        } else {
            quoted += ch;
        }
    }
    return quoted + '"';
}

namespace {

// A count, or null when it is absent (negative, or 0 for source positions).
std::string json_number_or_null(long value, long absent_below)
{
    return value < absent_below ? "null" : std::to_string(value);
}

}  // namespace

std::string format_finding(const Finding& finding)
{
    std::string where = finding.file;
    if (finding.line > 0)
        where += ":" + std::to_string(finding.line) + ":" + std::to_string(finding.column);
    const std::string message =
        finding.has_offset ? format_song_error(finding.error) : finding.error.message;
    return where + (finding.warning ? ": warning: " : ": error: ") + message;
}

std::string findings_json(const std::vector<Finding>& findings)
{
    std::string json = "[";
    for (size_t i = 0; i < findings.size(); ++i) {
        const Finding& f = findings[i];
        const SongError& e = f.error;
        json += i == 0 ? "\n  {" : ",\n  {";
        json += "\"file\": " + json_string(f.file);
        json += ", \"line\": " + json_number_or_null(f.line, 1);
        json += ", \"column\": " + json_number_or_null(f.column, 1);
        json += ", \"offset\": " + (f.has_offset ? std::to_string(e.offset) : "null");
        json += ", \"channel\": " + json_number_or_null(e.place.channel, 0);
        json += ", \"pattern\": " + json_number_or_null(e.place.pattern, 0);
        json += ", \"severity\": " + json_string(f.warning ? "warning" : "error");
        json += ", \"rule\": " + json_string(e.rule);
        json += ", \"message\": " + json_string(e.message) + "}";
    }
    return json + (findings.empty() ? "]\n" : "\n]\n");
}

bool has_errors(const std::vector<Finding>& findings)
{
    for (const Finding& f : findings)
        if (!f.warning) return true;
    return false;
}

void warnings_to_errors(std::vector<Finding>& findings)
{
    for (Finding& f : findings) f.warning = false;
}
