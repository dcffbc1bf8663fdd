// Entry point of tarnwick-cli: the engine with the media framework measuring durations.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "media/mediaframework.h"
#include "media/querystopposition.h"

namespace {

// Starting the media framework loads its plugin registry, which only a duration needs: a
// split given --duration, or one that fails before, never pays for it.
bool QueryStopPositionOnDemand(const std::string& path, int64_t* stop100ns) {
    static const bool started = MediaFrameworkInitialize();
    return started && QueryStopPosition(path, stop100ns);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    CliEnvironment env{std::cin,
                       std::cout,
                       std::cerr,
                       ::isatty(STDIN_FILENO) == 1,
                       QueryStopPositionOnDemand,
                       PosixFileSystem(),
                       &CStopSignals::Install(),
                       ::isatty(STDERR_FILENO) == 1};
    return RunCli(args, env);
}
