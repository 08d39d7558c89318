#include "sounds_cpp.h"

#include <cstdio>
#include <cstdlib>
#include <span>

#include "sound_fields.h"

namespace {

std::string byte_row(const uint8_t* row, int length)
{
    std::string text = "{";
    for (int i = 0; i < length; ++i) text += (i == 0 ? "" : ", ") + std::to_string(row[i]);
    return text + "}";
}

// The shortest decimal that reads back as x, as a float literal: plain
// decimals where they suffice, exponents for the very small or large.
std::string float_literal(float x)
{
    char text[64];
    bool exact = false;
    for (int decimals = 0; decimals <= 9 && !exact; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(x));
        exact = std::strtof(text, nullptr) == x;
    }
    if (!exact) std::snprintf(text, sizeof text, "%.9g", static_cast<double>(x));
    std::string literal = text;
    if (literal.find_first_of(".e") == std::string::npos) literal += ".0";
    return literal + "f";
}

// "  // name name ...": a table's column heads.
std::string column_heads(std::span<const std::string_view> fields)
{
    std::string heads = "  //";
    for (const std::string_view field : fields) heads += " " + std::string(field);
    return heads + "\n";
}

std::string comment(int number, const std::string& name)
{
    return "  // " + std::to_string(number) + (name.empty() ? "" : " " + name) + "\n";
}

}  // namespace

std::string sounds_cpp(const SongSounds& song, const std::string& name)
{
    const Sounds& s = song.sounds;
    std::string text = "const Sounds " + name + " = {\n    {" + column_heads(INSTRUMENT_FIELDS);
    for (int i = 0; i < INSTRUMENT_COUNT; ++i)
        text += "        " + byte_row(s.instrument_bank[i], INSTRUMENT_SIZE) + "," +
                comment(i, song.instrument_names[i]);
    text += "    },\n    " + byte_row(s.channel_gain, CHANNEL_COUNT) + ",  // channel gains, percent\n";
    text += "    {  // {reverb, delay} preset per channel\n";
    for (int k = 0; k < CHANNEL_COUNT; ++k)
        text += "        " + byte_row(s.channel_fx[k], 2) + "," + comment(k, song.channel_names[k]);
    text += "    },\n";
    const auto preset_rows = [&](const uint8_t (*bank)[5], std::span<const std::string_view> fields) {
        std::string rows = "    {" + column_heads(fields);
        for (int p = 0; p < FX_PRESET_COUNT; ++p) rows += "        " + byte_row(bank[p], 5) + ",\n";
        return rows + "    },\n";
    };
    text += preset_rows(s.delay_bank, DELAY_FIELDS);
    text += preset_rows(s.reverb_bank, REVERB_FIELDS);
    text += "    {" + column_heads(EQ_FIELDS);
    for (int r = 0; r < EQ_RECORD_COUNT; ++r) {
        text += "       ";
        for (int f = 0; f < 4; ++f) text += " " + float_literal(s.eq_data[4 * r + f]) + ",";
        text += "\n";
    }
    return text + "    },\n};\n";
}

namespace {

template <std::size_t N>
std::string string_array(const std::string& name, const std::array<std::string, N>& names)
{
    std::string text = "extern const char* const " + name + "[" + std::to_string(N) + "] = {";
    for (const std::string& n : names) text += "\n    \"" + n + "\",";  // names are plain identifiers
    return text + "\n};\n";
}

}  // namespace

std::string names_cpp(const SongSounds& sounds)
{
    return string_array("default_instrument_names", sounds.instrument_names) +
           string_array("default_channel_names", sounds.channel_names);
}
