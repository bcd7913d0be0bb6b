#include "tests/scenarios.h"

#include <cinttypes>
#include <cstring>
#include <vector>

#include "tests/host_services.h"
#include "tests/expected_descriptor.h"
#include "tests/scenario_support.h"

namespace {

struct Scenario {
    const char* name;
    int w, h, max_w;
    int track[7];
    int check[7];
    bool saving;
    int frame_n;       // frames in the clip, all processed in order
    bool full_range;   // pixels over the whole 16-bit range, not the nominal one
    bool refuse_cache; // set_ycp_filtering_cache_size answers FALSE
    bool no_frames;    // the frame services answer null
};

// Tracks: left, width, top, height, shift, freq, phase.
// Checks: compose, 60FPS, TFF, show range, MONO, C/Y, LPF.
const Scenario scenarios[] = {
    {"defaults_720x480", 720, 480, 736, {0, 320, 0, 320, 0, 704, 0}, {0, 0, 1, 0, 0, 0, 1}, true, 2, false, false, false},
    {"show_range_preview", 96, 40, 100, {8, 50, 3, 20, 17, 704, 0}, {0, 0, 1, 1, 1, 1, 1}, false, 2, false, false, false},
    {"show_range_saving", 96, 40, 100, {8, 50, 3, 20, 17, 704, 0}, {0, 0, 1, 1, 0, 0, 1}, true, 2, false, false, false},
    {"mono", 96, 40, 100, {5, 60, 2, 30, 0, 704, 0}, {0, 0, 1, 0, 1, 0, 0}, true, 2, false, false, false},
    {"cy_704_0", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 0}, true, 4, false, false, false},
    {"cy_750_-180_bff", 96, 40, 100, {3, 70, 1, 33, 0, 750, -180}, {0, 0, 0, 0, 0, 1, 0}, true, 4, false, false, false},
    {"cy_600_45_60fps", 96, 40, 100, {0, 96, 0, 40, 0, 600, 45}, {0, 1, 1, 0, 0, 1, 0}, true, 6, false, false, false},
    {"cy_623_177_mono", 96, 40, 100, {10, 40, 5, 20, 0, 623, 177}, {0, 0, 1, 0, 1, 1, 1}, true, 3, true, false, false},
    {"cy_odd_top_60fps_tff", 96, 41, 100, {17, 61, 3, 30, 0, 712, -61}, {0, 1, 1, 0, 0, 1, 0}, true, 6, false, false, false},
    {"cy_odd_top_60fps_bff", 96, 41, 100, {17, 61, 3, 30, 0, 712, -61}, {0, 1, 0, 0, 0, 1, 0}, true, 6, false, false, false},
    {"cy_wide_1920", 1920, 8, 1936, {0, 2048, 0, 8, 0, 741, -97}, {0, 0, 1, 0, 0, 1, 0}, true, 1, false, false, false},
    {"shift_16", 96, 40, 100, {0, 96, 0, 40, 16, 704, 0}, {0, 0, 1, 0, 0, 0, 0}, true, 1, false, false, false},
    {"shift_-48_bff", 96, 40, 100, {4, 80, 3, 30, -48, 704, 0}, {0, 0, 0, 0, 0, 0, 0}, true, 1, false, false, false},
    {"shift_17", 96, 40, 100, {0, 96, 0, 40, 17, 704, 0}, {0, 0, 1, 0, 0, 0, 0}, true, 2, false, false, false},
    {"shift_-5_bff", 96, 40, 100, {0, 96, 2, 36, -5, 704, 0}, {0, 0, 0, 0, 0, 0, 0}, true, 2, false, false, false},
    {"shift_255_full_range", 96, 40, 100, {0, 96, 0, 40, 255, 704, 0}, {0, 0, 1, 0, 0, 0, 0}, true, 1, true, false, false},
    {"shift_-256", 96, 40, 100, {0, 96, 0, 40, -256, 704, 0}, {0, 0, 1, 0, 0, 0, 0}, true, 1, false, false, false},
    {"shift_8_one_row", 96, 40, 100, {0, 96, 6, 1, 8, 704, 0}, {0, 0, 0, 0, 0, 0, 0}, true, 1, false, false, false},
    {"shift_16_first_row", 96, 40, 100, {10, 50, 0, 1, 16, 704, 0}, {0, 0, 0, 0, 0, 0, 0}, true, 1, false, false, false},
    {"shift_-24_last_row", 96, 40, 100, {0, 96, 39, 5, -24, 704, 0}, {0, 0, 1, 0, 0, 0, 0}, true, 1, false, false, false},
    {"lpf_whole", 96, 40, 100, {0, 2048, 0, 2048, 0, 704, 0}, {0, 0, 1, 0, 0, 0, 1}, true, 1, false, false, false},
    {"lpf_full_range", 95, 37, 97, {1, 90, 1, 35, 0, 704, 0}, {0, 0, 1, 0, 0, 0, 1}, true, 1, true, false, false},
    {"lpf_narrow_odd", 7, 13, 9, {0, 7, 0, 13, 0, 704, 0}, {0, 0, 1, 0, 0, 0, 1}, true, 1, false, false, false},
    {"60fps_tff", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 1, 1, 0, 0, 0, 0}, true, 4, false, false, false},
    {"60fps_bff_odd_h", 96, 41, 100, {0, 96, 0, 41, 0, 704, 0}, {0, 1, 0, 0, 0, 0, 0}, true, 5, false, false, false},
    {"60fps_refused", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 1, 1, 0, 0, 0, 1}, true, 2, false, true, false},
    {"60fps_no_partner", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 1, 1, 0, 0, 0, 1}, true, 2, false, false, true},
    {"compose_11", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 1, 1, 0, 1, 1, 1}, true, 11, false, false, false},
    {"compose_10_no_source", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 0, 1, 0, 0, 0, 1}, true, 10, false, false, true},
    {"compose_1_frame", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 0, 1, 0, 0, 0, 1}, true, 1, false, false, false},
    {"compose_cut_rect", 96, 40, 100, {80, 320, 30, 320, 0, 704, 0}, {1, 0, 1, 0, 0, 0, 1}, true, 5, false, false, false},
    {"compose_60fps_refused", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 1, 1, 0, 0, 0, 1}, true, 4, false, true, false},
    {"compose_show_range_preview", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 0, 1, 1, 0, 0, 1}, false, 4, false, false, false},
    {"60fps_empty_rect", 96, 40, 100, {10, 0, 5, 20, 24, 704, 0}, {0, 1, 1, 0, 0, 0, 1}, true, 4, false, false, false},
    {"60fps_one_row", 96, 1, 100, {0, 96, 0, 1, 0, 704, 0}, {0, 1, 1, 0, 0, 0, 1}, true, 2, false, false, false},
    {"60fps_no_rows", 96, 0, 100, {0, 96, 0, 1, 0, 704, 0}, {0, 1, 0, 0, 0, 0, 1}, true, 2, false, false, false},
    {"left_beyond_width", 96, 40, 100, {2000, 320, 0, 320, 24, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, true, 1, false, false, false},
    {"negative_edges", 96, 40, 100, {-5, 40, -7, 30, 9, 704, 0}, {0, 0, 1, 0, 1, 0, 1}, true, 1, false, false, false},
    {"everything", 96, 40, 100, {0, 96, 0, 40, -23, 690, 33}, {0, 1, 0, 0, 0, 1, 1}, true, 6, false, false, false},
};

