#include "hosts/cli/synthesize.h"

#include <unistd.h>

#include <cmath>
#include <vector>

#include "hosts/cli/encode.h"
#include "hosts/cli/render.h"

namespace {

// Converts gamma-corrected RGB (0..1) to the host's YC scale with the luma
// coefficients kr and kb of the picture's matrix.
struct Matrix {
    double kr, kb;

    PIXEL_YC yc(double r, double g, double b) const
    {
        const double y = kr * r + (1 - kr - kb) * g + kb * b;
        const double cb = (b - y) / (2 * (1 - kb));
        const double cr = (r - y) / (2 * (1 - kr));
        return {static_cast<short>(std::lround(y * 4096)), static_cast<short>(std::lround(cb * 4096)),
                static_cast<short>(std::lround(cr * 4096))};
    }
    PIXEL_YC grey(double level) const { return yc(level, level, level); }
};

// Draws frame `number` of a clip; rows of the bottom field are drawn half a
// frame later than those of the top field, as an interlaced camera sees
// them.
class TestPattern {
public:
    TestPattern(int width, int height, const Matrix& matrix)
        : width_(width), height_(height), matrix_(matrix)
    {
    }

    void draw(int number, std::vector<PIXEL_YC>& frame) const
    {
        frame.resize(static_cast<size_t>(width_) * height_);
        const int band = std::max(1, height_ / 3);
        for (int r = 0; r < height_; ++r) {
            const double time = number + (r & 1) * 0.5;
            PIXEL_YC* row = frame.data() + static_cast<size_t>(r) * width_;
            if (r < band)
                colour_bars(row);
            else if (r < 2 * band)
                motion(row, r - band, band, time);
            else
                edges(row, r - 2 * band);
        }
    }

private:
    // Seven bars at 75 %: white, yellow, cyan, green, magenta, red, blue.
    void colour_bars(PIXEL_YC* row) const
    {
        static const double bars[7][3] = {{.75, .75, .75}, {.75, .75, 0}, {0, .75, .75}, {0, .75, 0},
                                          {.75, 0, .75},   {.75, 0, 0},   {0, 0, .75}};
        for (int x = 0; x < width_; ++x) {
            const double* c = bars[x * 7 / width_];
            row[x] = matrix_.yc(c[0], c[1], c[2]);
        }
    }

    // Left half: a zone plate whose rings run outwards, reaching the
    // Nyquist frequency at the far corner. Right half: a white and a red box
    // crossing a dark ground in opposite directions.
    void motion(PIXEL_YC* row, int y, int band_height, double time) const
    {
        const int half = width_ / 2;
        const double cx = half / 2.0, cy = band_height / 2.0;
        const double reach = std::hypot(cx, cy);
        const double kPi = 3.14159265358979323846;
        for (int x = 0; x < half; ++x) {
            const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            row[x] = matrix_.grey(0.5 + 0.45 * std::cos(kPi * r2 / (2 * reach) - 0.8 * time));
        }
        const int span = width_ - half;
        const int box = std::max(2, span / 6);
        const int travel = std::max(1, span - box);
        auto position = [&](double speed) {
            const int step = static_cast<int>(std::lround(time * speed)) % (2 * travel);
            return half + (step < travel ? step : 2 * travel - step);
        };
        const int white = position(6);
        const int red = width_ - box - (position(4) - half);
        const bool white_rows = y > band_height / 8 && y < band_height / 2;
        const bool red_rows = y > band_height / 2 && y < band_height * 7 / 8;
        for (int x = half; x < width_; ++x) {
            if (white_rows && x >= white && x < white + box)
                row[x] = matrix_.grey(1);
            else if (red_rows && x >= red && x < red + box)
                row[x] = matrix_.yc(.75, 0, 0);
            else
                row[x] = matrix_.grey(0.2);
        }
    }

    // Left half: black and white lines 1, 2, 3, 4 and 8 rows high. Right
    // half: blocks of saturated colour meeting at horizontal edges.
    void edges(PIXEL_YC* row, int y) const
    {
        static const int heights[] = {1, 1, 2, 2, 3, 3, 4, 4, 8, 8};
        int position = y % 36;
        int stripe = 0;
        while (position >= heights[stripe])
            position -= heights[stripe++];
        const PIXEL_YC line = matrix_.grey(stripe % 2 == 0 ? 1.0 : 0.0);
        static const double blocks[4][3] = {{.75, 0, 0}, {0, 0, .75}, {0, .75, 0}, {.75, .75, 0}};
        const double* block = blocks[(y / 8) % 4];
        const PIXEL_YC colour = matrix_.yc(block[0], block[1], block[2]);
        for (int x = 0; x < width_; ++x)
            row[x] = x < width_ / 2 ? line : colour;
    }

    int width_;
    int height_;
    Matrix matrix_;
};

}  // namespace

void synthesize(const Options& options)
{
    const std::string output_name = options.output == "-" ? "standard output" : options.output;
    EncodeSettings settings;
    settings.frame_rate = options.rate;
    settings.sample_aspect = AVRational{1, 1};
    settings.field_order = AV_FIELD_TT;
    settings.crf = options.crf;
    settings.overwrite = options.overwrite;
    settings.codec = options.codec;
    std::unique_ptr<VideoWriter> writer = open_writer(options.output, output_name, settings);

    const AVColorSpace colorspace = effective_colorspace(AVCOL_SPC_UNSPECIFIED, options.height);
    const Matrix matrix = colorspace == AVCOL_SPC_BT709 ? Matrix{0.2126, 0.0722} : Matrix{0.299, 0.114};
    const TestPattern pattern(options.width, options.height, matrix);
    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO));
    std::vector<PIXEL_YC> frame;
    for (int n = 0; n < options.frames; ++n) {
        stop_if_requested();
        pattern.draw(n, frame);
        FramePtr picture = make_picture(options.pixel_format, options.width, options.height);
        picture->color_range = AVCOL_RANGE_MPEG;
        picture->colorspace = colorspace;
        picture->color_primaries = colorspace == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
        picture->color_trc = colorspace == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
        picture->sample_aspect_ratio = settings.sample_aspect;
        picture->interlaced_frame = 1;
        picture->top_field_first = 1;
        const YuvPicture yuv = yuv_picture_of(picture.get());
        yc_to_yuv_picture(frame.data(), options.width, &yuv);
        writer->write(picture.get());
        progress.frames(n + 1, options.frames);
    }
    progress.clear();
    writer->finish();
}
