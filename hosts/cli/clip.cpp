#include "hosts/cli/clip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

SourceFrames::SourceFrames(const std::string& path, const std::string& display_name, const Span& span,
                           bool interlaced)
    : path_(path), display_name_(display_name), span_(span), interlaced_(interlaced)
{
}

const PIXEL_YC* SourceFrames::frame(int n)
{
    if (n < 0)
        return nullptr;
    if (n == position_)
        return yc_.data();
    if (!decoder_ || n < position_) {
        decoder_ = std::make_unique<VideoDecoder>(path_, display_name_, span_, Truncation::Ignore, interlaced_);
        position_ = -1;
    }
    FramePtr picture;
    for (int frame = decoder_->frames_read(); frame <= n; ++frame) {
        picture = decoder_->next();
        if (!picture)
            return nullptr;
    }
    picture_to_yc(picture.get(), yc_);
    position_ = n;
    return yc_.data();
}

bool is_stream(const std::string& path)
{
    struct stat info;
    return path == "-" || (stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)));
}

SpooledInput::SpooledInput(const std::string& stream, const std::string& display_name)
{
    const char* directory = std::getenv("TMPDIR");
    std::string name = std::string(directory != nullptr && *directory != '\0' ? directory : "/tmp") +
                       "/norel-input-XXXXXX";
    const int in = stream == "-" ? STDIN_FILENO : open(stream.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw Failure(display_name + ": " + std::strerror(errno));
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        const int error = errno;
        if (in != STDIN_FILENO)
            close(in);
        throw Failure(display_name + ": cannot create a temporary copy: " + std::strerror(error));
    }
    auto fail = [&](const std::string& what) {
        const int error = errno;
        close(fd);
        unlink(name.c_str());
        if (in != STDIN_FILENO)
            close(in);
        throw Failure(display_name + ": " + what + ": " + std::strerror(error));
    };
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR && !stop_requested)
            continue;
        if (stop_requested) {
            close(fd);
            unlink(name.c_str());
            if (in != STDIN_FILENO)
                close(in);
            stop_if_requested();
        }
        if (got < 0)
            fail("read error");
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(fd, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                fail("cannot keep a temporary copy in " + name);
            done += put;
        }
    }
    if (in != STDIN_FILENO)
        close(in);
    if (close(fd) != 0) {
        const int error = errno;
        unlink(name.c_str());
        throw Failure(display_name + ": cannot keep a temporary copy in " + name + ": " + std::strerror(error));
    }
    path_ = name;
}

SpooledInput::~SpooledInput()
{
    unlink(path_.c_str());
}
