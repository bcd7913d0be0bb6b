// Every host's parameter list against the settings table: what each host
// shows (names, ranges, defaults, choices) is read back from the host itself
// (or the description it is installed with) and compared with what the table
// says that host must show.
#include <dlfcn.h>
#include <framework/mlt.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/cli/options.h"
#include "engine/settings_table.h"
#include "hosts/frei0r/parameters.h"
#include "abi/filter2.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl_decode/decode_filter.h"

extern "C" aviutl2_filter_plugin_table* GetFilterPluginTable(void);

namespace {

// Numbers as the table holds them, 64 bits: the seed's range is more than
// an int32_t's.
struct Parameter {
    std::string name;
    int64_t minimum, maximum, default_value;
    std::string choices;  // the choices' names, space-separated
    bool operator==(const Parameter& other) const
    {
        return name == other.name && minimum == other.minimum && maximum == other.maximum &&
               default_value == other.default_value && choices == other.choices;
    }
};

std::ostream& operator<<(std::ostream& out, const Parameter& p)
{
    return out << "{" << p.name << " " << p.minimum << ".." << p.maximum << " =" << p.default_value << " "
               << p.choices << "}";
}

std::string choice_names(const SettingInfo& setting)
{
    std::string names;
    for (int i = 0; i < setting.choice_count; ++i)
        names += std::string(i ? " " : "") + setting.choices[i].name;
    return names;
}

const SettingInfo& table(int id)
{
    return setting_table[id];
}

// A switch, or a choice of two shown as a check box (on: the second).
Parameter check_box(const std::string& name, const SettingInfo& setting)
{
    const bool on = setting.kind == SETTING_CHOICE ? setting.default_value == setting.choices[1].value
                                                   : setting.default_value != 0;
    return {name, 0, 1, on, ""};
}

Parameter editor_track(const std::string& name, const SettingInfo& setting)
{
    return {name, setting_editor_minimum(&setting), setting_editor_maximum(&setting), setting.default_value, ""};
}

std::string utf8(const wchar_t* text)
{
    std::string out;
    for (; *text != 0; ++text) {
        const unsigned c = static_cast<unsigned>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Options parse(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "norel");
    arguments.insert(arguments.end(), {"in.mkv", "out.mkv"});
    std::vector<const char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(a.c_str());
    return parse_options(static_cast<int>(argv.size()), argv.data());
}

constexpr int64_t refused = INT64_MIN;

// The value the command line gives the setting, or `refused`.
int64_t cli_value(const SettingInfo& setting, std::vector<std::string> arguments)
{
    // The decoder and the deck take only what C/Y encodes.
    if (&setting == &table(SETTING_DECODE) || &setting == &table(SETTING_VHS))
        arguments.push_back("--cy");
    try {
        const Options options = parse(arguments);
        return setting_value(&options.settings, static_cast<SettingId>(&setting - setting_table));
    } catch (const UsageError&) {
        return refused;
    }
}

// A number as the command line writes it: in its own unit, the table's
// divided by cli_scale (microseconds for ns).
std::string cli_text(const SettingInfo& setting, int64_t value)
{
    if (setting.cli_scale == 1)
        return std::to_string(value);
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value) / setting.cli_scale);
    return text;
}

// The command line's range, read back: the ends it takes and refuses beyond.
Parameter cli_parameter(const SettingInfo& setting)
{
    const std::string option = std::string("--") + setting.key;
    Parameter p{setting.key, refused, refused, cli_value(setting, {}), ""};
    if (setting.kind == SETTING_SWITCH) {
        p.maximum = cli_value(setting, {option});
        p.minimum = setting.off_option != nullptr ? cli_value(setting, {std::string("--") + setting.off_option})
                                                  : cli_value(setting, {});
    } else if (setting.kind == SETTING_CHOICE) {
        for (int i = 0; i < setting.choice_count; ++i) {
            if (cli_value(setting, {option, setting.choices[i].name}) == setting.choices[i].value)
                p.choices += std::string(i ? " " : "") + setting.choices[i].name;
        }
        if (cli_value(setting, {option, "bogus"}) == refused) {
            p.minimum = setting.minimum;
            p.maximum = setting.maximum;
        }
    } else {
        const int64_t low = setting.minimum, high = setting.maximum;
        if (cli_value(setting, {option, cli_text(setting, low - 1)}) == refused)
            p.minimum = cli_value(setting, {option, cli_text(setting, low)});
        if (cli_value(setting, {option, cli_text(setting, high + 1)}) == refused)
            p.maximum = cli_value(setting, {option, cli_text(setting, high)});
    }
    return p;
}