std::vector<PIXEL_YC> make_frame(const Scenario& s, uint32_t seed)
{
    return random_frame(static_cast<size_t>(s.max_w) * s.h, s.full_range, seed);
}

}  // namespace

std::string descriptor_mismatch(const FILTER_DLL* filter)
{
    if (filter == nullptr)
        return "GetFilterTable returned null";
    if (filter->flag != expected_flag)
        return "flag";
    if (filter->x != 0 || filter->y != 0)
        return "window size";
    if (filter->name == nullptr || std::strcmp(filter->name, expected_name) != 0)
        return "name";
    if (filter->information == nullptr ||
        std::strcmp(filter->information, expected_information) != 0)
        return "information string";
    if (filter->track_n != 7 || filter->check_n != 7)
        return "track or check count";
    for (int i = 0; i < 7; ++i) {
        const ExpectedTrack& t = expected_tracks[i];
        if (std::strcmp(filter->track_name[i], t.label) != 0)
            return "track label " + std::to_string(i);
        if (filter->track_default[i] != t.default_value || filter->track_s[i] != t.minimum ||
            filter->track_e[i] != t.maximum)
            return "track range or default " + std::to_string(i);
    }
    for (int i = 0; i < 7; ++i) {
        if (std::strcmp(filter->check_name[i], expected_checks[i].label) != 0)
            return "check label " + std::to_string(i);
        if (filter->check_default[i] != expected_checks[i].default_value)
            return "check default " + std::to_string(i);
    }
    if (filter->func_proc == nullptr || filter->func_exit == nullptr)
        return "func_proc or func_exit missing";
    if (filter->func_init != nullptr || filter->func_update != nullptr ||
        filter->func_WndProc != nullptr)
        return "unexpected callback";
    if (filter->ex_data_ptr != nullptr || filter->ex_data_size != 0)
        return "extra data block";
    if (filter->func_save_start != nullptr || filter->func_save_end != nullptr ||
        filter->ex_data_def != nullptr || filter->func_is_saveframe != nullptr ||
        filter->func_project_load != nullptr || filter->func_project_save != nullptr ||
        filter->func_modify_title != nullptr || filter->dll_path != nullptr ||
        filter->reserve[0] != 0 || filter->reserve[1] != 0)
        return "later fields not zero";
    return "";
}

int run_scenarios(GetFilterTableFunction get_table, FILE* out)
{
    int count = 0;
    for (const Scenario& s : scenarios) {
        Clip filtering, source;
        for (int n = 0; n < s.frame_n; ++n) {
            filtering.push_back(make_frame(s, 2 * n + 1));
            source.push_back(make_frame(s, 2 * n + 2));
        }
        Digest digest;
        {
            PluginHost host(get_table, s.w, s.h, s.max_w);
            std::memcpy(host.track().data(), s.track, sizeof s.track);
            std::memcpy(host.check().data(), s.check, sizeof s.check);
            HostServices& services = host.services();
            services.saving = s.saving;
            services.refuse_cache_size = s.refuse_cache;
            if (!s.no_frames)
                host.answer_from(filtering, source);
            for (int n = 0; n < s.frame_n; ++n) {
                // The frame enters as the filters ahead of ours left it.
                host.load(filtering[n]);
                digest.add(host.process(n, s.frame_n));
                digest.add(host.edit(), filtering[n].size() * sizeof(PIXEL_YC));
            }
            digest.add(services.is_saving_calls);
            for (const auto& request : services.cache_size_requests) {
                digest.add(request.w);
                digest.add(request.h);
                digest.add(request.d);
                digest.add(request.flag);
            }
            for (int n : services.filtering_requests)
                digest.add(n);
            for (int n : services.source_requests)
                digest.add(n);
            digest.add(services.host_buffer_written ? 1 : 0);
            digest.add(host.finish());
        }
        std::fprintf(out, "%s %016" PRIx64 "\n", s.name, digest.value);
        ++count;
    }
    return count;
}
