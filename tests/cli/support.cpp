#include "tests/cli/support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/host_services.h"
#include "hosts/aviutl/descriptor.h"

namespace fs = std::filesystem;

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "norel-cli-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch directory");
    root_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::vector<std::string> ScratchDir::entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult run_norel(const std::vector<std::string>& arguments, const RunOptions& options)
{
    int error_pipe[2];
    if (pipe(error_pipe) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> argv_strings = {NOREL_PROGRAM};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : argv_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        const int in = open(options.stdin_path.c_str(), O_RDONLY);
        const int out = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0)
            _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(error_pipe[1], STDERR_FILENO);
        close(error_pipe[0]);
        if (options.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
            // Writes past the limit then fail with EFBIG instead of killing.
            signal(SIGXFSZ, SIG_IGN);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(error_pipe[1]);
    // Interrupts the program when asked to and kills it when it hangs.
    std::atomic<bool> finished{false};
    std::thread watchdog([&finished, child, options] {
        const auto start = std::chrono::steady_clock::now();
        bool interrupted = false;
        while (!finished) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (!interrupted && options.interrupt_after_ms >= 0 &&
                elapsed >= std::chrono::milliseconds(options.interrupt_after_ms)) {
                kill(child, options.interrupt_signal);
                interrupted = true;
            }
            if (elapsed >= std::chrono::seconds(options.timeout_seconds)) {
                kill(child, SIGKILL);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    RunResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(error_pipe[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        result.stderr_text.append(buffer, static_cast<size_t>(got));
    }
    close(error_pipe[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    finished = true;
    watchdog.join();
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.peak_rss_kb = usage.ru_maxrss;
    return result;
}

void norel_ok(const std::vector<std::string>& arguments, const RunOptions& options)
{
    const RunResult result = run_norel(arguments, options);
    std::string command = "norel";
    for (const std::string& a : arguments)
        command += " " + a;
    ASSERT_EQ(result.exit_status, 0) << command << "\n" << result.stderr_text;
    ASSERT_EQ(result.stderr_text, "") << command;
}

void synthesize_clip(const std::string& path, int frames, const std::string& size, const std::string& pixel_format)
{
    norel_ok({"--synthesize", "-y", "--frames", std::to_string(frames), "--size", size, "--pix-fmt", pixel_format, path});
}

namespace {

size_t sample_bytes(const YuvLayout& layout)
{
    return layout.depth > 8 ? 2 : 1;
}

size_t chroma_width(const Y4mClip& clip)
{
    return (clip.width + (1 << clip.layout.chroma_shift_x) - 1) >> clip.layout.chroma_shift_x;
}

size_t chroma_height(const Y4mClip& clip)
{
    return (clip.height + (1 << clip.layout.chroma_shift_y) - 1) >> clip.layout.chroma_shift_y;
}

// The sample layout a YUV4MPEG2 colour tag names.
YuvLayout layout_of_tag(const std::string& tag)
{
    YuvLayout layout;
    std::string base = tag;
    if (const size_t p = tag.find('p'); p != std::string::npos && p + 1 < tag.size() && std::isdigit(tag[p + 1])) {
        layout.depth = std::stoi(tag.substr(p + 1));
        base = tag.substr(0, p);
    }
    if (base.rfind("mono", 0) == 0) {
        layout.has_chroma = false;
        layout.chroma_shift_x = layout.chroma_shift_y = 0;
        if (base.size() > 4)
            layout.depth = std::stoi(base.substr(4));
    } else if (base.rfind("420", 0) == 0) {
        layout.chroma_shift_x = layout.chroma_shift_y = 1;
    } else if (base == "422") {
        layout.chroma_shift_x = 1;
        layout.chroma_shift_y = 0;
    } else if (base == "444") {
        layout.chroma_shift_x = layout.chroma_shift_y = 0;
    } else if (base == "411") {
        layout.chroma_shift_x = 2;
        layout.chroma_shift_y = 0;
    } else {
        throw std::runtime_error("unknown YUV4MPEG2 colour tag " + tag);
    }
    return layout;
}

}  // namespace

YuvPlanes Y4mClip::planes(size_t frame)
{
    const size_t bytes = sample_bytes(layout);
    uint8_t* data = frames.at(frame).data();
    YuvPlanes planes{};
    planes.data[0] = data;
    planes.linesize[0] = static_cast<int>(width * bytes);
    if (layout.has_chroma) {
        const size_t chroma_size = chroma_width(*this) * chroma_height(*this) * bytes;
        planes.data[1] = data + width * height * bytes;
        planes.data[2] = planes.data[1] + chroma_size;
        planes.linesize[1] = planes.linesize[2] = static_cast<int>(chroma_width(*this) * bytes);
    }
    return planes;
}

YuvPicture Y4mClip::picture(size_t frame)
{
    const YuvPlanes p = planes(frame);
    YuvPicture picture = {};
    picture.layout = layout;
    picture.interlaced = interlaced;
    for (int i = 0; i < 3; ++i) {
        picture.data[i] = p.data[i];
        picture.linesize[i] = p.linesize[i];
    }
    picture.width = width;
    picture.height = height;
    return picture;
}

std::vector<PIXEL_YC> Y4mClip::yc(size_t frame)
{
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(width) * height);
    const YuvPicture from = picture(frame);
    yuv_picture_to_yc(&from, pixels.data(), width);
    return pixels;
}

std::vector<uint8_t> Y4mClip::bytes_of(const std::vector<PIXEL_YC>& yc) const
{
    Y4mClip copy = *this;
    copy.frames.assign(1, std::vector<uint8_t>(frames.at(0).size()));
    const YuvPicture to = copy.picture(0);
    yc_to_yuv_picture(yc.data(), width, &to);
    return copy.frames[0];
}

Y4mClip read_y4m(const std::string& path)
{
    const std::string data = read_file(path);
    Y4mClip clip;
    size_t end = data.find('\n');
    if (data.rfind("YUV4MPEG2 ", 0) != 0 || end == std::string::npos)
        throw std::runtime_error(path + " is not YUV4MPEG2");
    clip.header = data.substr(0, end);
    std::istringstream tokens(clip.header);
    std::string token;
    std::string colour = "420jpeg";
    while (tokens >> token) {
        if (token[0] == 'W')
            clip.width = std::stoi(token.substr(1));
        else if (token[0] == 'H')
            clip.height = std::stoi(token.substr(1));
        else if (token[0] == 'C')
            colour = token.substr(1);
        else if (token == "XCOLORRANGE=FULL")
            clip.layout.full_range = true;
        else if (token == "It" || token == "Ib")
            clip.interlaced = true;
    }
    const bool full_range = clip.layout.full_range;
    clip.layout = layout_of_tag(colour);
    clip.layout.full_range = full_range;
    const size_t bytes = sample_bytes(clip.layout);
    size_t frame_size = static_cast<size_t>(clip.width) * clip.height * bytes;
    if (clip.layout.has_chroma)
        frame_size += 2 * chroma_width(clip) * chroma_height(clip) * bytes;
    size_t position = end + 1;
    while (position < data.size()) {
        if (data.compare(position, 5, "FRAME") != 0)
            throw std::runtime_error(path + ": no FRAME marker");
        position = data.find('\n', position);
        if (position == std::string::npos || position + 1 + frame_size > data.size())
            throw std::runtime_error(path + ": frame cut short");
        ++position;
        clip.frames.emplace_back(data.begin() + static_cast<long>(position),
                                 data.begin() + static_cast<long>(position + frame_size));
        position += frame_size;
    }
    return clip;
}

FilterSettings default_settings()
{
    const FILTER_DLL* filter = GetFilterTable();
    FilterSettings settings;
    settings.track.assign(filter->track_default, filter->track_default + filter->track_n);
    settings.check.assign(filter->check_default, filter->check_default + filter->check_n);
    return settings;
}

std::vector<std::vector<PIXEL_YC>> run_filter_directly(const std::vector<std::vector<PIXEL_YC>>& clip,
                                                       int width, int height, const FilterSettings& settings)
{
    const int frame_n = static_cast<int>(clip.size());
    auto nearest = [&](int n) { return clip[static_cast<size_t>(std::clamp(n, 0, frame_n - 1))].data(); };
    PluginHost host(GetFilterTable, width, height, width);
    std::copy(settings.track.begin(), settings.track.end(), host.track().begin());
    std::copy(settings.check.begin(), settings.check.end(), host.check().begin());
    host.services().saving = settings.saving;
    host.services().filtering_frame = nearest;
    host.services().source_frame = nearest;
    std::vector<std::vector<PIXEL_YC>> result;
    for (int n = 0; n < frame_n; ++n) {
        std::copy(clip[n].begin(), clip[n].end(), host.edit());
        EXPECT_TRUE(host.process(n, frame_n)) << "frame " << n;
        result.emplace_back(host.edit(), host.edit() + clip[n].size());
    }
    return result;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}
