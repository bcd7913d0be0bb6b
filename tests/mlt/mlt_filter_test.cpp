// The MLT filter on frames made in memory: hostile sizes, formats and
// properties, the field order from the frame, the number from its position.
#include <framework/mlt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

mlt_profile profile = nullptr;

constexpr size_t guard_bytes = 64;

// An image of `format` as a producer hands it over, followed by random
// guard bytes that nothing may write.
struct Image {
    mlt_image_format format;
    int w, h;
    std::vector<uint8_t> bytes;
    size_t size;

    Image(mlt_image_format f, int width, int height, unsigned seed) : format(f), w(width), h(height)
    {
        size = static_cast<size_t>(std::max(0, mlt_image_format_size(f, w, h, nullptr)));
        bytes.resize(size + guard_bytes);
        std::mt19937 random(seed);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
    }
};

struct Result {
    int error;
    bool in_place;
    std::vector<uint8_t> bytes;  // the image and its guard after the filter
};

// Runs the filter with `properties` ("name=value" each) over a copy of the
// image, with the frame properties given.
Result run(mlt_filter filter, const Image& image,
           const std::vector<std::pair<const char*, const char*>>& frame_properties = {})
{
    std::vector<uint8_t> copy = image.bytes;
    mlt_frame frame = mlt_frame_init(nullptr);
    mlt_properties p = MLT_FRAME_PROPERTIES(frame);
    mlt_frame_set_image(frame, copy.data(), static_cast<int>(image.size), nullptr);
    mlt_properties_set_int(p, "format", image.format);
    mlt_properties_set_int(p, "width", image.w);
    mlt_properties_set_int(p, "height", image.h);
    for (const auto& [name, value] : frame_properties)
        mlt_properties_set(p, name, value);
    mlt_filter_process(filter, frame);
    uint8_t* out = nullptr;
    mlt_image_format format = image.format;
    int w = image.w, h = image.h;
    Result result;
    result.error = mlt_frame_get_image(frame, &out, &format, &w, &h, 1);
    result.in_place = out == copy.data();
    mlt_frame_close(frame);
    result.bytes = copy;
    return result;
}

mlt_filter make_filter(const std::vector<std::pair<const char*, const char*>>& properties)
{
    mlt_filter filter = mlt_factory_filter(profile, "norel", nullptr);
    EXPECT_NE(filter, nullptr);
    for (const auto& [name, value] : properties)
        mlt_properties_set(MLT_FILTER_PROPERTIES(filter), name, value);
    return filter;
}

struct HostileCase {
    const char* what;
    mlt_image_format format;
    int w, h;
    bool changes;  // show_range changes something: the picture has an even part
};

const HostileCase hostile_cases[] = {
    {"yuv422 1x1", mlt_image_yuv422, 1, 1, false},
    {"yuv422 3x3", mlt_image_yuv422, 3, 3, true},
    {"yuv422 721x5", mlt_image_yuv422, 721, 5, true},
    {"yuv422 2x1", mlt_image_yuv422, 2, 1, true},
    {"yuv420p 1x1", mlt_image_yuv420p, 1, 1, false},
    {"yuv420p 5x3", mlt_image_yuv420p, 5, 3, true},
    {"yuv420p 2x1", mlt_image_yuv420p, 2, 1, false},
    // MLT lays out the chroma rows of odd widths off 2-byte boundaries.
    {"yuv422p16 3x7", mlt_image_yuv422p16, 3, 7, false},
    {"yuv422p16 4x3", mlt_image_yuv422p16, 4, 3, true},
    {"yuv422p16 1x2", mlt_image_yuv422p16, 1, 2, false},
    {"rgba, which the filter does not take", mlt_image_rgba, 4, 4, false},
};

