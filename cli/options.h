// The command line of norel. The filter's options, their ranges, defaults
// and labels are read from the filter's own descriptor.
#pragma once

#include <string>
#include <vector>

#include "cli/av.h"
#include "host/filter.h"

// A command line that cannot be carried out; the user is pointed at --help.
struct UsageError : Failure {
    using Failure::Failure;
};

struct Options {
    enum class Mode { Render, Synthesize, Help };
    Mode mode = Mode::Render;

    std::string input;   // Render: a file, a pattern such as frame%04d.png, or "-"
    std::string output;  // Render: empty when only a still is asked for; Synthesize: the clip

    // The filter's settings, starting from the descriptor's defaults.
    std::vector<int> track;
    std::vector<int> check;

    bool preview = false;  // the editor previews instead of saving: is_saving answers no
    bool compare = false;  // source and result side by side
    bool quiet = false;    // no progress line
    bool verbose = false;  // FFmpeg's own warnings too
    int crf = 18;          // H.264 quality
    int still_frame = -1;  // frame written alone to still_path, -1 for none
    std::string still_path;

    // --synthesize
    int frames = 60;
    int width = 720;
    int height = 480;
    AVRational rate{30000, 1001};
    AVPixelFormat pixel_format = AV_PIX_FMT_YUV420P;
};

// Reads argv[1..argc-1]; throws UsageError naming what is wrong.
Options parse_options(int argc, const char* const* argv, const FILTER_DLL* filter);

std::string help_text(const FILTER_DLL* filter);

// A label of the descriptor, in code page 932, as UTF-8.
std::string label_as_utf8(const char* cp932);
