// The roll's picture: a list of shapes, each with the role it plays, drawn
// by cairo into a PNG or an SVG. In the SVG every shape carries its role as
// a class, so other tools (and the tests) can find the notes.
#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>

#include "base/timeline.h"
#include "song_roll.h"

namespace {

constexpr double TICK_PX = ROLL_TICK_PX;  // a bar is 128 pixels
constexpr double SEMITONE_PX = 5;
constexpr double LANE_PX = 10;     // one drum sample
constexpr double LEFT = ROLL_LEFT_PX;  // octave and drum labels
constexpr double RIGHT = 24;
constexpr double STRIP = 12;       // a row of labels above the grid
constexpr double TITLE = 16;
constexpr double TEMPO_Y = TITLE + STRIP;  // the tempo strip's baseline; the call rows follow
constexpr double CALL_LABEL_PX = 24;         // "p47" and its marker
constexpr double GAP = 6;          // between the pitches and the drum lanes
constexpr double LEGEND = 24;  // the closing-hold marks, then the legend
constexpr double LEGEND_ITEM = 64;  // at least; wider for long channel names
constexpr double CHAR_PX = 5.5;     // wide enough for most letters at the labels' size
constexpr int PNG_MAX_SIDE = 32767;  // cairo's image surfaces

struct Colour {
    double r, g, b;
};
constexpr Colour CHANNEL_COLOUR[CHANNEL_COUNT] = {
    {0.84, 0.15, 0.16}, {0.12, 0.47, 0.71}, {0.17, 0.63, 0.17}, {1.00, 0.50, 0.05},
    {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29}, {0.89, 0.47, 0.76}, {0.25, 0.25, 0.25},
};
constexpr Colour WHITE{1, 1, 1}, INK{0.15, 0.15, 0.15}, BEAT{0.91, 0.91, 0.91},
    BAR{0.70, 0.70, 0.70}, SHARP_ROW{0.96, 0.96, 0.96}, HOLD{0.85, 0.85, 0.85};

enum class Shape { rect, line, dashed_line, text };

struct Item {
    Shape shape;
    const char* role;
    Colour colour;
    double x, y, w, h;  // a line runs from (x, y) to (x + w, y + h)
    std::string text;   // drawn with its baseline at y
    std::string source = {};  // "LINE:COLUMN" of the note that drew it, or empty
};

struct Layout {
    int low_octave = 0, high_octave = 0;  // octave k holds pitches 12k+1 (c) .. 12k+12 (b)
    std::vector<int> samples;             // drum lanes, top to bottom
    std::vector<int> call_rows;           // per pattern call, the row of its label
    std::array<std::string, CHANNEL_COUNT> legend_labels;
    double legend_item = LEGEND_ITEM;
    double top = 0;                       // of the grid, under the call rows and the bar numbers
    double width = 0, height = 0, grid_bottom = 0, lanes_top = 0;

    double pitch_y(int pitch) const { return top + (12 * high_octave + 12 - pitch) * SEMITONE_PX; }
    double lane_y(int sample) const
    {
        const auto at = std::find(samples.begin(), samples.end(), sample) - samples.begin();
        return lanes_top + static_cast<double>(at) * LANE_PX;
    }
};

int octave_of(int pitch) { return pitch >= 1 ? (pitch - 1) / 12 : -1; }

// Each call's label goes in the first row free at its tick, so calls at one
// tick stack; past a row per channel a label shares the row freed first.
std::vector<int> call_label_rows(const std::vector<RollCall>& calls)
{
    std::vector<int> rows;
    std::vector<double> free_from;  // per row
    for (const RollCall& c : calls) {
        const double x = c.tick * TICK_PX;
        auto row = std::find_if(free_from.begin(), free_from.end(), [&](double f) { return f <= x; });
        if (row == free_from.end() && free_from.size() < CHANNEL_COUNT) row = free_from.insert(row, 0);
        if (row == free_from.end()) row = std::min_element(free_from.begin(), free_from.end());
        *row = x + CALL_LABEL_PX;
        rows.push_back(static_cast<int>(row - free_from.begin()));
    }
    return rows;
}

std::string legend_label(int c, const std::string& name)
{
    if (!name.empty()) return std::to_string(c) + " " + name;
    return c == DRUM_CHANNEL ? "7 drums" : "channel " + std::to_string(c);
}

Layout lay_out(const Roll& roll)
{
    Layout l;
    if (roll.notes.empty()) {
        l.low_octave = l.high_octave = 3;
    } else {
        const auto [low, high] = std::minmax_element(
            roll.notes.begin(), roll.notes.end(),
            [](const RollNote& a, const RollNote& b) { return a.pitch < b.pitch; });
        l.low_octave = octave_of(low->pitch);
        l.high_octave = octave_of(high->pitch);
    }
    std::set<int> used;
    for (const RollHit& h : roll.hits) used.insert(h.sample);
    l.samples.assign(used.begin(), used.end());
    l.call_rows = call_label_rows(roll.calls);
    const int rows = std::max(1, l.call_rows.empty() ? 0 : *std::max_element(l.call_rows.begin(), l.call_rows.end()) + 1);
    l.top = TEMPO_Y + (rows + 1) * STRIP + 4;
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        l.legend_labels[c] = legend_label(c, roll.channel_names[c]);
        l.legend_item = std::max(l.legend_item, 13 + CHAR_PX * static_cast<double>(l.legend_labels[c].size()) + 1);
    }
    const double pitches = 12.0 * (l.high_octave - l.low_octave + 1) * SEMITONE_PX;
    l.lanes_top = l.top + pitches + (l.samples.empty() ? 0 : GAP);
    l.grid_bottom = l.lanes_top + static_cast<double>(l.samples.size()) * LANE_PX;
    const double span = std::max(roll.end_tick * TICK_PX, CHANNEL_COUNT * l.legend_item);
    l.width = LEFT + span + RIGHT;
    l.height = l.grid_bottom + LEGEND;
    return l;
}