// As --help shows a number: cli_text without trailing zeros.
std::string cli_shown(const SettingInfo& setting, int64_t value)
{
    std::string text = cli_text(setting, value);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
    }
    return text;
}

// The element's properties, loaded from the built plug-in.
std::vector<Parameter> gstreamer_parameters()
{
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(NOREL_GST_PLUGIN, &error);
    EXPECT_NE(plugin, nullptr) << (error != nullptr ? error->message : "");
    std::vector<Parameter> listed;
    GstElement* element = gst_element_factory_make("norel", nullptr);
    if (element == nullptr)
        return listed;
    guint count = 0;
    GParamSpec** properties = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* property = properties[i];
        if (property->owner_type != G_OBJECT_TYPE(element))
            continue;
        Parameter p{property->name, 0, 1, 0, ""};
        if (G_IS_PARAM_SPEC_INT(property)) {
            const GParamSpecInt* number = G_PARAM_SPEC_INT(property);
            p = {property->name, number->minimum, number->maximum, number->default_value, ""};
        } else if (G_IS_PARAM_SPEC_UINT(property)) {
            const GParamSpecUInt* number = G_PARAM_SPEC_UINT(property);
            p = {property->name, number->minimum, number->maximum, number->default_value, ""};
        } else if (G_IS_PARAM_SPEC_BOOLEAN(property)) {
            p.default_value = G_PARAM_SPEC_BOOLEAN(property)->default_value;
        } else if (G_IS_PARAM_SPEC_ENUM(property)) {
            const GParamSpecEnum* choice = G_PARAM_SPEC_ENUM(property);
            p = {property->name, choice->enum_class->minimum, choice->enum_class->maximum, choice->default_value, ""};
            for (guint v = 0; v < choice->enum_class->n_values; ++v)
                p.choices += std::string(v ? " " : "") + choice->enum_class->values[v].value_nick;
        }
        listed.push_back(p);
    }
    g_free(properties);
    gst_object_unref(element);
    gst_object_unref(plugin);
    return listed;
}

// A file's text; empty when it cannot be read.
std::string file_text(const char* path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Every match of `pattern` in `text`: its groups, copied.
std::vector<std::vector<std::string>> matches(const std::string& text, const std::string& pattern)
{
    const std::regex expression(pattern);
    std::vector<std::vector<std::string>> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression); it != std::sregex_iterator(); ++it)
        found.emplace_back(it->begin(), it->end());
    return found;
}

// A whole number in a host's file; `refused` for none.
int64_t number_in(const std::string& text)
{
    return std::regex_match(text, std::regex("-?[0-9]{1,18}")) ? std::stoll(text) : refused;
}

std::vector<std::string> split(const std::string& list, char separator)
{
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, separator);)
        items.push_back(item);
    return items;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

const SettingInfo* by_mlt_name(const std::string& name)
{
    for (const SettingInfo& setting : setting_table) {
        if (name == setting_mlt_name(&setting))
            return &setting;
    }
    return nullptr;
}

// A choice by its names, its default as the table's value: a host's name
// that is none reads back as -1.
Parameter choice_parameter(const std::string& name, const std::string& default_name, const std::vector<std::string>& names)
{
    const SettingInfo* setting = by_mlt_name(name);
    return {name, 0, 0, setting != nullptr ? setting_choice_value(setting, default_name.c_str()) : -1, joined(names)};
}

