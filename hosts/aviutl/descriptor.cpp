#include "hosts/aviutl/descriptor.h"

#include "hosts/aviutl/driver.h"

// Labels are code page 932 bytes written as escapes, so that no editor or
// compiler can re-encode them. The trail byte of 表 is 0x5C, a backslash.
static const char* track_names[TRACK_COUNT] = {
    "\x8D\xB6",                  // 左: rectangle left edge
    "\x95\x9D",                  // 幅: rectangle width
    "\x8F\xE3",                  // 上: rectangle top edge
    "\x8D\x82\x82\xB3",          // 高さ: rectangle height
    "\x88\xDA\x93\xAE\x97\xCA",  // 移動量: field shift in 1/16 field line
    "freq",
    "phase",
};
static int track_defaults[TRACK_COUNT] = {0, 320, 0, 320, 0, 704, 0};
static int track_minimums[TRACK_COUNT] = {0, 0, 0, 0, -256, 600, -180};
static int track_maximums[TRACK_COUNT] = {2048, 2048, 2048, 2048, 256, 750, 180};

static const char* check_names[CHECK_COUNT] = {
    "\x8D\x87\x90\xAC\x83\x82\x81\x5B\x83\x68",  // 合成モード: compose mode
    "60FPS",
    "TFF",
    "\x94\xCD\x88\xCD\x95\x5C\x8E\xA6",          // 範囲表示: show the rectangle
    "MONO",
    "C/Y",
    "LPF",
};
static int check_defaults[CHECK_COUNT] = {0, 0, 1, 0, 0, 0, 1};

static FILTER_DLL filter_descriptor = {
    FILTER_FLAG_EX_INFORMATION,
    0, 0,
    "norel2",
    TRACK_COUNT, track_names, track_defaults, track_minimums, track_maximums,
    CHECK_COUNT, check_names, check_defaults,
    filter_proc,
    nullptr,      // func_init
    filter_exit,
    nullptr,      // func_update
    nullptr,      // func_WndProc
    nullptr,      // track: filled by the host
    nullptr,      // check: filled by the host
    nullptr, 0,   // no extra data block
    "norel2 version " NOREL_VERSION ": analogue composite video imitation",
    // Every later field is zero; the host fills exfunc and its own fields.
    nullptr,      // func_save_start
    nullptr,      // func_save_end
    nullptr,      // exfunc
    nullptr,      // hwnd
    nullptr,      // dll_hinst
    nullptr,      // ex_data_def
    nullptr,      // func_is_saveframe
    nullptr,      // func_project_load
    nullptr,      // func_project_save
    nullptr,      // func_modify_title
    nullptr,      // dll_path
    {0, 0},       // reserve
};

extern "C" FILTER_DLL* NOREL_STDCALL GetFilterTable(void)
{
    return &filter_descriptor;
}