std::string note_name(int pitch)
{
    static const char* const names[12] = {"c", "c+", "d", "d+", "e", "f",
                                          "f+", "g", "g+", "a", "a+", "b"};
    return names[(pitch + 11) % 12] + std::to_string(octave_of(pitch));
}

bool is_sharp(int pitch)
{
    const int n = (pitch + 11) % 12;
    return n == 1 || n == 3 || n == 6 || n == 8 || n == 10;
}

double tick_x(uint32_t tick) { return LEFT + tick * TICK_PX; }

void add_background(const Roll& roll, const Layout& l, std::vector<Item>& items)
{
    items.push_back({Shape::rect, "background", WHITE, 0, 0, l.width, l.height, {}});
    const double grid_w = roll.end_tick * TICK_PX;
    for (int p = 12 * l.low_octave + 1; p <= 12 * l.high_octave + 12; ++p)
        if (is_sharp(p))
            items.push_back({Shape::rect, "sharp-row", SHARP_ROW, LEFT, l.pitch_y(p), grid_w,
                             SEMITONE_PX, {}});
    // Bars and beats count from the pick-up, which is bar 0 and unnumbered.
    for (uint32_t t = roll.pickup % ROLL_TICKS_PER_BEAT; t <= roll.end_tick; t += ROLL_TICKS_PER_BEAT) {
        const bool bar = t >= roll.pickup && (t - roll.pickup) % ROLL_TICKS_PER_BAR == 0;
        items.push_back({Shape::line, bar ? "bar-line" : "beat-line", bar ? BAR : BEAT,
                         tick_x(t) + 0.5, l.top, 0, l.grid_bottom - l.top, {}});
        if (bar && t < roll.end_tick)
            items.push_back({Shape::text, "bar-number", INK, tick_x(t) + 2, l.top - 3, 0, 0,
                             std::to_string((t - roll.pickup) / ROLL_TICKS_PER_BAR + 1)});
    }
    for (int o = l.low_octave; o <= l.high_octave; ++o) {
        const int c = 12 * o + 1;
        items.push_back({Shape::line, "octave-line", BAR, LEFT, l.pitch_y(c) + SEMITONE_PX - 0.5,
                         grid_w, 0, {}});
        items.push_back({Shape::text, "octave-label", INK, 4, l.pitch_y(c) + SEMITONE_PX, 0, 0,
                         note_name(c)});
    }
    for (int s : l.samples)
        items.push_back({Shape::text, "drum-label", INK, 4, l.lane_y(s) + LANE_PX - 1, 0, 0,
                         drum_sample_names[s]});
}