// A list of numbers (the field order's): its ends and default.
Parameter number_list(const std::string& name, int64_t default_value, const std::vector<std::string>& values)
{
    Parameter p{name, INT64_MAX, INT64_MIN, default_value, ""};
    for (const std::string& value : values) {
        p.minimum = std::min(p.minimum, number_in(value));
        p.maximum = std::max(p.maximum, number_in(value));
    }
    return p;
}

// What MLT's filter and its editors must offer: every setting that needs no
// other frame by its MLT name, the rectangle once, the field order with the
// frame's own (-1) beside the table's, every choice (the filter asks its own
// producer for the earlier frames the frame comb reads).
std::vector<Parameter> mlt_expected()
{
    std::vector<Parameter> expected = {{"rect", 0, 0, 0, ""}};
    for (const SettingInfo& setting : setting_table) {
        const std::string name = setting_mlt_name(&setting);
        if (setting.needs_other_frames || name == "rect")
            continue;
        if (setting.from_stream) {
            expected.push_back({name, -1, 1, -1, ""});
        } else if (setting.kind == SETTING_CHOICE) {
            std::vector<std::string> names;
            for (int i = 0; i < setting.choice_count; ++i)
                names.push_back(setting.choices[i].name);
            expected.push_back({name, 0, 0, setting.default_value, joined(names)});
        } else {
            expected.push_back({name, setting.minimum, setting.maximum, setting.default_value, ""});
        }
    }
    std::sort(expected.begin(), expected.end(), [](const Parameter& a, const Parameter& b) { return a.name < b.name; });
    return expected;
}

std::vector<Parameter> sorted(std::vector<Parameter> list)
{
    std::sort(list.begin(), list.end(), [](const Parameter& a, const Parameter& b) { return a.name < b.name; });
    return list;
}

// MLT's metadata, read back as MLT reads it.
std::vector<Parameter> mlt_yaml_parameters()
{
    std::vector<Parameter> listed;
    mlt_properties metadata = mlt_properties_parse_yaml(NOREL_MLT_YML);
    auto* parameters = metadata != nullptr
                           ? static_cast<mlt_properties>(mlt_properties_get_data(metadata, "parameters", nullptr))
                           : nullptr;
    for (int i = 0; parameters != nullptr && i < mlt_properties_count(parameters); ++i) {
        auto* p = static_cast<mlt_properties>(mlt_properties_get_data_at(parameters, i, nullptr));
        const std::string name = mlt_properties_get(p, "identifier");
        auto* values = static_cast<mlt_properties>(mlt_properties_get_data(p, "values", nullptr));
        if (name == "rect") {
            listed.push_back({name, 0, 0, 0, ""});
        } else if (values != nullptr) {
            std::vector<std::string> names;
            for (int v = 0; v < mlt_properties_count(values); ++v)
                names.push_back(mlt_properties_get_value(values, v));
            listed.push_back(choice_parameter(name, mlt_properties_get(p, "default"), names));
        } else {
            listed.push_back({name, mlt_properties_get_int64(p, "minimum"), mlt_properties_get_int64(p, "maximum"),
                              mlt_properties_get_int64(p, "default"), ""});
        }
    }
    if (metadata != nullptr)
        mlt_properties_close(metadata);
    return sorted(listed);
}

std::string attribute(const std::string& attributes, const std::string& name)
{
    std::smatch m;
    return std::regex_search(attributes, m, std::regex("\\b" + name + "=\"([^\"]*)\"")) ? m[1].str() : "";
}

// Kdenlive's effect: numbers, check boxes, lists of names or numbers, the
// rectangle.
std::vector<Parameter> kdenlive_parameters()
{
    std::vector<Parameter> listed;
    for (const auto& m : matches(file_text(NOREL_KDENLIVE_XML), "<parameter ([^>]*)>")) {
        const std::string a = m[1], name = attribute(a, "name"), type = attribute(a, "type");
        const std::vector<std::string> list = split(attribute(a, "paramlist"), ';');
        if (type == "animatedrect")
            listed.push_back({name, 0, 0, 0, ""});
        else if (type == "list" && !list.empty() && number_in(list[0]) != refused)
            listed.push_back(number_list(name, number_in(attribute(a, "default")), list));
        else if (type == "list")
            listed.push_back(choice_parameter(name, attribute(a, "default"), list));
        else if (type == "bool")
            listed.push_back({name, 0, 1, number_in(attribute(a, "default")), ""});
        else
            listed.push_back({name, number_in(attribute(a, "min")), number_in(attribute(a, "max")),
                              number_in(attribute(a, "default")), ""});
    }
    return sorted(listed);
}

