#include "cli/clip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

ClipWindow::ClipWindow(VideoDecoder& decoder, int frame_count, const std::string& display_name,
                       BufferPool& buffers)
    : frame_count_(frame_count), display_name_(display_name), buffers_(buffers)
{
    decode_thread_.start([this, &decoder] { decode_all(decoder); }, [this] { decoded_frames_.close(); });
    decode_ahead();
}

ClipWindow::~ClipWindow()
{
    // Wakes a decode thread waiting for room; it stops after its frame.
    decoded_frames_.cancel();
    decode_thread_.join();
}

void ClipWindow::decode_all(VideoDecoder& decoder)
{
    while (FramePtr picture = decoder.next()) {
        std::vector<PIXEL_YC> yc = buffers_.take();
        picture_to_yc(picture.get(), yc);
        if (!decoded_frames_.push(Decoded{std::move(picture), std::move(yc)}))
            return;
    }
}

bool ClipWindow::advance()
{
    const int next = current_ + 1;
    if (slot(next) == nullptr)
        return false;
    current_ = next;
    while (!slots_.empty() && slots_.front().number < current_ - 1) {
        buffers_.give_back(std::move(slots_.front().frame.yc));
        slots_.pop_front();
    }
    decode_ahead();
    return true;
}

int ClipWindow::known_length() const
{
    return frame_count_ >= 0 ? frame_count_ : decoded_;
}

void ClipWindow::decode_ahead()
{
    if (ended_ || decoded_ > current_ + 1)
        return;
    std::optional<Decoded> frame = decoded_frames_.pop();
    if (!frame) {
        decode_thread_.rethrow_failure();
        ended_ = true;
        if (frame_count_ >= 0 && decoded_ != frame_count_)
            throw Failure(display_name_ + ": only " + std::to_string(decoded_) + " of its " +
                          std::to_string(frame_count_) + " frames could be read");
        return;
    }
    if (frame_count_ >= 0 && decoded_ >= frame_count_)
        throw Failure(display_name_ + ": gave more frames on the second reading than on the first");
    slots_.push_back(Slot{decoded_++, std::move(*frame)});
}

ClipWindow::Slot* ClipWindow::slot(int n)
{
    for (Slot& s : slots_) {
        if (s.number == n)
            return &s;
    }
    return nullptr;
}

const AVFrame* ClipWindow::picture(int n)
{
    const Slot* s = slot(n);
    return s != nullptr ? s->frame.picture.get() : nullptr;
}

const PIXEL_YC* ClipWindow::yc(int n)
{
    const Slot* s = slot(n);
    return s != nullptr && !s->frame.yc.empty() ? s->frame.yc.data() : nullptr;
}

std::vector<PIXEL_YC> ClipWindow::take_yc(int n)
{
    Slot* s = slot(n);
    return s != nullptr ? std::move(s->frame.yc) : std::vector<PIXEL_YC>{};
}

SourceFrames::SourceFrames(const std::string& path, const std::string& display_name, const Span& span)
    : path_(path), display_name_(display_name), span_(span)
{
}

const PIXEL_YC* SourceFrames::frame(int n)
{
    if (n < 0)
        return nullptr;
    if (n == position_)
        return yc_.data();
    if (!decoder_ || n < position_) {
        decoder_ = std::make_unique<VideoDecoder>(path_, display_name_, span_);
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
