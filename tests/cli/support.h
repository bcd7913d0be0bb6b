// What the command-line host's tests share: a scratch directory, running the
// built program, reading YUV4MPEG2 files without FFmpeg, and running the
// filter directly on frames the way the program should.
#pragma once

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/yuv_frame.h"
#include "engine/pixel_yc.h"

// Defined under AddressSanitizer, whose quarantine makes peak memory meaningless.
#if defined(__SANITIZE_ADDRESS__)
#define NOREL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NOREL_ADDRESS_SANITIZER 1
#endif
#endif

// A directory of its own for one test, removed afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string path(const std::string& name) const { return (root_ / name).string(); }
    // The names of the entries, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path root_;
};

struct RunOptions {
    std::string stdin_path = "/dev/null";
    std::string stdout_path = "/dev/null";
    long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, -1 for none
    int interrupt_after_ms = -1;  // send interrupt_signal after this long, -1 for never
    int interrupt_signal = SIGINT;
    int timeout_seconds = 120;    // then the program is killed: a hang fails the test
};

struct RunResult {
    int exit_status = -1;  // -1 when killed by a signal, the watchdog's included
    std::string stderr_text;
    long peak_rss_kb = 0;
};

// Runs the built norel with the arguments and waits for it.
RunResult run_norel(const std::vector<std::string>& arguments, const RunOptions& options = {});

// Runs norel and fails the test unless it succeeded silently.
void norel_ok(const std::vector<std::string>& arguments, const RunOptions& options = {});

// Writes a synthesised clip: norel --synthesize.
void synthesize_clip(const std::string& path, int frames, const std::string& size = "48x36",
                     const std::string& pixel_format = "yuv420p");

// A YUV4MPEG2 file read into memory.
struct Y4mClip {
    std::string header;
    int width = 0;
    int height = 0;
    YuvLayout layout;
    bool interlaced = false;  // "It" or "Ib": 4:2:0 chroma by field
    std::vector<std::vector<uint8_t>> frames;  // planes back to back, rows packed

    YuvPlanes planes(size_t frame);
    YuvPicture picture(size_t frame);
    std::vector<PIXEL_YC> yc(size_t frame);
    // A frame's bytes for these PIXEL_YC pixels.
    std::vector<uint8_t> bytes_of(const std::vector<PIXEL_YC>& yc) const;
};

Y4mClip read_y4m(const std::string& path);

// The filter's settings as the program's options would set them.
struct FilterSettings {
    std::vector<int> track;
    std::vector<int> check;
    bool saving = true;
};
FilterSettings default_settings();

// Every frame of the clip run through the filter directly, one call per
// frame in order, the host's services clamping frame numbers to the clip.
std::vector<std::vector<PIXEL_YC>> run_filter_directly(const std::vector<std::vector<PIXEL_YC>>& clip,
                                                       int width, int height, const FilterSettings& settings);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