// Settings no user interface would give.
const std::vector<std::pair<const char*, const char*>> hostile_settings[] = {
    {{"show_range", "1"}},
    {{"cy", "1"}, {"shift", "99999"}, {"freq", "-5"}, {"width", "-7"}, {"height", "100000000"}},
    {{"cy", "1"}, {"rect", "-50 -9 1e9 3"}, {"mono", "1"}},
    {{"mono", "1"}, {"show_range", "1"}, {"rect", "0=0% 0% 0% 0%;2=-10% 50% 300% 1%"}},
    {{"cy", "1"}, {"decode", "notch"}, {"saturation", "-1000"}, {"hue", "720"}, {"left", "1"}, {"top", "-3"}},
    {{"cy", "1"}, {"decode", "bogus"}, {"chroma_bandwidth", "?"}, {"shift", "0=-256;3=256"}, {"lpf", "0"}},
    {{"mono", "1"}, {"left", "99999"}, {"top", "99999"}},
};

TEST(MltFilter, HostileFramesAndSettingsStayInsideTheImage)
{
    for (const HostileCase& c : hostile_cases) {
        const Image image(c.format, c.w, c.h, 11);
        ASSERT_GT(image.size, 0u) << c.what;
        for (const auto& settings : hostile_settings) {
            mlt_filter filter = make_filter(settings);
            const Result result = run(filter, image, {{"original_position", "3"}});
            mlt_filter_close(filter);
            EXPECT_EQ(result.error, 0) << c.what;
            EXPECT_TRUE(result.in_place) << c.what;
            EXPECT_TRUE(std::equal(result.bytes.begin() + image.size, result.bytes.end(), image.bytes.begin() + image.size))
                << c.what << ": the guard after the image changed";
            if (settings.front().first == std::string("show_range")) {
                EXPECT_EQ(result.bytes != image.bytes, c.changes) << c.what;
            }
        }
    }
}

TEST(MltFilter, ZeroSizedFrameIsLeftAlone)
{
    mlt_filter filter = make_filter({{"show_range", "1"}});
    Image image(mlt_image_yuv422, 0, 0, 1);
    image.bytes.assign(guard_bytes, 0x5A);
    image.size = 0;
    const Result result = run(filter, image);
    EXPECT_EQ(result.bytes, image.bytes);
    mlt_filter_close(filter);
}

// The number is the frame's place in its source: the same for a frame made
// twice and out of order, and C/Y's carrier alternates from frame to frame.
TEST(MltFilter, NumberFromTheFramesPosition)
{
    const Image image(mlt_image_yuv422, 64, 16, 5);
    mlt_filter filter = make_filter({{"cy", "1"}});
    const Result third = run(filter, image, {{"original_position", "3"}});
    const Result first = run(filter, image, {{"original_position", "0"}});
    const Result again = run(filter, image, {{"original_position", "3"}});
    mlt_filter_close(filter);
    EXPECT_NE(third.bytes, first.bytes);
    EXPECT_EQ(third.bytes, again.bytes);
}

// The field order: "tff" when set, else the frame's; progressive frames are
// top field first. (In 4:2:2, whose chroma lies alike in both.)
TEST(MltFilter, FieldOrderFromTheFrame)
{
    const Image image(mlt_image_yuv422, 32, 24, 9);
    auto with = [&](std::vector<std::pair<const char*, const char*>> settings,
                    std::vector<std::pair<const char*, const char*>> frame) {
        settings.push_back({"shift", "23"});
        mlt_filter filter = make_filter(settings);
        const Result result = run(filter, image, frame);
        mlt_filter_close(filter);
        return result.bytes;
    };
    const std::vector<uint8_t> top = with({{"tff", "1"}}, {});
    const std::vector<uint8_t> bottom = with({{"tff", "0"}}, {});
    ASSERT_NE(top, bottom);
    EXPECT_EQ(with({}, {{"progressive", "0"}, {"top_field_first", "0"}}), bottom);
    EXPECT_EQ(with({}, {{"progressive", "0"}, {"top_field_first", "1"}}), top);
    EXPECT_EQ(with({}, {{"progressive", "1"}, {"top_field_first", "0"}}), top);
    EXPECT_EQ(with({{"tff", "1"}}, {{"progressive", "0"}, {"top_field_first", "0"}}), top);
}

