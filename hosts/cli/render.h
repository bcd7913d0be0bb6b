// The main job: decodes one clip, runs the filter over its frames on every
// core and writes what comes out, in order.
#pragma once

#include <chrono>
#include <string>

#include "hosts/cli/options.h"

// Decodes options.input, runs the filter over it and writes options.output
// and the still. Throws Failure.
void render(const Options& options);

// A progress line on stderr, redrawn a few times a second; disabled, it
// prints nothing.
class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void counting(const std::string& name, int frames);
    // total is -1 when the clip's length is not known; it may be an
    // estimate, so the line shows 100 % only in the summary.
    void frames(int done, int total);
    // Removes the line.
    void clear();
    // Replaces the line by one that sums up the finished work on `output`.
    void summary(int frames, const std::string& output);

private:
    void show(const std::string& text);

    bool enabled_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_shown_;
    size_t shown_length_ = 0;
};