// Shotcut's panel: a slider's ends and the property it sets, the defaults
// it sets on a new filter (and falls back to, and undoes to), check boxes,
// and combo boxes over a list of names or numbers.
std::vector<Parameter> shotcut_parameters()
{
    const std::string ui = file_text(NOREL_SHOTCUT_UI);
    std::map<std::string, std::string> defaults;
    for (const auto& m : matches(ui, "\\['(\\w+)', (-?[0-9]+)\\]"))
        defaults[m[1]] = m[2];
    for (const auto& m : matches(ui, "filter\\.set\\('(\\w+)', '?([-\\w]+)'?\\)"))
        defaults[m[1]] = m[2];
    std::map<std::string, std::vector<std::string>> lists;
    for (const auto& m : matches(ui, "property var (\\w+): \\[([^\\]\\[]*)\\]")) {
        std::vector<std::string> items;
        for (const auto& item : matches(m[2], "'?([-\\w]+)'?"))
            items.push_back(item[1]);
        lists[m[1]] = items;
    }
    std::vector<Parameter> listed;
    if (ui.find("filter.getRect('rect'") != std::string::npos && ui.find("filter.set('rect'") != std::string::npos)
        listed.push_back({"rect", 0, 0, 0, ""});
    std::map<std::string, std::string> slider_property;  // by the slider's id
    for (const auto& m : matches(ui, "id: (\\w+)Slider\\s+minimumValue: (-?[0-9]+)\\s+maximumValue: (-?[0-9]+)[^}]*?"
                                     "setValue\\('(\\w+)'")) {
        listed.push_back({m[4], number_in(m[2]), number_in(m[3]), number_in(defaults[m[4]]), ""});
        slider_property[m[1]] = m[4];
    }
    // A field of digits up to a number more than a spin box's int holds (the seed's).
    for (const auto& m : matches(ui, "validator: RegExpValidator \\{ regExp: /\\[0-9\\]\\{1,10\\}/ \\}\\s+"
                                     "onEditingFinished: setValue\\('(\\w+)', Math\\.min\\(Number\\(text\\), ([0-9]+)\\)\\)"))
        listed.push_back({m[1], 0, number_in(m[2]), number_in(defaults[m[1]]), ""});
    for (const auto& m : matches(ui, "setValue\\('(\\w+)', checked"))
        listed.push_back({m[1], 0, 1, number_in(defaults[m[1]]), ""});
    for (const auto& m : matches(ui, "setValue\\('(\\w+)', (\\w+)\\[currentIndex\\]\\)")) {
        const std::vector<std::string>& list = lists[m[2]];
        if (!list.empty() && number_in(list[0]) != refused)
            listed.push_back(number_list(m[1], number_in(defaults[m[1]]), list));
        else
            listed.push_back(choice_parameter(m[1], defaults[m[1]], list));
    }
    // What the panel falls back to and undoes to is the default it sets.
    for (const auto& m : matches(ui, "number\\('(\\w+)', (-?[0-9]+)\\)"))
        EXPECT_EQ(m[2], defaults[m[1]]) << m[1] << " falls back to another default";
    for (const auto& m : matches(ui, "onClicked: (\\w+)Slider\\.value = (-?[0-9]+)"))
        EXPECT_EQ(m[2], defaults[slider_property[m[1]]]) << m[1] << " undoes to another default";
    return sorted(listed);
}