// Tempo changes in their strip above the grid, a tempo label left out where
// the one before it would be overwritten; pattern calls in rows under it.
void add_markers(const Roll& roll, const Layout& l, std::vector<Item>& items)
{
    for (const RollTempo& t : roll.tempos) {
        const double bpm = 60.0 * SAMPLE_RATE / (ROLL_TICKS_PER_BEAT * (14.0 * t.value + 1));
        char label[48];
        std::snprintf(label, sizeof label, "t%d  %.0f bpm", t.value, bpm);
        items.push_back({Shape::text, "tempo", INK, tick_x(t.tick) + 2, TEMPO_Y, 0, 0, label});
        if (t.tick > 0)
            items.push_back({Shape::dashed_line, "tempo-change", INK, tick_x(t.tick) + 0.5,
                             TEMPO_Y - STRIP + 2, 0, l.grid_bottom - (TEMPO_Y - STRIP + 2), {}});
    }
    for (size_t k = 0; k < roll.calls.size(); ++k) {
        const RollCall& c = roll.calls[k];
        const double x = tick_x(c.tick), call_y = TEMPO_Y + (l.call_rows[k] + 1) * STRIP;
        items.push_back({Shape::rect, "pattern-call", CHANNEL_COLOUR[c.channel], x, call_y - 8,
                         2, 9, {}});
        items.push_back({Shape::text, "pattern-label", CHANNEL_COLOUR[c.channel], x + 3, call_y,
                         0, 0, "p" + std::to_string(c.pattern)});
    }
}

std::string source_of(const Roll& roll, uint32_t offset)
{
    if (offset >= roll.byte_places.size() || roll.byte_places[offset].line == 0) return {};
    const SourcePlace& at = roll.byte_places[offset];
    return std::to_string(at.line) + ":" + std::to_string(at.column);
}

void add_music(const Roll& roll, const Layout& l, std::vector<Item>& items)
{
    for (const RollNote& n : roll.notes) {
        const double w = std::max(1.0, (n.end - n.start) * TICK_PX - 1);
        items.push_back({Shape::rect, "note", CHANNEL_COLOUR[n.channel], tick_x(n.start),
                         l.pitch_y(n.pitch) + 0.5, w, SEMITONE_PX - 1, {}, source_of(roll, n.offset)});
        if (n.tied_from >= 0) {
            const double from = l.pitch_y(n.tied_from) + SEMITONE_PX / 2;
            items.push_back({Shape::line, "tie", CHANNEL_COLOUR[n.channel], tick_x(n.start),
                             from, 0, l.pitch_y(n.pitch) + SEMITONE_PX / 2 - from, {}});
        }
    }
    for (const RollHit& h : roll.hits)
        items.push_back({Shape::rect, "drum-hit", CHANNEL_COLOUR[DRUM_CHANNEL],
                         tick_x(h.tick), l.lane_y(h.sample) + 1, 3, LANE_PX - 2, {}, source_of(roll, h.offset)});
}

// Where each channel reaches its closing hold, and the hold shaded from
// the point where every channel is in it.
void add_holds(const Roll& roll, const Layout& l, std::vector<Item>& items)
{
    int64_t all_in = 0;
    for (int64_t t : roll.hold_tick) all_in = t < 0 ? -1 : std::max(all_in, t);
    if (all_in >= 0 && static_cast<uint32_t>(all_in) < roll.end_tick) {
        const double x = tick_x(static_cast<uint32_t>(all_in));
        items.push_back({Shape::rect, "hold", HOLD, x, l.top, tick_x(roll.end_tick) - x,
                         l.grid_bottom - l.top, {}});
        items.push_back({Shape::text, "hold-label", INK, x + 3, l.top + 10, 0, 0, "closing hold"});
    }
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const int64_t t = roll.hold_tick[c];
        if (t < 0 || static_cast<uint32_t>(t) >= roll.end_tick) continue;
        items.push_back({Shape::rect, "hold-mark", CHANNEL_COLOUR[c],
                         tick_x(static_cast<uint32_t>(t)), l.grid_bottom + 1, 2, 4, {}});
    }
}

void add_legend(const Layout& l, std::vector<Item>& items)
{
    for (int c = 0; c < CHANNEL_COUNT; ++c) {
        const double x = LEFT + c * l.legend_item, y = l.grid_bottom + 9;
        items.push_back({Shape::rect, "legend", CHANNEL_COLOUR[c], x, y, 10, 8, {}});
        items.push_back({Shape::text, "legend-label", INK, x + 13, y + 8, 0, 0, l.legend_labels[c]});
    }
}

std::vector<Item> roll_items(const Roll& roll, const Layout& l, const std::string& title)
{
    std::vector<Item> items;
    add_background(roll, l, items);
    items.push_back({Shape::text, "title", INK, 4, TITLE - 4, 0, 0, title});
    // The hold's shade goes under the music, its marks with it.
    add_holds(roll, l, items);
    add_markers(roll, l, items);
    add_music(roll, l, items);
    add_legend(l, items);
    return items;
}

