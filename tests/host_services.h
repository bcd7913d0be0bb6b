// An in-memory stand-in for the editor that hosts the plug-in: it keeps the
// parameter arrays and the service table, hands the plug-in its frame
// buffers and answers the frame services from a clip supplied by callbacks.
// The tests, the benchmarks and the Windows test host drive the plug-in
// through it, exactly as the editor does.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "abi/filter.h"

// The plug-in's export GetFilterTable, linked in or looked up in the DLL.
typedef FILTER_DLL*(NOREL_STDCALL* GetFilterTableFunction)(void);

// A clip: frame n is clip[n], max_w * h pixels laid out like ycp_edit.
using Clip = std::vector<std::vector<PIXEL_YC>>;

// What the plug-in's frame services answer, and a record of what they were
// asked. A frame callback returns null when the frame cannot be had; an empty
// callback always answers null.
struct HostServices {
    std::function<const PIXEL_YC*(int frame)> filtering_frame;  // frame n as it enters the filter
    std::function<const PIXEL_YC*(int frame)> source_frame;     // unfiltered source frame n
    bool saving = true;              // is_saving: writing an output file, not previewing
    bool refuse_cache_size = false;  // set_ycp_filtering_cache_size answers FALSE
    int frame_w = 0, frame_h = 0;    // the frame size the services report
    // The plug-in is handed copies of the frames the callbacks answer, which
    // are compared afterwards to set host_buffer_written. Off, it is handed
    // the frames themselves: no copies, and no check.
    bool lend_copies = true;

    struct CacheSizeRequest {
        int w, h, d, flag;
    };
    int is_saving_calls = 0;
    std::vector<CacheSizeRequest> cache_size_requests;
    std::vector<int> filtering_requests;
    std::vector<int> source_requests;
    // Set when the plug-in wrote into a buffer that the services handed it.
    bool host_buffer_written = false;

    void clear_record();
};

// One loaded filter with its settings and the frame it is working on. The
// hosts alive at a time are the editor's filter list, in the order they
// were made: get_sys_info counts them and get_filterp answers each one's
// record, pointed at its settings.
class PluginHost {
public:
    // get_table is the plug-in's GetFilterTable, linked in or looked up in
    // the DLL. Tracks and checks start at the descriptor's defaults.
    PluginHost(GetFilterTableFunction get_table, int w, int h, int max_w);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    FILTER_DLL* filter() { return filter_; }
    HostServices& services() { return services_; }
    std::vector<int>& track() { return track_; }
    std::vector<int>& check() { return check_; }
    // Whether the filter is switched on, as is_filter_active answers; on.
    bool& active() { return active_; }

    // The frame buffers handed to func_proc: ycp_edit is input and output.
    PIXEL_YC* edit() { return edit_.data(); }
    PIXEL_YC* temp() { return temp_.data(); }
    int w() const { return info_.w; }
    int h() const { return info_.h; }
    int max_w() const { return info_.max_w; }

    // Pixels of one frame: max_w * h.
    size_t frame_pixels() const;

    // Answers the filtering cache from `filtering` (frame n as it enters the
    // filter) and the source cache from `source` (unfiltered frame n), null
    // for every number outside a clip, frame_n among them. The caller keeps
    // both clips alive meanwhile; every frame must hold frame_pixels().
    void answer_from(const Clip& filtering, const Clip& source);
    // Copies a frame of frame_pixels() pixels into ycp_edit.
    void load(const std::vector<PIXEL_YC>& frame);

    // Calls func_proc for frame `frame` of a clip of frame_n frames.
    BOOL process(int frame, int frame_n);
    // The same with `edit`, a buffer of frame_pixels() pixels that the caller
    // owns, as ycp_edit in place of edit(): the frame is filtered where it is.
    BOOL process(int frame, int frame_n, PIXEL_YC* edit);
    // Calls proc in place of func_proc, with the same records, services and
    // checks; lets a single stage be run as the driver would run it.
    int process_with(int (*proc)(FILTER* fp, FILTER_PROC_INFO* fpip), int frame, int frame_n);
    // Calls func_exit once; later calls do nothing.
    BOOL finish();

private:
    int call(int (*proc)(FILTER* fp, FILTER_PROC_INFO* fpip), int frame, int frame_n, PIXEL_YC* edit);
    friend FILTER* filter_record(int index);
    friend BOOL filter_is_active(FILTER* fp);
    void point_record();

    FILTER_DLL* filter_;
    HostServices services_;
    EXFUNC exfunc_{};
    std::vector<int> track_;
    std::vector<int> check_;
    std::vector<PIXEL_YC> edit_;
    std::vector<PIXEL_YC> temp_;
    FILTER_PROC_INFO info_{};
    bool finished_ = false;
    bool active_ = true;
};
