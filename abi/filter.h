// Our declarations of the host's filter plug-in records and service table, in
// the host's 32-bit layout: every int, long and pointer is 4 bytes there, BOOL
// is int, and callbacks use the default C calling convention. The native
// Linux build uses the same declarations with its own pointer size; only the
// 32-bit build can (and does) check the host's exact sizes.
#pragma once

#include <cstddef>

#include "engine/pixel_yc.h"

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define NOREL_STDCALL __stdcall
#else
#define NOREL_STDCALL
#endif

struct FILTER;
struct FILTER_PROC_INFO;

// The filter's settings may hold the information string below.
constexpr int FILTER_FLAG_EX_INFORMATION = 0x40000;
// The host runs the filter after every filter without this flag.
constexpr int FILTER_FLAG_PRIORITY_LOWEST = 0x1000;

// What get_sys_info fills in. Only filter_n is read; the rest is declared so
// that the record is as large as the host writes it.
struct SYS_INFO {
    int flag;
    const char* info;
    int filter_n;  // filters get_filterp answers for: 0 .. filter_n - 1
    int min_w, min_h;
    int max_w, max_h;
    int max_frame;
    const char* edit_name;
    const char* project_name;
    const char* output_name;
    int vram_w, vram_h;
    int vram_yc_size;
    int vram_line_size;
    void* hfont;
    int build;
    int reserve[2];
};

// The host's service table. Only the services declared by name are called;
// the slots before and between them are declared as padding so that each
// sits where the host puts it (the slot numbers below, counted from 0).
struct EXFUNC {
    void* slot_0_to_4[5];
    BOOL (*is_saving)(void* editp);                                     // slot 5
    void* slot_6_to_24[19];
    BOOL (*is_filter_active)(FILTER* fp);                               // slot 25
    void* slot_26_to_39[14];
    BOOL (*get_sys_info)(void* editp, SYS_INFO* sip);                   // slot 40
    FILTER* (*get_filterp)(int filter_id);                              // slot 41
    void* slot_42_to_43[2];
    BOOL (*set_ycp_filtering_cache_size)(FILTER* fp, int w, int h, int d, int flag);  // 44
    void* slot_45;
    void* (*get_ycp_source_cache)(void* editp, int n, int ofs);         // slot 46
    void* slot_47_to_49[3];
    PIXEL_YC* (*get_ycp_filtering_cache_ex)(FILTER* fp, void* editp, int n, int* w, int* h);  // 50
};

// The filter descriptor. The host calls the same record FILTER and keeps the
// current track and check values and its service table in it.
struct FILTER {
    int flag;
    int x, y;
    const char* name;
    int track_n;
    const char** track_name;
    int* track_default;
    int* track_s;
    int* track_e;
    int check_n;
    const char** check_name;
    int* check_default;
    BOOL (*func_proc)(FILTER* fp, FILTER_PROC_INFO* fpip);
    BOOL (*func_init)(FILTER* fp);
    BOOL (*func_exit)(FILTER* fp);
    BOOL (*func_update)(FILTER* fp, int status);
    BOOL (*func_WndProc)(void* hwnd, unsigned int message, void* wparam, void* lparam,
                         void* editp, FILTER* fp);
    int* track;
    int* check;
    void* ex_data_ptr;
    int ex_data_size;
    const char* information;
    BOOL (*func_save_start)(FILTER* fp, int s, int e, void* editp);
    BOOL (*func_save_end)(FILTER* fp, void* editp);
    EXFUNC* exfunc;
    void* hwnd;
    void* dll_hinst;
    void* ex_data_def;
    BOOL (*func_is_saveframe)(FILTER* fp, void* editp, int saveno, int frame, int fps,
                              int edit_flag, int inter);
    BOOL (*func_project_load)(FILTER* fp, void* editp, void* data, int size);
    BOOL (*func_project_save)(FILTER* fp, void* editp, void* data, int* size);
    BOOL (*func_modify_title)(FILTER* fp, void* editp, int frame, char* title, int max_title);
    const char* dll_path;
    int reserve[2];
};
typedef FILTER FILTER_DLL;

// One frame as the host hands it to func_proc. Pixel (x, r) of either frame
// buffer is element r * max_w + x.
struct FILTER_PROC_INFO {
    int flag;
    PIXEL_YC* ycp_edit;
    PIXEL_YC* ycp_temp;
    int w, h;
    int max_w, max_h;
    int frame;
    int frame_n;
    int org_w, org_h;
    short* audiop;
    int audio_n;
    int audio_ch;
    void* pixelp;
    void* editp;
    int yc_size;
    int line_size;
    int reserve[8];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(FILTER_DLL) == 140, "FILTER_DLL must have the host's 35-word layout");
static_assert(sizeof(FILTER_PROC_INFO) == 104, "FILTER_PROC_INFO must have the host's layout");
static_assert(sizeof(EXFUNC) == 51 * 4, "EXFUNC slot 50 must be the last declared slot");
static_assert(offsetof(EXFUNC, is_saving) == 5 * 4, "is_saving is slot 5");
static_assert(offsetof(EXFUNC, is_filter_active) == 25 * 4, "slot 25");
static_assert(offsetof(EXFUNC, get_sys_info) == 40 * 4, "slot 40");
static_assert(offsetof(EXFUNC, get_filterp) == 41 * 4, "slot 41");
static_assert(offsetof(EXFUNC, set_ycp_filtering_cache_size) == 44 * 4, "slot 44");
static_assert(offsetof(EXFUNC, get_ycp_source_cache) == 46 * 4, "slot 46");
static_assert(offsetof(EXFUNC, get_ycp_filtering_cache_ex) == 50 * 4, "slot 50");
static_assert(offsetof(FILTER_DLL, name) == 3 * 4, "name is word 3");
static_assert(offsetof(FILTER_DLL, track) == 17 * 4 && offsetof(FILTER_DLL, check) == 18 * 4,
              "track and check are words 17 and 18");
static_assert(offsetof(FILTER_DLL, information) == 21 * 4, "information is word 21");
static_assert(offsetof(FILTER_DLL, exfunc) == 24 * 4, "exfunc is word 24");
static_assert(offsetof(FILTER_PROC_INFO, frame_n) == 8 * 4, "frame_n is word 8");
static_assert(sizeof(SYS_INFO) == 19 * 4, "SYS_INFO must have the host's 19-word layout");
static_assert(offsetof(SYS_INFO, filter_n) == 2 * 4, "filter_n is word 2");
static_assert(offsetof(FILTER_PROC_INFO, editp) == 15 * 4, "editp is word 15");
#endif
