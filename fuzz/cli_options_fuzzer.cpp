// Drives the command-line host's option parsing with any command line: the
// input is split at NUL bytes into the arguments after the program's name.
// A command line must either be refused with a UsageError (any other
// exception escapes and fails the run) or give options the program can
// carry out as they stand:
//  - every setting a value the settings table takes as it is;
//  - something to write: a render that writes neither a clip nor a still
//    would end "successfully" having done nothing (names the program cannot
//    open are refused later, with a message);
//  - synthesis settings inside the limits the options promise.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hosts/cli/options.h"

namespace {

[[noreturn]] void fail(const char* what, const std::vector<std::string>& arguments)
{
    std::fprintf(stderr, "cli_options fuzz: %s; the arguments were:\n", what);
    for (const std::string& argument : arguments)
        std::fprintf(stderr, "  [%s]\n", argument.c_str());
    std::abort();
}

void check_options(const Options& options,
                   const std::vector<std::string>& arguments)
{
    for (int id = 0; id < SETTING_COUNT; ++id) {
        const SettingInfo* setting = &setting_table[id];
        const int32_t value = setting_value(&options.settings, static_cast<SettingId>(id));
        if (value < setting->minimum || value > setting->maximum || normalised_value(setting, value) != value)
            fail("a setting is outside the settings table's range", arguments);
    }
    if (options.crf < 0 || options.crf > 51)
        fail("--crf is outside 0..51", arguments);

    switch (options.mode) {
    case Options::Mode::Help:
    case Options::Mode::Version:
        return;
    case Options::Mode::Synthesize:
        if (options.frames < 1 || options.frames > 1000000 || options.width < 1 ||
            options.width > 8192 || options.height < 1 || options.height > 8192 ||
            options.rate.num <= 0 || options.rate.den <= 0)
            fail("a synthesis setting is outside its limits", arguments);
        return;
    case Options::Mode::Render:
        if (options.still_frame < -1)
            fail("--still was accepted with a negative frame", arguments);
        if (options.output.empty() && options.still_frame < 0 && options.save_preset.empty())
            fail("a render was accepted with nothing to write", arguments);
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0')
            arguments.emplace_back();
        else
            arguments.back() += static_cast<char>(data[i]);
    }
    if (size == 0)
        arguments.clear();
    std::vector<const char*> argv{"norel"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());

    try {
        const Options options = parse_options(static_cast<int>(argv.size()), argv.data());
        check_options(options, arguments);
    } catch (const UsageError&) {
        // Refused with a message: what a bad command line must get.
    }
    return 0;
}
