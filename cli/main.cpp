// norel: runs the filter over video files from the command line, playing
// the part of the editor that hosts it.
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <exception>

extern "C" {
#include <libavutil/log.h>
}

#include "cli/options.h"
#include "cli/render.h"
#include "cli/synthesize.h"
#include "plugin/descriptor.h"

namespace {

void request_stop(int)
{
    stop_requested = 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const FILTER_DLL* filter = GetFilterTable();
    try {
        const Options options = parse_options(argc, argv, filter);
        if (options.mode == Options::Mode::Help) {
            std::fputs(help_text(filter).c_str(), stdout);
            return 0;
        }
        av_log_set_level(options.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
        // Stop cleanly, so that the unfinished output is removed. Without
        // SA_RESTART a read that waits for input returns and sees the stop.
        struct sigaction stop {};
        stop.sa_handler = request_stop;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGINT, &stop, nullptr);
        sigaction(SIGTERM, &stop, nullptr);
        std::signal(SIGPIPE, SIG_IGN);
        if (options.mode == Options::Mode::Synthesize)
            synthesize(options);
        else
            render(options, GetFilterTable);
        return 0;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "norel: %s\nTry 'norel --help' for the options.\n", error.what());
        return 2;
    } catch (const Failure& error) {
        std::fprintf(stderr, "norel: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "norel: out of memory\n");
        return 1;
    }
}
