// norel: runs the filter over video files from the command line, playing
// the part of the editor that hosts it.
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

extern "C" {
#include <libavutil/log.h>
}

#include "hosts/cli/options.h"
#include "hosts/cli/render.h"
#include "hosts/cli/synthesize.h"

namespace {

// The signals that end a run: each stops it cleanly, so that the
// unfinished output is removed.
const int ending_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};

void request_stop(int signal_number)
{
    stop_requested = signal_number;
}

void write_preset(const Options& options)
{
    std::FILE* file = std::fopen(options.save_preset.c_str(), "w");
    const std::string text = preset_text(options);
    if (file == nullptr || std::fputs(text.c_str(), file) < 0 || std::fclose(file) != 0)
        throw Failure(options.save_preset + ": cannot write the preset: " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv)
{
    // Without SA_RESTART a read that waits for input returns and sees the
    // stop.
    struct sigaction stop {};
    stop.sa_handler = request_stop;
    sigemptyset(&stop.sa_mask);
    for (int signal_number : ending_signals)
        sigaction(signal_number, &stop, nullptr);
    try {
        const Options options = parse_options(argc, argv);
        if (options.mode == Options::Mode::Help) {
            std::fputs(help_text().c_str(), stdout);
            return 0;
        }
        if (options.mode == Options::Mode::Version) {
            std::puts("norel " NOREL_VERSION);
            return 0;
        }
        av_log_set_level(options.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
        if (!options.save_preset.empty())
            write_preset(options);
        if (options.input.empty() && options.mode == Options::Mode::Render)
            return 0;
        if (options.mode == Options::Mode::Synthesize)
            synthesize(options);
        else
            render(options);
        return 0;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "norel: %s\nTry 'norel --help' for the options.\n", error.what());
        return 2;
    } catch (const Failure& error) {
        std::fprintf(stderr, "norel: %s\n", error.what());
        // Ended by a signal: the shell's status for it.
        return stop_requested ? 128 + stop_requested : 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "norel: out of memory\n");
        return 1;
    }
}
