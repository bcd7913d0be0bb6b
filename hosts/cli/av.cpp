#include "hosts/cli/av.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

volatile std::sig_atomic_t stop_requested = 0;

void stop_if_requested()
{
    if (stop_requested)
        throw Failure(std::string("interrupted by SIG") + sigabbrev_np(stop_requested) + "; nothing was written");
}

int stop_requested_callback(void*)
{
    return stop_requested != 0;
}

std::string av_error_text(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

FramePtr make_frame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr make_packet()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

FramePtr make_picture(AVPixelFormat format, int width, int height)
{
    FramePtr picture = make_frame();
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture.get(), 0) < 0)
        throw std::bad_alloc();
    return picture;
}

std::optional<YuvLayout> yuv_layout_of(AVPixelFormat format)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr)
        return std::nullopt;
    const uint64_t unusable = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_ALPHA |
                              AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BITSTREAM |
                              AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER;
    if ((desc->flags & unusable) != 0 || (desc->nb_components != 1 && desc->nb_components != 3))
        return std::nullopt;
    const int depth = desc->comp[0].depth;
    const int sample_bytes = depth > 8 ? 2 : 1;
    if (depth < 8 || depth > 12)
        return std::nullopt;
    // Native byte order only: the conversion reads 16-bit samples as such.
    if (sample_bytes == 2 && (desc->flags & AV_PIX_FMT_FLAG_BE) != 0)
        return std::nullopt;
    for (int i = 0; i < desc->nb_components; ++i) {
        const AVComponentDescriptor& c = desc->comp[i];
        if (c.plane != i || c.step != sample_bytes || c.offset != 0 || c.shift != 0 || c.depth != depth)
            return std::nullopt;
    }
    YuvLayout layout;
    layout.depth = depth;
    layout.has_chroma = desc->nb_components == 3;
    layout.chroma_shift_x = layout.has_chroma ? desc->log2_chroma_w : 0;
    layout.chroma_shift_y = layout.has_chroma ? desc->log2_chroma_h : 0;
    // The "J" formats are the plain ones in full range.
    layout.full_range = std::string(desc->name).rfind("yuvj", 0) == 0;
    return layout;
}

YuvLayout yuv_layout_of(const AVFrame* picture)
{
    std::optional<YuvLayout> layout = yuv_layout_of(static_cast<AVPixelFormat>(picture->format));
    if (!layout)
        throw std::logic_error("picture is not in a working format");
    layout->full_range = layout->full_range || picture->color_range == AVCOL_RANGE_JPEG;
    return *layout;
}

YuvPlanes planes_of(const AVFrame* picture)
{
    YuvPlanes planes{};
    for (int i = 0; i < 3; ++i) {
        planes.data[i] = picture->data[i];
        planes.linesize[i] = picture->linesize[i];
    }
    return planes;
}

YuvPicture yuv_picture_of(const AVFrame* picture)
{
    YuvPicture yuv = {};
    yuv.layout = yuv_layout_of(picture);
    yuv.packing = YUV_PLANAR;
    for (int i = 0; i < 3; ++i) {
        yuv.data[i] = picture->data[i];
        yuv.linesize[i] = picture->linesize[i];
    }
    yuv.width = picture->width;
    yuv.height = picture->height;
    yuv.interlaced = picture->interlaced_frame;
    return yuv;
}

void picture_to_yc(const AVFrame* picture, std::vector<PIXEL_YC>& yc)
{
    yc.resize(static_cast<size_t>(picture->width) * picture->height);
    const YuvPicture yuv = yuv_picture_of(picture);
    yuv_picture_to_yc(&yuv, yc.data(), picture->width);
}

AVPixelFormat planar_format(bool has_chroma, int chroma_shift_x, int chroma_shift_y, int depth)
{
    std::string name = has_chroma ? "yuv" : "gray";
    if (has_chroma) {
        // 4:4:4, 4:2:2, 4:2:0, 4:4:0, 4:1:1, 4:1:0 by their shifts.
        static const char* const names[3][3] = {{"444", "440", ""}, {"422", "420", ""}, {"411", "", "410"}};
        if (chroma_shift_x > 2 || chroma_shift_y > 2 || names[chroma_shift_x][chroma_shift_y][0] == '\0')
            return AV_PIX_FMT_NONE;
        name += names[chroma_shift_x][chroma_shift_y];
        name += "p";
    }
    if (depth > 8)
        name += std::to_string(depth) + "le";
    return av_get_pix_fmt(name.c_str());
}

AVColorSpace effective_colorspace(AVColorSpace tag, int height)
{
    if (tag != AVCOL_SPC_UNSPECIFIED && tag != AVCOL_SPC_RESERVED)
        return tag;
    return height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

static int swscale_matrix(AVColorSpace colorspace)
{
    switch (colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return SWS_CS_ITU601;
    }
}

bool is_rgb(AVPixelFormat format)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc != nullptr && (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

FramePtr FormatConverter::convert(const AVFrame* picture, AVPixelFormat target, AVColorRange target_range)
{
    const auto source = static_cast<AVPixelFormat>(picture->format);
    if (!scaler_ || source != source_format_ || target != target_format_ ||
        picture->width != width_ || picture->height != height_) {
        scaler_.reset(sws_getContext(picture->width, picture->height, source, picture->width,
                                     picture->height, target,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT |
                                         SWS_FULL_CHR_H_INP | SWS_BITEXACT,
                                     nullptr, nullptr, nullptr));
        if (!scaler_)
            throw Failure(std::string("cannot convert pictures from ") + av_get_pix_fmt_name(source) +
                          " to " + av_get_pix_fmt_name(target));
        source_format_ = source;
        target_format_ = target;
        width_ = picture->width;
        height_ = picture->height;
    }
    // RGB is always full range; YUV follows its tag, limited when untagged.
    const int* matrix = sws_getCoefficients(
        swscale_matrix(effective_colorspace(picture->colorspace, picture->height)));
    const int source_full = is_rgb(source) || picture->color_range == AVCOL_RANGE_JPEG ||
                            yuv_layout_of(source).value_or(YuvLayout{}).full_range;
    const int target_full = is_rgb(target) || target_range == AVCOL_RANGE_JPEG;
    sws_setColorspaceDetails(scaler_.get(), matrix, source_full, matrix, target_full, 0, 1 << 16, 1 << 16);

    FramePtr result = make_picture(target, picture->width, picture->height);
    av_frame_copy_props(result.get(), picture);
    result->color_range = is_rgb(target) ? AVCOL_RANGE_JPEG : target_range;
    sws_scale(scaler_.get(), picture->data, picture->linesize, 0, picture->height, result->data,
              result->linesize);
    return result;
}
