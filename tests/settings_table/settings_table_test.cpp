// Every host's parameter list against the settings table: what each host
// shows (names, ranges, defaults, choices) is read back from the host itself
// and compared with what the table says that host must show.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <ostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "effects/settings_table.h"
#include "host/filter2.h"
#include "plugin/descriptor.h"
#include "plugin_decode/decode_filter.h"

extern "C" aviutl2_filter_plugin_table* GetFilterPluginTable(void);

namespace {

struct Parameter {
    std::string name;
    int32_t minimum, maximum, default_value;
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

// The value the command line gives the setting, or INT_MIN when it refuses.
int32_t cli_value(const SettingInfo& setting, std::vector<std::string> arguments)
{
    // The decoder decodes only what C/Y encodes.
    if (&setting == &table(SETTING_DECODE))
        arguments.push_back("--cy");
    try {
        const Options options = parse(arguments);
        return setting_value(&options.settings, static_cast<SettingId>(&setting - setting_table));
    } catch (const UsageError&) {
        return INT_MIN;
    }
}

// The command line's range, read back: the ends it takes and refuses beyond.
Parameter cli_parameter(const SettingInfo& setting)
{
    const std::string option = std::string("--") + setting.key;
    Parameter p{setting.key, INT_MIN, INT_MIN, cli_value(setting, {}), ""};
    if (setting.kind == SETTING_SWITCH) {
        p.maximum = cli_value(setting, {option});
        p.minimum = setting.off_option != nullptr ? cli_value(setting, {std::string("--") + setting.off_option})
                                                  : cli_value(setting, {});
    } else if (setting.kind == SETTING_CHOICE) {
        for (int i = 0; i < setting.choice_count; ++i) {
            if (cli_value(setting, {option, setting.choices[i].name}) == setting.choices[i].value)
                p.choices += std::string(i ? " " : "") + setting.choices[i].name;
        }
        if (cli_value(setting, {option, "bogus"}) == INT_MIN) {
            p.minimum = setting.minimum;
            p.maximum = setting.maximum;
        }
    } else {
        const int32_t low = setting.minimum, high = setting.maximum;
        if (cli_value(setting, {option, std::to_string(low - 1)}) == INT_MIN)
            p.minimum = cli_value(setting, {option, std::to_string(low)});
        if (cli_value(setting, {option, std::to_string(high + 1)}) == INT_MIN)
            p.maximum = cli_value(setting, {option, std::to_string(high)});
    }
    return p;
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
    GParamSpec** specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec* spec = specs[i];
        if (spec->owner_type != G_OBJECT_TYPE(element))
            continue;
        Parameter p{spec->name, 0, 1, 0, ""};
        if (G_IS_PARAM_SPEC_INT(spec)) {
            const GParamSpecInt* number = G_PARAM_SPEC_INT(spec);
            p = {spec->name, number->minimum, number->maximum, number->default_value, ""};
        } else if (G_IS_PARAM_SPEC_BOOLEAN(spec)) {
            p.default_value = G_PARAM_SPEC_BOOLEAN(spec)->default_value;
        } else if (G_IS_PARAM_SPEC_ENUM(spec)) {
            const GParamSpecEnum* choice = G_PARAM_SPEC_ENUM(spec);
            p = {spec->name, choice->enum_class->minimum, choice->enum_class->maximum, choice->default_value, ""};
            for (guint v = 0; v < choice->enum_class->n_values; ++v)
                p.choices += std::string(v ? " " : "") + choice->enum_class->values[v].value_nick;
        }
        listed.push_back(p);
    }
    g_free(specs);
    gst_object_unref(element);
    gst_object_unref(plugin);
    return listed;
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
    const SettingInfo& separation = table(SETTING_DECODE);
    expected = {{separation.label_cp932, DECODE_NOTCH, separation.maximum, DECODE_NOTCH, ""},
                editor_track(table(SETTING_SATURATION).label_cp932, table(SETTING_SATURATION)),
                editor_track(table(SETTING_HUE).label_cp932, table(SETTING_HUE)),
                check_box(table(SETTING_CHROMA_BANDWIDTH).label_cp932, table(SETTING_CHROMA_BANDWIDTH))};
    EXPECT_EQ(listed, expected);

    // norel.auf2: every setting that needs no other frame, in the table's
    // order; the separation's choices up to the last such.
    listed.clear();
    for (void** item = GetFilterPluginTable()->items; *item != nullptr; ++item) {
        const wchar_t* type = *static_cast<const wchar_t* const*>(*item);
        if (std::wcscmp(type, filter2_item_type_track) == 0) {
            const auto* track = static_cast<const aviutl2_filter_item_track*>(*item);
            listed.push_back({utf8(track->name), int32_t(track->s), int32_t(track->e), int32_t(track->value), ""});
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
                expected.back().maximum = std::min(expected.back().maximum, setting.choices[i].value - 1);
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
            EXPECT_NE(help.find("(" + std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum) +
                                "; default " + std::to_string(setting.default_value) + ")"),
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