// frei0r's parameters as its hosts see them, loaded from the built plug-in,
// in the table's units: a number's [0, 1] spans Kdenlive's min to max of
// its frei0r description (value * factor), which starts at the table's
// minimum. frei0r's own fps and clock_ms are left out.
std::vector<Parameter> frei0r_parameters()
{
    std::vector<Parameter> listed;
    void* library = dlopen(NOREL_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(library, nullptr) << dlerror();
    if (library == nullptr)
        return listed;
    auto plugin_info = reinterpret_cast<void (*)(f0r_plugin_info_t*)>(dlsym(library, "f0r_get_plugin_info"));
    auto param_info = reinterpret_cast<void (*)(f0r_param_info_t*, int)>(dlsym(library, "f0r_get_param_info"));
    auto construct = reinterpret_cast<f0r_instance_t (*)(unsigned, unsigned)>(dlsym(library, "f0r_construct"));
    auto destruct = reinterpret_cast<void (*)(f0r_instance_t)>(dlsym(library, "f0r_destruct"));
    auto get = reinterpret_cast<void (*)(f0r_instance_t, f0r_param_t, int)>(dlsym(library, "f0r_get_param_value"));
    auto set = reinterpret_cast<void (*)(f0r_instance_t, f0r_param_t, int)>(dlsym(library, "f0r_set_param_value"));
    std::map<std::string, std::string> described;  // Kdenlive's attributes by name
    for (const auto& m : matches(file_text(NOREL_FREI0R_XML), "<parameter ([^>]*)>"))
        described[attribute(m[1], "name")] = m[1];
    f0r_plugin_info_t plugin = {};
    plugin_info(&plugin);
    f0r_instance_t instance = construct(8, 8);
    for (int index = 0; index < plugin.num_params; ++index) {
        f0r_param_info_t info = {};
        param_info(&info, index);
        const std::string name = info.name;
        if (name == "fps" || name == "clock_ms")
            continue;
        if (info.type == F0R_PARAM_STRING) {
            // The names it takes back of every choice the table has.
            const char* default_name = nullptr;
            get(instance, &default_name, index);
            const std::string kept = default_name;
            std::vector<std::string> taken;
            for (const SettingInfo& setting : setting_table) {
                for (int i = 0; name == setting_frei0r_name(&setting) && i < setting.choice_count; ++i) {
                    f0r_param_string text = const_cast<char*>(setting.choices[i].name);
                    const char* now = nullptr;
                    set(instance, &text, index);
                    get(instance, &now, index);
                    if (std::string(now) == text)
                        taken.push_back(text);
                }
            }
            f0r_param_string text = const_cast<char*>(kept.c_str());
            set(instance, &text, index);
            Parameter p{name, 0, 0, -1, joined(taken)};
            for (const SettingInfo& setting : setting_table) {
                if (name == setting_frei0r_name(&setting))
                    p.default_value = setting_choice_value(&setting, kept.c_str());
            }
            listed.push_back(p);
            continue;
        }
        double value = 0;
        get(instance, &value, index);
        if (info.type == F0R_PARAM_BOOL) {
            listed.push_back({name, 0, 1, value >= 0.5, ""});
            continue;
        }
        const std::string& a = described[name];
        const double factor = static_cast<double>(number_in(attribute(a, "factor")));
        const int64_t low = number_in(attribute(a, "min")), high = number_in(attribute(a, "max"));
        int64_t start = refused;  // the table's minimum, where the span starts
        for (const SettingInfo& setting : setting_table) {
            if (name == setting_frei0r_name(&setting))
                start = setting.minimum;
        }
        const int64_t at = static_cast<int64_t>(std::nearbyint(value * factor));
        const int64_t offset = start - low;
        listed.push_back({name, low + offset, high + offset, at + offset, ""});
    }
    destruct(instance);
    dlclose(library);
    return sorted(listed);
}

const Parameter* find(const std::vector<Parameter>& list, const std::string& name)
{
    for (const Parameter& p : list) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

}  // namespace

TEST(SettingsTable, LabelsInBothEncodingsAgree)
{
    for (const SettingInfo& setting : setting_table)
        EXPECT_EQ(label_as_utf8(setting.label_cp932), setting.label) << setting.key;
}

TEST(SettingsTable, TheEditorsDescriptorsFollowTheTable)
{
    // norel.auf: the tracks and check boxes lead the table.
    const FILTER_DLL* filter = GetFilterTable();
    std::vector<Parameter> listed, expected;
    for (int i = 0; i < filter->track_n; ++i)
        listed.push_back({filter->track_name[i], filter->track_s[i], filter->track_e[i], filter->track_default[i], ""});
    for (int i = 0; i < filter->check_n; ++i)
        listed.push_back({filter->check_name[i], 0, 1, filter->check_default[i], ""});
    for (int id = SETTING_LEFT; id <= SETTING_LPF; ++id)
        expected.push_back(table(id).kind == SETTING_SWITCH ? check_box(table(id).label_cp932, table(id))
                                                            : editor_track(table(id).label_cp932, table(id)));
    EXPECT_EQ(listed, expected);

    // norel_decode.auf: the television; its separation starts at the notch.
    const FILTER_DLL* decoder = decode_filter_table();
    listed.clear();
    for (int i = 0; i < decoder->track_n; ++i)
        listed.push_back({decoder->track_name[i], decoder->track_s[i], decoder->track_e[i], decoder->track_default[i], ""});
    for (int i = 0; i < decoder->check_n; ++i)
        listed.push_back({decoder->check_name[i], 0, 1, decoder->check_default[i], ""});
    // Then the deck's, whose seed's track holds its 32 bits as an int.
    const SettingInfo& separation = table(SETTING_DECODE);
    expected = {{separation.label_cp932, DECODE_NOTCH, separation.maximum, DECODE_NOTCH, ""},
                editor_track(table(SETTING_SATURATION).label_cp932, table(SETTING_SATURATION)),
                editor_track(table(SETTING_HUE).label_cp932, table(SETTING_HUE))};
    for (int id = SETTING_VHS; id < SETTING_COUNT; ++id) {
        if (table(id).is_unsigned)
            expected.push_back({table(id).label_cp932, INT32_MIN, INT32_MAX, 0, ""});
        else if (table(id).kind != SETTING_SWITCH)
            expected.push_back(editor_track(table(id).label_cp932, table(id)));
    }
    expected.push_back(check_box(table(SETTING_CHROMA_BANDWIDTH).label_cp932, table(SETTING_CHROMA_BANDWIDTH)));
    expected.push_back(check_box(table(SETTING_DROPOUT_COMPENSATOR).label_cp932, table(SETTING_DROPOUT_COMPENSATOR)));
    EXPECT_EQ(listed, expected);

    // norel.auf2: every setting that needs no other frame, in the table's
    // order; the separation's choices up to the last such.
    listed.clear();
    for (void** item = GetFilterPluginTable()->items; *item != nullptr; ++item) {
        const wchar_t* type = *static_cast<const wchar_t* const*>(*item);
        if (std::wcscmp(type, filter2_item_type_track) == 0) {
            const auto* track = static_cast<const aviutl2_filter_item_track*>(*item);
            listed.push_back({utf8(track->name), int64_t(track->s), int64_t(track->e), int64_t(track->value), ""});
        } else {
            const auto* check = static_cast<const aviutl2_filter_item_check*>(*item);
            listed.push_back({utf8(check->name), 0, 1, check->value, ""});
        }
    }
    expected.clear();
    for (const SettingInfo& setting : setting_table) {
        if (setting.needs_other_frames)
            continue;
        if (setting.kind == SETTING_SWITCH || (setting.kind == SETTING_CHOICE && setting.choice_count == 2)) {
            expected.push_back(check_box(setting.label, setting));
            continue;
        }
        expected.push_back(editor_track(setting.label, setting));
        for (int i = 0; i < setting.choice_count; ++i) {
            if (setting.choices[i].needs_other_frames)
                expected.back().maximum = std::min<int64_t>(expected.back().maximum, setting.choices[i].value - 1);
        }
    }
    EXPECT_EQ(listed, expected);
}

TEST(SettingsTable, TheCommandLineAndGStreamerFollowTheTable)
{
    const std::string help = help_text();
    const std::vector<Parameter> gstreamer = gstreamer_parameters();
    size_t gstreamer_settings = 0;
    Options every;  // every setting away from its default, for a preset
    for (const SettingInfo& setting : setting_table) {
        const SettingId id = static_cast<SettingId>(&setting - setting_table);
        const std::string choices = choice_names(setting);
        const Parameter own{setting.key, setting.minimum, setting.maximum, setting.default_value, choices};
        EXPECT_EQ(cli_parameter(setting), own);
        EXPECT_NE(help.find("--" + std::string(setting.key)), std::string::npos) << setting.key;
        EXPECT_NE(help.find("[" + std::string(setting.label) + "]"), std::string::npos) << setting.key;
        if (setting.kind == SETTING_NUMBER && !setting.to_picture_edge) {
            EXPECT_NE(help.find("(" + cli_shown(setting, setting.minimum) + " to " + cli_shown(setting, setting.maximum) +
                                "; default " + cli_shown(setting, setting.default_value) + ")"),
                      std::string::npos)
                << setting.key;
        }
        set_setting_value(&every.settings, id,
                          setting.kind == SETTING_NUMBER ? setting.minimum + 1
                          : setting.kind == SETTING_SWITCH ? !setting.default_value
                                                           : setting.choices[setting.choice_count - 1].value);
        every.given[id] = true;

        // GStreamer: the stream's own field order ("auto") and the picture's
        // edge (-1) beside the table's values; nothing that needs other frames.
        const Parameter* property = find(gstreamer, setting.key);
        if (setting.needs_other_frames) {
            EXPECT_EQ(property, nullptr) << setting.key;
            continue;
        }
        ++gstreamer_settings;
        Parameter wanted = own;
        if (setting.from_stream)
            wanted = {setting.key, -1, 1, -1, "auto on off"};
        else if (setting.to_picture_edge)
            wanted.minimum = wanted.default_value = -1;
        ASSERT_NE(property, nullptr) << setting.key;
        EXPECT_EQ(*property, wanted);
    }
    EXPECT_EQ(gstreamer.size(), gstreamer_settings);

    // A preset of every setting reads back as the same settings.
    const std::string path = testing::TempDir() + "norel-settings-table-preset.txt";
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(preset_text(every).c_str(), file);
    std::fclose(file);
    const Options loaded = parse({"--preset", path});
    std::remove(path.c_str());
    for (int id = 0; id < SETTING_COUNT; ++id)
        EXPECT_EQ(setting_value(&loaded.settings, static_cast<SettingId>(id)),
                  setting_value(&every.settings, static_cast<SettingId>(id)))
            << setting_table[id].key;
}

TEST(SettingsTable, MltFrei0rKdenliveAndShotcutFollowTheTable)
{
    // The native filter's metadata, Kdenlive's effect and Shotcut's panel.
    const std::vector<Parameter> mlt = mlt_expected();
    EXPECT_EQ(mlt_yaml_parameters(), mlt);
    EXPECT_EQ(kdenlive_parameters(), mlt);
    EXPECT_EQ(shotcut_parameters(), mlt);

    // frei0r: every setting that needs no other frame by its frei0r name,
    // the rectangle over frei0r's span.
    std::vector<Parameter> frei0r;
    for (const SettingInfo& setting : setting_table) {
        if (setting.needs_other_frames)
            continue;
        const std::string name = setting_frei0r_name(&setting);
        std::vector<std::string> names;
        for (int i = 0; i < setting.choice_count && !setting.choices[i].needs_other_frames; ++i)
            names.push_back(setting.choices[i].name);
        if (setting.kind == SETTING_CHOICE)
            frei0r.push_back({name, 0, 0, setting.default_value, joined(names)});
        else
            frei0r.push_back({name, setting.minimum,
                              std::strcmp(setting_mlt_name(&setting), "rect") == 0 ? frei0r_rectangle_span
                                                                                   : setting.maximum,
                              setting.default_value, ""});
    }
    EXPECT_EQ(frei0r_parameters(), sorted(frei0r));
}