void draw_items(cairo_t* cr, const std::vector<Item>& items)
{
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 9);
    cairo_set_line_width(cr, 1);
    const double dash[] = {3, 2};
    for (const Item& it : items) {
        cairo_set_source_rgb(cr, it.colour.r, it.colour.g, it.colour.b);
        switch (it.shape) {
        case Shape::rect:
            cairo_rectangle(cr, it.x, it.y, it.w, it.h);
            cairo_fill(cr);
            break;
        case Shape::line:
        case Shape::dashed_line:
            cairo_set_dash(cr, dash, it.shape == Shape::dashed_line ? 2 : 0, 0);
            cairo_move_to(cr, it.x, it.y);
            cairo_line_to(cr, it.x + it.w, it.y + it.h);
            cairo_stroke(cr);
            break;
        case Shape::text:
            cairo_move_to(cr, it.x, it.y);
            cairo_show_text(cr, it.text.c_str());
            break;
        }
    }
}

cairo_status_t append_to_string(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

std::string xml_escaped(const std::string& text)
{
    std::string escaped;
    for (const char ch : text) {
        switch (ch) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += ch;
        }
    }
    return escaped;
}

// cairo writes one element per shape, in drawing order, as the children of
// the page's group: give each the class of its role, and a text (which cairo
// draws as glyphs) its words as a label that tools and readers can find.
// False if the elements and the shapes do not pair up.
bool add_classes(std::string& svg, const std::vector<Item>& items)
{
    size_t at = svg.find("<g id=\"surface");
    if (at == std::string::npos) return false;
    at = svg.find('>', at) + 1;
    std::string classed = svg.substr(0, at);
    size_t k = 0;
    for (int depth = 0;;) {
        const size_t open = svg.find('<', at);
        if (open == std::string::npos) return false;
        if (svg.compare(open, 2, "</") == 0) {
            if (depth-- == 0) break;
            classed.append(svg, at, open + 2 - at);
            at = open + 2;
            continue;
        }
        const size_t name_end = svg.find_first_of(" />", open);
        const size_t tag_end = svg.find('>', open);
        if (name_end == std::string::npos || tag_end == std::string::npos) return false;
        classed.append(svg, at, name_end - at);
        if (depth == 0) {
            if (k == items.size()) return false;
            const Item& item = items[k++];
            classed += std::string(" class=\"") + item.role + "\"";
            if (item.shape == Shape::text) classed += " aria-label=\"" + xml_escaped(item.text) + "\"";
            if (!item.source.empty()) classed += " data-source=\"" + item.source + "\"";
        }
        if (svg[tag_end - 1] != '/') ++depth;
        at = name_end;
    }
    classed.append(svg, at, std::string::npos);
    svg.swap(classed);
    return k == items.size();
}

bool draw_svg(const std::vector<Item>& items, const Layout& l, std::string& svg, std::string& error)
{
    cairo_surface_t* surface =
        cairo_svg_surface_create_for_stream(append_to_string, &svg, l.width, l.height);
    cairo_t* cr = cairo_create(surface);
    draw_items(cr, items);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = std::string("cairo failed: ") + cairo_status_to_string(status);
        return false;
    }
    if (!add_classes(svg, items)) {
        error = "cairo's SVG does not match the shapes drawn";
        return false;
    }
    return true;
}

bool draw_png(const std::vector<Item>& items, const Layout& l, std::string& png, std::string& error)
{
    const int w = static_cast<int>(l.width), h = static_cast<int>(l.height);
    if (w > PNG_MAX_SIDE || h > PNG_MAX_SIDE) {
        error = "the roll is " + std::to_string(w) + " x " + std::to_string(h) +
                " pixels, more than a PNG roll can hold (" + std::to_string(PNG_MAX_SIDE) +
                "); write it as .svg";
        return false;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface);
    draw_items(cr, items);
    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, append_to_string, &png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) error = std::string("cairo failed: ") + cairo_status_to_string(status);
    return status == CAIRO_STATUS_SUCCESS;
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool roll_format_of(const std::string& path, RollFormat& format)
{
    if (ends_with(path, ".svg")) format = RollFormat::svg;
    else if (ends_with(path, ".png")) format = RollFormat::png;
    else return false;
    return true;
}

bool draw_roll(const Roll& roll, const std::string& title, RollFormat format, std::string& picture,
               std::string& error)
{
    const Layout layout = lay_out(roll);
    const uint32_t bars = counted_bars(roll);
    const std::vector<Item> items =
        roll_items(roll, layout, title + ", " + std::to_string(bars) + (bars == 1 ? " bar" : " bars"));
    const bool drawn = format == RollFormat::svg ? draw_svg(items, layout, picture, error)
                                                 : draw_png(items, layout, picture, error);
    // Give back the font caches cairo and fontconfig keep for the process,
    // so a leak checker sees a clean exit.
    cairo_debug_reset_static_data();
    FcFini();
    return drawn;
}
