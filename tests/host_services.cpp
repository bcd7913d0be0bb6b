#include "tests/host_services.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace {

// The services reach the host through editp, except the cache size request,
// which carries only the filter; the plug-in calls them one frame at a time,
// so the host that is processing a frame is the active one.
HostServices* active_services = nullptr;

// The filter list: every host alive, in the order they were made.
std::vector<PluginHost*> filter_list;

// Hands out copies of the host's frames and checks after the call that the
// plug-in only read them.
struct LentBuffer {
    const PIXEL_YC* original;
    std::vector<PIXEL_YC> copy;
};
std::vector<LentBuffer> lent;
size_t lent_pixels = 0;

const PIXEL_YC* lend(const PIXEL_YC* frame)
{
    if (frame == nullptr)
        return nullptr;
    // A frame of no pixels (height 0) is still a frame: its copy gets one
    // spare pixel so that it has an address and is not taken for null.
    std::vector<PIXEL_YC> copy(std::max<size_t>(lent_pixels, 1), PIXEL_YC{0, 0, 0});
    std::copy(frame, frame + lent_pixels, copy.begin());
    lent.push_back({frame, std::move(copy)});
    return lent.back().copy.data();
}

// Answers frame n of clip, null outside it.
std::function<const PIXEL_YC*(int)> clip_frames(const Clip& clip)
{
    // Stands in for the frames of a zero-height clip, whose vectors have no
    // address to hand out.
    static const PIXEL_YC no_pixels{0, 0, 0};
    return [&clip](int n) -> const PIXEL_YC* {
        if (n < 0 || static_cast<size_t>(n) >= clip.size())
            return nullptr;
        return clip[n].empty() ? &no_pixels : clip[n].data();
    };
}

BOOL is_saving(void* editp)
{
    auto* services = static_cast<HostServices*>(editp);
    ++services->is_saving_calls;
    return services->saving ? TRUE : FALSE;
}

BOOL set_ycp_filtering_cache_size(FILTER*, int w, int h, int d, int flag)
{
    active_services->cache_size_requests.push_back({w, h, d, flag});
    return active_services->refuse_cache_size ? FALSE : TRUE;
}

void* get_ycp_source_cache(void* editp, int n, int)
{
    auto* services = static_cast<HostServices*>(editp);
    services->source_requests.push_back(n);
    const PIXEL_YC* frame = services->source_frame ? services->source_frame(n) : nullptr;
    return const_cast<PIXEL_YC*>(services->lend_copies ? lend(frame) : frame);
}

PIXEL_YC* get_ycp_filtering_cache_ex(FILTER*, void* editp, int n, int* w, int* h)
{
    auto* services = static_cast<HostServices*>(editp);
    services->filtering_requests.push_back(n);
    const PIXEL_YC* frame = services->filtering_frame ? services->filtering_frame(n) : nullptr;
    if (frame != nullptr && w != nullptr)
        *w = services->frame_w;
    if (frame != nullptr && h != nullptr)
        *h = services->frame_h;
    return const_cast<PIXEL_YC*>(services->lend_copies ? lend(frame) : frame);
}

BOOL get_sys_info(void* editp, SYS_INFO* sip)
{
    if (sip == nullptr)
        return FALSE;
    auto* services = static_cast<HostServices*>(editp);
    *sip = SYS_INFO{};
    sip->info = "norel stand-in host";
    sip->filter_n = static_cast<int>(filter_list.size());
    sip->max_w = sip->vram_w = services->frame_w;
    sip->max_h = sip->vram_h = services->frame_h;
    sip->vram_yc_size = static_cast<int>(sizeof(PIXEL_YC));
    return TRUE;
}

}  // namespace

FILTER* filter_record(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= filter_list.size())
        return nullptr;
    filter_list[index]->point_record();
    return filter_list[index]->filter_;
}

BOOL filter_is_active(FILTER* fp)
{
    for (PluginHost* host : filter_list) {
        if (host->filter_ == fp)
            return host->active_ ? TRUE : FALSE;
    }
    return FALSE;
}

void HostServices::clear_record()
{
    is_saving_calls = 0;
    cache_size_requests.clear();
    filtering_requests.clear();
    source_requests.clear();
    host_buffer_written = false;
}

