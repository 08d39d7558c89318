#include "render_progress.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int BAR_WIDTH = 30;

}  // namespace

ProgressBar::ProgressBar(bool shown, std::FILE* to)
    : shown_(shown), to_(to), start_(std::chrono::steady_clock::now())
{
}

void ProgressBar::show(const std::string& stage, double fraction)
{
    if (!shown_) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int percent = static_cast<int>(fraction * 100.0);
    if (percent == percent_ && stage == stage_) return;
    percent_ = percent;
    stage_ = stage;
    draw(stage, fraction);
}

void ProgressBar::finish()
{
    if (!shown_) return;
    draw("done", 1.0);
    std::fputc('\n', to_);
    std::fflush(to_);
}

void ProgressBar::draw(const std::string& stage, double fraction)
{
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int filled = static_cast<int>(fraction * BAR_WIDTH);
    const std::string bar = std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-');
    // Carriage return and erase-to-end-of-line: the bar redraws in place.
    std::fprintf(to_, "\r\033[K[%s] %3d%%  %s  %s", bar.c_str(), static_cast<int>(fraction * 100.0),
                 time_left_text(elapsed, fraction).c_str(), stage.c_str());
    std::fflush(to_);
}

std::string time_left_text(double elapsed, double fraction)
{
    if (fraction >= 1.0) return "0:00 left";
    if (fraction < 0.01 || elapsed < 0.2) return "--:-- left";
    const long seconds = std::lround(elapsed * (1.0 - fraction) / fraction);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld left", seconds / 60, seconds % 60);
    return text;
}
