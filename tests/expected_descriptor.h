// The descriptor as the host must see it, written out independently of the
// plug-in's own tables: labels are the exact code page 932 bytes.
#pragma once

struct ExpectedTrack {
    const char* label;
    int default_value, minimum, maximum;
};
struct ExpectedCheck {
    const char* label;
    int default_value;
};

constexpr int expected_flag = 0x40000;
constexpr const char* expected_name = "norel2";
// NOREL_VERSION is the project's version, given by the build.
constexpr const char* expected_information =
    "norel2 version " NOREL_VERSION ": analogue composite video imitation";

constexpr ExpectedTrack expected_tracks[7] = {
    {"\x8D\xB6", 0, 0, 2048},
    {"\x95\x9D", 320, 0, 2048},
    {"\x8F\xE3", 0, 0, 2048},
    {"\x8D\x82\x82\xB3", 320, 0, 2048},
    {"\x88\xDA\x93\xAE\x97\xCA", 0, -256, 256},
    {"freq", 704, 600, 750},
    {"phase", 0, -180, 180},
};

constexpr ExpectedCheck expected_checks[7] = {
    {"\x8D\x87\x90\xAC\x83\x82\x81\x5B\x83\x68", 0},
    {"60FPS", 0},
    {"TFF", 1},
    {"\x94\xCD\x88\xCD\x95\x5C\x8E\xA6", 0},
    {"MONO", 0},
    {"C/Y", 0},
    {"LPF", 1},
};