PluginHost::PluginHost(GetFilterTableFunction get_table, int w, int h, int max_w)
    : filter_(get_table())
{
    if (filter_ == nullptr)
        throw std::runtime_error("GetFilterTable returned no descriptor");
    if (w < 0 || h < 0 || max_w < w)
        throw std::invalid_argument("frame geometry must have 0 <= w <= max_w and h >= 0");
    track_.assign(filter_->track_default, filter_->track_default + filter_->track_n);
    check_.assign(filter_->check_default, filter_->check_default + filter_->check_n);
    filter_->track = track_.data();
    filter_->check = check_.data();
    exfunc_.is_saving = is_saving;
    exfunc_.is_filter_active = filter_is_active;
    exfunc_.get_sys_info = get_sys_info;
    exfunc_.get_filterp = filter_record;
    exfunc_.set_ycp_filtering_cache_size = set_ycp_filtering_cache_size;
    exfunc_.get_ycp_source_cache = get_ycp_source_cache;
    exfunc_.get_ycp_filtering_cache_ex = get_ycp_filtering_cache_ex;
    filter_->exfunc = &exfunc_;

    const size_t pixels = static_cast<size_t>(max_w) * static_cast<size_t>(h);
    // A zero-sized frame still gets a distinct, valid buffer address.
    edit_.assign(pixels > 0 ? pixels : 1, PIXEL_YC{0, 0, 0});
    temp_.assign(pixels > 0 ? pixels : 1, PIXEL_YC{0, 0, 0});
    info_.w = w;
    info_.h = h;
    info_.max_w = max_w;
    info_.max_h = h;
    info_.org_w = w;
    info_.org_h = h;
    info_.editp = &services_;
    info_.yc_size = static_cast<int>(sizeof(PIXEL_YC));
    info_.line_size = max_w * static_cast<int>(sizeof(PIXEL_YC));
    services_.frame_w = w;
    services_.frame_h = h;
    filter_list.push_back(this);
}

PluginHost::~PluginHost()
{
    finish();
    filter_list.erase(std::find(filter_list.begin(), filter_list.end(), this));
}

void PluginHost::point_record()
{
    // The filter record is shared by every host of the same plug-in.
    filter_->track = track_.data();
    filter_->check = check_.data();
    filter_->exfunc = &exfunc_;
}

size_t PluginHost::frame_pixels() const
{
    return static_cast<size_t>(info_.max_w) * static_cast<size_t>(info_.h);
}

void PluginHost::answer_from(const Clip& filtering, const Clip& source)
{
    for (const Clip* clip : {&filtering, &source}) {
        for (const std::vector<PIXEL_YC>& frame : *clip) {
            if (frame.size() != frame_pixels())
                throw std::invalid_argument("every frame of a clip must hold max_w * h pixels");
        }
    }
    services_.filtering_frame = clip_frames(filtering);
    services_.source_frame = clip_frames(source);
}

void PluginHost::load(const std::vector<PIXEL_YC>& frame)
{
    if (frame.size() != frame_pixels())
        throw std::invalid_argument("a frame must hold max_w * h pixels");
    std::copy(frame.begin(), frame.end(), edit_.begin());
}

BOOL PluginHost::process(int frame, int frame_n)
{
    return call(filter_->func_proc, frame, frame_n, edit_.data());
}

BOOL PluginHost::process(int frame, int frame_n, PIXEL_YC* edit)
{
    return call(filter_->func_proc, frame, frame_n, edit);
}

int PluginHost::process_with(int (*proc)(FILTER*, FILTER_PROC_INFO*), int frame, int frame_n)
{
    return call(proc, frame, frame_n, edit_.data());
}

int PluginHost::call(int (*proc)(FILTER*, FILTER_PROC_INFO*), int frame, int frame_n, PIXEL_YC* edit)
{
    point_record();
    info_.ycp_edit = edit;
    info_.ycp_temp = temp_.data();
    info_.frame = frame;
    info_.frame_n = frame_n;
    active_services = &services_;
    lent_pixels = frame_pixels();
    lent.clear();
    const int result = proc(filter_, &info_);
    for (const LentBuffer& buffer : lent) {
        if (std::memcmp(buffer.original, buffer.copy.data(), lent_pixels * sizeof(PIXEL_YC)) != 0)
            services_.host_buffer_written = true;
    }
    lent.clear();
    active_services = nullptr;
    return result;
}

BOOL PluginHost::finish()
{
    if (finished_)
        return TRUE;
    finished_ = true;
    return filter_->func_exit != nullptr ? filter_->func_exit(filter_) : TRUE;
}
