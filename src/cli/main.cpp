// Entry point of tarnwick-cli.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // No duration query yet: cut and split-time take --duration, probe prints a duration of 0.
    CliEnvironment env{std::cin, std::cout,        std::cerr, ::isatty(STDIN_FILENO) == 1,
                       {},       PosixFileSystem()};
    return RunCli(args, env);
}
