// The command line of norel. The filter's options, their ranges, defaults
// and labels are read from the engine's settings table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hosts/cli/av.h"
#include "engine/settings_table.h"

// A command line that cannot be carried out; the user is pointed at --help.
struct UsageError : Failure {
    using Failure::Failure;
};

// The part of a clip to work on, in AV_TIME_BASE units from its start.
struct Span {
    int64_t start = 0;
    int64_t end = INT64_MAX;  // exclusive
    bool whole() const { return start == 0 && end == INT64_MAX; }
};

struct Options {
    enum class Mode { Render, Synthesize, Help, Version };
    Mode mode = Mode::Render;

    std::string input;   // Render: a file, a pattern such as frame%04d.png, or "-"
    std::string output;  // Render: empty when only a still is asked for; Synthesize: the clip

    // The filter's settings, starting from the table's defaults, and those
    // the command line or a preset gave: the rectangle's and the field
    // order's others come from the picture and the input.
    EffectSettings settings;
    bool given[SETTING_COUNT] = {};

    bool preview = false;  // the editor previews instead of saving: is_saving answers no
    bool compare = false;  // source and result side by side
    bool quiet = false;    // no progress line
    bool verbose = false;  // FFmpeg's own warnings too
    int crf = 18;          // H.264 and VP9 quality
    int threads = 0;       // filter threads; 0 for one a core
    bool overwrite = false;  // -y: an existing output is replaced
    bool no_audio = false;
    bool strict = false;     // a truncated or damaged input is refused
    std::string codec;       // the output's video encoder; empty for the format's own
    Span span;
    std::string save_preset;  // the filter settings are written here
    int still_frame = -1;  // frame written alone to still_path, -1 for none
    std::string still_path;

    // --synthesize
    int frames = 60;
    int width = 720;
    int height = 480;
    AVRational rate{30000, 1001};
    // The output's pixel format; --synthesize writes yuv420p when none is given.
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
};

// Reads argv[1..argc-1]; throws UsageError naming what is wrong.
Options parse_options(int argc, const char* const* argv);

std::string help_text();

// The filter settings of `options` in the preset format that --preset reads.
std::string preset_text(const Options& options);

// The most filter threads --threads takes.
constexpr int most_threads = 256;

// A label of the descriptor, in code page 932, as UTF-8.
std::string label_as_utf8(const char* cp932);