// Interlaced 4:2:0 keeps each field's colour: chroma rows alternating
// between two colours, one field moved by one field line, come back with
// every chroma row of both fields as it was but at the top and bottom.
// Interlaced are frames that say so, or without a word the profile, and any
// frame "tff" is given for.
TEST(MltFilter, Interlaced420KeepsEachFieldsColour)
{
    struct Case {
        std::vector<std::pair<const char*, const char*>> settings, frame;
        int profile_progressive;
        bool by_field;
    };
    const Case cases[] = {
        {{}, {{"progressive", "0"}}, 1, true},
        {{}, {{"progressive", "0"}, {"top_field_first", "0"}}, 1, true},
        {{{"tff", "0"}}, {{"progressive", "1"}}, 1, true},
        {{}, {{"progressive", "1"}}, 0, false},
        {{}, {}, 0, true},
        {{}, {}, 1, false},
    };
    const int profile_progressive = profile->progressive;
    const int w = 64, h = 48, cw = w / 2, ch = h / 2;
    Image image(mlt_image_yuv420p, w, h, 1);
    std::fill(image.bytes.begin(), image.bytes.begin() + w * h, 100);
    for (int r = 0; r < 2 * ch; ++r)  // cb rows, then cr rows
        std::fill_n(image.bytes.begin() + w * h + r * cw, cw, r < ch ? (r % 2 ? 200 : 90) : (r % 2 ? 100 : 220));
    for (const Case& c : cases) {
        std::vector<std::pair<const char*, const char*>> settings = c.settings;
        settings.insert(settings.end(), {{"shift", "16"}, {"lpf", "0"}});
        profile->progressive = c.profile_progressive;
        mlt_filter filter = make_filter(settings);
        const Result result = run(filter, image, c.frame);
        mlt_filter_close(filter);
        profile->progressive = profile_progressive;
        int kept = 0, checked = 0;
        for (int plane = 0; plane < 2; ++plane) {
            for (int r = 2; r < ch - 2; ++r, ++checked) {
                const size_t row = static_cast<size_t>(w) * h + static_cast<size_t>(plane * ch + r) * cw;
                kept += std::equal(result.bytes.begin() + row, result.bytes.begin() + row + cw, image.bytes.begin() + row);
            }
        }
        EXPECT_EQ(kept, c.by_field ? checked : 0)
            << testing::PrintToString(c.settings) << testing::PrintToString(c.frame) << c.profile_progressive;
    }
}

