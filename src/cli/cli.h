// tarnwick-cli: probe a program stream, cut a clip, or split it into pieces from the command
// line, with the engine's own checks and messages. main.cpp supplies the process's streams;
// tests supply string streams and a scripted file system.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/stopsignals.h"
#include "mpeg/mpegsource.h"
#include "mpeg/splitengine.h"
#include "platform/io/fileio.h"

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the engine reported a failure (message on stderr)
inline constexpr int kExitUsage = 2;    // the command line was wrong (usage on stderr)
// Stopped by a signal: 128 plus its number, as a shell reports a process the signal ended.
inline constexpr int kExitSignalBase = 128;

struct CliEnvironment {
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    // Standard input is a terminal: the replace question may be asked.
    bool m_bInteractive = false;
    // Measures the duration when --duration is absent (the media layer's QueryStopPosition).
    // Empty: cut and split-time need --duration, and probe prints a duration of 0.
    StopPositionQuery m_query;
    IFileSystem& m_fileSystem = PosixFileSystem();
    // SIGINT and SIGTERM stop a running command; null: nothing stops it.
    const CStopSignals* m_pStopSignals = nullptr;
    // Standard error is a terminal: a command that writes shows its progress there on one
    // line, unless --quiet.
    bool m_bProgress = false;
};

// Runs one command line (without the program name) and returns the exit status.
int RunCli(const std::vector<std::string>& args, CliEnvironment& env);

// A number as the command line takes it: decimal digits after at most one '+', within the 32-bit
// range; nullopt for anything else (a '-', blanks, a second sign, letters).
std::optional<int32_t> ParseCliNumber(std::string_view text);

// "H:M:S" (three such numbers) or plain whole seconds; nullopt when malformed or out of the
// 32-bit range of the window's fields.
std::optional<CClipTime> ParseClipTime(std::string_view text);

// The help text printed by --help.
std::string CliHelpText();
