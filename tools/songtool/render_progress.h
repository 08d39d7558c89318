// A one-line progress bar on standard error for a long render: the stage,
// the percentage of the whole job and an estimate of the time left.
#pragma once
#include <chrono>
#include <cstdio>
#include <string>

class ProgressBar {
public:
    // Draws on `to` only if `shown`; otherwise every call does nothing.
    ProgressBar(bool shown, std::FILE* to);

    // `fraction` (0..1) of the whole job is done, now in `stage`. Redraws
    // when the percentage or the stage changes.
    void show(const std::string& stage, double fraction);

    // The bar at 100 %, and the line ended.
    void finish();

private:
    void draw(const std::string& stage, double fraction);

    bool shown_;
    std::FILE* to_;
    std::chrono::steady_clock::time_point start_;
    int percent_ = -1;
    std::string stage_;
};

// "  0:42 left" style text for the time left after `elapsed` seconds with
// `fraction` done; "--:--" until there is enough to go on.
std::string time_left_text(double elapsed, double fraction);