std::string file_text(const char* path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The metadata's parameters: identifier, then its fields as text.
std::vector<std::map<std::string, std::string>> metadata_parameters()
{
    std::vector<std::map<std::string, std::string>> out;
    mlt_properties metadata = mlt_properties_parse_yaml(NOREL_MLT_YML);
    EXPECT_NE(metadata, nullptr);
    auto* parameters = static_cast<mlt_properties>(mlt_properties_get_data(metadata, "parameters", nullptr));
    for (int i = 0; parameters != nullptr && i < mlt_properties_count(parameters); ++i) {
        auto* p = static_cast<mlt_properties>(mlt_properties_get_data_at(parameters, i, nullptr));
        std::map<std::string, std::string> fields;
        for (const char* name : {"identifier", "type", "minimum", "maximum", "default"}) {
            if (const char* value = mlt_properties_get(p, name))
                fields[name] = value;
        }
        if (auto* values = static_cast<mlt_properties>(mlt_properties_get_data(p, "values", nullptr))) {
            std::string list;
            for (int v = 0; v < mlt_properties_count(values); ++v)
                list += (v > 0 ? ";" : "") + std::string(mlt_properties_get_value(values, v));
            fields["values"] = list;
        }
        out.push_back(fields);
    }
    mlt_properties_close(metadata);
    return out;
}

// The metadata's defaults are the filter's own, and Kdenlive's and Shotcut's
// descriptions offer every property the metadata names, alike.
TEST(MltFilter, DescriptionsAgreeWithTheFilter)
{
    const auto parameters = metadata_parameters();
    ASSERT_EQ(parameters.size(), 26u);

    std::vector<std::pair<const char*, const char*>> defaults;
    for (const auto& p : parameters)
        defaults.push_back({p.at("identifier").c_str(), p.at("default").c_str()});
    const Image image(mlt_image_yuv422, 48, 20, 4);
    for (const char* cy : {"0", "1"}) {
        auto with_defaults = defaults;
        with_defaults.push_back({"cy", cy});
        mlt_filter set = make_filter(with_defaults);
        mlt_filter unset = make_filter({{"cy", cy}, {"shift", "8"}});
        mlt_properties_set(MLT_FILTER_PROPERTIES(set), "shift", "8");
        EXPECT_EQ(run(set, image, {{"top_field_first", "0"}}).bytes, run(unset, image, {{"top_field_first", "0"}}).bytes)
            << "cy " << cy;
        mlt_filter_close(set);
        mlt_filter_close(unset);
    }

    const std::string kdenlive = file_text(NOREL_KDENLIVE_XML);
    EXPECT_NE(kdenlive.find("tag=\"norel\""), std::string::npos);
    std::map<std::string, std::string> effect;  // name: attributes
    const std::regex parameter("<parameter ([^>]*)>");
    auto attribute = [](const std::string& attributes, const std::string& name) {
        std::smatch m;
        return std::regex_search(attributes, m, std::regex("\\b" + name + "=\"([^\"]*)\"")) ? m[1].str()
                                                                                            : std::string("(none)");
    };
    for (auto it = std::sregex_iterator(kdenlive.begin(), kdenlive.end(), parameter); it != std::sregex_iterator(); ++it)
        effect[attribute((*it)[1], "name")] = (*it)[1];
    EXPECT_EQ(effect.size(), parameters.size());

    const std::string shotcut = file_text(NOREL_SHOTCUT_UI);
    for (const auto& p : parameters) {
        const std::string& name = p.at("identifier");
        ASSERT_TRUE(effect.count(name)) << name << " missing from Kdenlive's description";
        const std::string& a = effect[name];
        // The rectangle's default is the whole picture, in Kdenlive's notation.
        const bool is_rect = p.at("type") == "rect";
        EXPECT_EQ(attribute(a, "default"), is_rect ? std::string("0 0 %width %height") : p.at("default")) << name;
        if (is_rect) {
            EXPECT_EQ(attribute(a, "type"), "animatedrect");
        } else if (p.count("values")) {
            EXPECT_EQ(attribute(a, "type"), "list") << name;
            EXPECT_EQ(attribute(a, "paramlist"), p.at("values")) << name;
        } else if (p.at("type") == "boolean") {
            EXPECT_EQ(attribute(a, "type"), "bool") << name;
        } else if (name == "tff") {
            EXPECT_EQ(attribute(a, "paramlist"), "-1;1;0");
        } else {
            EXPECT_EQ(attribute(a, "min"), p.at("minimum")) << name;
            EXPECT_EQ(attribute(a, "max"), p.at("maximum")) << name;
        }
        // A control that sets it, and a place in Shotcut's presets.
        EXPECT_TRUE(shotcut.find("setValue('" + name + "'") != std::string::npos ||
                    shotcut.find("filter.set('" + name + "'") != std::string::npos)
            << name << " has no control in Shotcut";
        EXPECT_NE(shotcut.find("'" + name + "',"), std::string::npos) << name;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Only this build's module: the filter needs nothing else.
    if (mlt_factory_init(NOREL_MLT_MODULE_DIR) == nullptr) {
        std::fprintf(stderr, "cannot start MLT with %s\n", NOREL_MLT_MODULE_DIR);
        return 1;
    }
    profile = mlt_profile_init(nullptr);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    mlt_profile_close(profile);
    mlt_factory_close();
    return result;
}
