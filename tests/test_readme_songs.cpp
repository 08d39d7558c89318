// The songs README.md shows a composer are whole, valid songs: each block
// after a "<!-- song example -->" line assembles without a finding, not even
// a warning (so every channel that plays ends in a closing hold that lasts,
// and every bar line stands on a bar).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "song_asm.h"
#include "song_sounds.h"

namespace {

const char* const EXAMPLE_MARKER = "<!-- song example -->";

struct Example {
    int line = 0;      // README line of the example's first line
    int indent = 0;    // columns the block is indented by in README
    std::string text;  // the block, unindented, after blank lines that keep README's line numbers
};

std::vector<std::string> readme_lines()
{
    std::ifstream in(SONGRENDER_README);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

size_t indentation(const std::string& line) { return line.find_first_not_of(' '); }
bool blank(const std::string& line) { return indentation(line) == std::string::npos; }
std::string trimmed(const std::string& line) { return blank(line) ? "" : line.substr(indentation(line)); }

// The indented block after the marker at `marker`: every line until one
// that is indented less than the block's first (blank lines belong to it).
Example example_after(const std::vector<std::string>& lines, size_t marker)
{
    size_t at = marker + 1;
    while (at < lines.size() && blank(lines[at])) ++at;
    Example example;
    example.line = static_cast<int>(at + 1);
    example.text = std::string(at, '\n');
    if (at == lines.size()) return example;
    const size_t indent = indentation(lines[at]);
    example.indent = static_cast<int>(indent);
    for (; at < lines.size() && (blank(lines[at]) || indentation(lines[at]) >= indent); ++at)
        example.text += (blank(lines[at]) ? "" : lines[at].substr(indent)) + "\n";
    return example;
}

std::vector<Example> readme_examples()
{
    const std::vector<std::string> lines = readme_lines();
    std::vector<Example> examples;
    for (size_t i = 0; i < lines.size(); ++i)
        if (trimmed(lines[i]) == EXAMPLE_MARKER) examples.push_back(example_after(lines, i));
    return examples;
}

}  // namespace

TEST(ReadmeSongs, EveryExampleIsAWholeSongWithoutWarnings)
{
    const std::vector<Example> examples = readme_examples();
    ASSERT_FALSE(examples.empty()) << "no \"" << EXAMPLE_MARKER << "\" block in " << SONGRENDER_README;
    for (const Example& example : examples) {
        SCOPED_TRACE("README.md example at line " + std::to_string(example.line));
        std::vector<uint8_t> block;
        SongSounds sounds;
        std::vector<Finding> findings;
        EXPECT_TRUE(assemble_song(example.text, "README.md", block, sounds, findings));
        for (Finding finding : findings) {
            finding.column += example.indent;  // where an editor finds it in README
            ADD_FAILURE() << format_finding(finding);
        }
    }
}
