// Command-line parsing and the four commands of tarnwick-cli.
#include "cli/cli.h"

#include <charconv>
#include <csignal>
#include <limits>
#include <map>
#include <ostream>
#include <set>

#include "cli/consolereporter.h"
#include "cli/json.h"
#include "cli/outputwatch.h"
#include "cli/plancommands.h"
#include "cli/terminalprogress.h"
#include "mpeg/cutlist.h"
#include "mpeg/messages.h"
#include "mpeg/outputpaths.h"
#include "mpeg/packscanner.h"
#include "mpeg/streamclock.h"

namespace {

constexpr const char* kProgram = "tarnwick-cli";

struct CommandRules {
    std::set<std::string> m_valueOptions;
    std::set<std::string> m_flagOptions;
    std::set<std::string> m_requiredOptions;
    bool m_bNeedsDuration;
    bool m_bManyFiles = false;
};

const std::map<std::string, CommandRules>& Commands() {
    static const std::map<std::string, CommandRules> commands{
        {"probe", {{"--duration"}, {"--json"}, {}, false}},
        {"cut",
         {{"--start", "--end", "--output", "--duration", "--segments", "--segments-from"},
          {"--yes", "--clean", "--json", "--quiet", "--separate"},
          {"--output"},
          true}},
        {"plan",
         {{"--start", "--end", "--duration"}, {"--clean", "--json"}, {"--start", "--end"}, true}},
        {"keyframes", {{}, {"--json"}, {}, false}},
        {"join", {{"--output"}, {"--yes", "--json", "--quiet"}, {"--output"}, false, true}},
        {"split-size",
         {{"--pieces", "--output-dir"},
          {"--clean", "--json", "--quiet"},
          {"--pieces", "--output-dir"},
          false}},
        {"split-time",
         {{"--seconds", "--output-dir", "--duration"},
          {"--clean", "--json", "--quiet"},
          {"--seconds", "--output-dir"},
          true}},
    };
    return commands;
}

struct Invocation {
    bool m_bHelp = false;
    std::string m_strCommand;
    std::string m_strFile;
    std::vector<std::string> m_files;  // every FILE, in order; join takes several
    std::map<std::string, std::string> m_values;
    std::set<std::string> m_flags;
};

bool IsHelp(const std::string& arg) {
    return arg == "-h" || arg == "--help";
}

int Usage(CliEnvironment& env, const std::string& problem) {
    env.m_err << kProgram << ": " << problem << "\n\n" << CliHelpText() << std::flush;
    return kExitUsage;
}

// Fills the invocation or returns the problem with the command line, reading the arguments in
// order: -h or --help where an option may stand asks for help, unless a problem came first;
// an option's value is the next argument whatever it looks like; after "--" every argument is
// the FILE.
std::optional<std::string> Parse(const std::vector<std::string>& args, Invocation& call) {
    if (args.empty()) {
        return "no command given";
    }
    if (IsHelp(args[0])) {
        call.m_bHelp = true;
        return std::nullopt;
    }
    call.m_strCommand = args[0];
    const auto command = Commands().find(call.m_strCommand);
    if (command == Commands().end()) {
        return "unknown command '" + call.m_strCommand + "'";
    }
    const CommandRules& rules = command->second;
    bool haveFile = false;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (haveFile && !rules.m_bManyFiles) {
                return "more than one FILE given ('" + arg + "')";
            }
            if (!haveFile) {
                call.m_strFile = arg;
            }
            call.m_files.push_back(arg);
            haveFile = true;
            continue;
        }
        if (IsHelp(arg)) {
            call.m_bHelp = true;
            return std::nullopt;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const size_t equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (rules.m_flagOptions.count(name) != 0) {
            if (value) {
                return "option '" + name + "' takes no value";
            }
            call.m_flags.insert(name);
            continue;
        }
        if (name[1] != '-') {
            return "unknown option '" + arg + "' (a FILE that begins with '-' goes after '--')";
        }
        if (rules.m_valueOptions.count(name) == 0) {
            return "unknown option '" + name + "' for " + call.m_strCommand;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return "option '" + name + "' needs a value";
            }
            value = args[++i];
        }
        call.m_values[name] = *value;
    }
    if (!haveFile) {
        return "no FILE given";
    }
    for (const std::string& required : rules.m_requiredOptions) {
        if (call.m_values.count(required) == 0) {
            return call.m_strCommand + " needs " + required;
        }
    }
    return std::nullopt;
}

std::string OutputFolder(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

const char* DurationSourceName(const CMpegSource& source) {
    switch (source.m_eDurationSource) {
        case EDurationSource::TimeStamps:
            return "time stamps";
        case EDurationSource::PackClock:
            return "pack clock";
        case EDurationSource::MediaFramework:
            return "media framework";
        case EDurationSource::None:
            break;
    }
    return "none";
}

// The requested cuts a clean piece runs on over: which piece of the series asked for, its
// time (by size: null) and why no piece starts there.
std::string MergedJson(const CMergeReport& report, int32_t piece) {
    std::string json = "[";
    for (const CMergedPiece& merged : report.m_pieces) {
        if (merged.m_nPiece != piece) {
            continue;
        }
        for (int32_t k = merged.m_nFirst; k <= merged.m_nLast; ++k) {
            json += json.size() > 1 ? ", " : "";
            json +=
                "{\"requested\": " + std::to_string(k) + ", \"seconds\": " +
                (report.m_llPieceSeconds > 0 ? std::to_string(k * report.m_llPieceSeconds)
                                             : std::string("null")) +
                ", \"reason\": " +
                (merged.m_eReason == EMergeReason::NoPlace ? "\"no place\"" : "\"beyond reach\"") +
                "}";
        }
    }
    return json + "]";
}

// One JSON object per output the command completed, each on a line of its own: where it is,
// what of the source it holds, its start and length read back from its own clock, and the
// requested cuts it runs on over.
void PrintOutputs(const CSplitEngine& engine, CliEnvironment& env) {
    int32_t index = 0;
    for (const COutputRecord& output : engine.Outputs()) {
        int64_t size = -1;
        std::optional<CClockLength> clock;
        if (auto file = env.m_fileSystem.OpenRead(output.m_strPath)) {
            size = my_lseeki64(file.get(), 0, SeekOrigin::End);
            if (size > 0) {
                clock = CStreamClock::Measure(*file, size);
            }
        }
        const char* source = nullptr;
        std::optional<double> start;
        std::optional<double> length;
        if (clock) {
            source = clock->m_source == EClockSource::TimeStamps ? "time stamps" : "pack clock";
            start = static_cast<double>(clock->m_llStartClock) / kClockUnitsPerSecond;
            length = static_cast<double>(clock->m_llDuration100ns) / 10'000'000.0;
        }
        env.m_out << "{\"path\": " << JsonString(output.m_strPath)
                  << ", \"size\": " << (size >= 0 ? std::to_string(size) : "null")
                  << ", \"start_offset\": " << output.m_llStart
                  << ", \"end_offset\": " << output.m_llEnd
                  << ", \"header_bytes\": " << output.m_llHeaderBytes
                  << ", \"start_seconds\": " << JsonSeconds(start)
                  << ", \"length_seconds\": " << JsonSeconds(length)
                  << ", \"clock\": " << (source != nullptr ? JsonString(source) : "null")
                  << ", \"merged\": " << MergedJson(engine.Merged(), index++) << "}\n";
    }
    env.m_out << std::flush;
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "a signal";
    }
}

// What a signal left, told after its name.
constexpr const char* kStoppedWriting =
    "; the file being written was removed, finished files "
    "were kept";
// Where the folder refuses new files the existing file itself is written: it is not removed.
constexpr const char* kStoppedWritingInPlace =
    "; the file being written could only be written in place and is incomplete, finished files "
    "were kept";
constexpr const char* kStoppedBeforeWriting = "; nothing was written";

// The exit status of a command a signal stopped, with a short notice of what it left.
int StoppedBySignal(CliEnvironment& env, const char* left) {
    const int signal = env.m_pStopSignals->Signal();
    env.m_err << kProgram << ": stopped by " << SignalName(signal) << left << '\n' << std::flush;
    return kExitSignalBase + signal;
}

int StatusToExit(SplitStatus status, const COutputWatch& watch, CliEnvironment& env) {
    // A signal that arrived while the command ran decides, unless the work was done anyway.
    if (status != SplitStatus::Done && env.m_pStopSignals != nullptr &&
        env.m_pStopSignals->Signal() != 0) {
        const char* left = "";
        if (status == SplitStatus::Cancelled) {
            left = watch.Begun() && watch.InPlace() ? kStoppedWritingInPlace : kStoppedWriting;
        }
        return StoppedBySignal(env, left);
    }
    switch (status) {
        case SplitStatus::Done:
            return kExitSuccess;
        case SplitStatus::NotStarted:
            env.m_err << kProgram
                      << ": the source has a total time of 0 seconds; nothing to split\n"
                      << std::flush;
            return kExitFailure;
        case SplitStatus::Failed:
        case SplitStatus::Declined:
        case SplitStatus::Cancelled:
            break;
    }
    return kExitFailure;
}

// A cut list comes from one place, and never with a single clip's times.
std::optional<std::string> CutListProblem(const std::map<std::string, std::string>& values) {
    if (values.count("--segments") != 0 && values.count("--segments-from") != 0) {
        return "--segments and --segments-from exclude each other";
    }
    if (values.count("--start") != 0 || values.count("--end") != 0) {
        return "--start and --end do not go with a cut list";
    }
    return std::nullopt;
}

// Lists longer than this are no lists of segments.
constexpr int64_t kMaxCutListBytes = int64_t{4} << 20;

// The list of --segments or the file of --segments-from; a refusal is told on standard error.
bool ReadCutList(const std::map<std::string, std::string>& values, CCutList& list,
                 CliEnvironment& env) {
    std::optional<CSpanRefusal> refusal;
    if (const auto it = values.find("--segments"); it != values.end()) {
        refusal = list.ParseSegments(it->second);
    } else {
        const std::string& path = values.at("--segments-from");
        auto file = env.m_fileSystem.OpenRead(path);
        const int64_t size = file ? my_lseeki64(file.get(), 0, SeekOrigin::End) : -1;
        if (!file || size < 0 || my_lseeki64(file.get(), 0, SeekOrigin::Begin) != 0) {
            env.m_err << kProgram << ": can not read the cut list " << path << '\n' << std::flush;
            return false;
        }
        if (size > kMaxCutListBytes) {
            env.m_err << kProgram << ": the cut list " << path << " is larger than 4 MiB\n"
                      << std::flush;
            return false;
        }
        std::string text(static_cast<size_t>(size), '\0');
        if (file->Read(text.data(), text.size()) != size) {
            env.m_err << kProgram << ": can not read the cut list " << path << '\n' << std::flush;
            return false;
        }
        refusal = list.ParseFile(path, text);
    }
    if (refusal) {
        env.m_err << kProgram << ": " << refusal->m_strText << '\n' << std::flush;
        return false;
    }
    return true;
}

}  // namespace

std::optional<int32_t> ParseCliNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

namespace {

// "S" or "S.f" with one to three decimals: the seconds and the milliseconds.
std::optional<std::pair<int32_t, int32_t>> ParseSeconds(std::string_view text) {
    const size_t point = text.find('.');
    const auto seconds = ParseCliNumber(text.substr(0, point));
    if (!seconds) {
        return std::nullopt;
    }
    if (point == std::string_view::npos) {
        return std::pair{*seconds, 0};
    }
    const std::string_view decimals = text.substr(point + 1);
    if (decimals.empty() || decimals.size() > 3 ||
        decimals.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int32_t ms = 0;
    for (size_t i = 0; i < 3; ++i) {
        ms = ms * 10 + (i < decimals.size() ? decimals[i] - '0' : 0);
    }
    return std::pair{*seconds, ms};
}

}  // namespace

std::optional<CClipTime> ParseClipTime(std::string_view text) {
    const size_t first = text.find(':');
    if (first == std::string_view::npos) {
        const auto parsed = ParseSeconds(text);
        if (!parsed) {
            return std::nullopt;
        }
        const int32_t seconds = parsed->first;
        return CClipTime{seconds / 3600, seconds % 3600 / 60, seconds % 60, parsed->second};
    }
    const size_t second = text.find(':', first + 1);
    if (second == std::string_view::npos || text.find(':', second + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const auto hours = ParseCliNumber(text.substr(0, first));
    const auto minutes = ParseCliNumber(text.substr(first + 1, second - first - 1));
    const auto seconds = ParseSeconds(text.substr(second + 1));
    if (!hours || !minutes || !seconds) {
        return std::nullopt;
    }
    return CClipTime{*hours, *minutes, seconds->first, seconds->second};
}

std::string CliHelpText() {
    return R"HELP(Usage:
  tarnwick-cli probe FILE [--duration SECONDS] [--json]
  tarnwick-cli cut FILE --start TIME --end TIME --output PATH [--yes] [--clean]
               [--json] [--quiet] [--duration SECONDS]
  tarnwick-cli cut FILE (--segments LIST | --segments-from FILE) --output PATH
               [--separate] [--yes] [--json] [--quiet] [--duration SECONDS]
  tarnwick-cli join FILE FILE... --output PATH [--yes] [--json] [--quiet]
  tarnwick-cli plan FILE --start TIME --end TIME [--clean] [--json]
               [--duration SECONDS]
  tarnwick-cli keyframes FILE [--json]
  tarnwick-cli split-size FILE --pieces N --output-dir DIR [--clean] [--json]
               [--quiet]
  tarnwick-cli split-time FILE --seconds A --output-dir DIR [--clean] [--json]
               [--quiet] [--duration SECONDS]

Cuts MPEG-1/MPEG-2 program streams at pack boundaries without re-encoding.

  probe        prints size, header_length, duration_100ns, total_seconds, the
               information line "info: NAME  (HH:MM:SS)", header_copy_length (the
               bytes copied in front of each piece) and duration_source (time
               stamps, pack clock, media framework, option or none), one per line.
  cut          writes the clip between --start and --end to --output. An existing
               output is replaced only with --yes; without it the question is asked
               on a terminal and refused otherwise.
  cut --segments A-B,C-D,...  or  --segments-from LIST
               keeps the segments, in order, and drops the rest: into --output,
               one file whose clock runs on across every joint (the time stamps
               of each segment after the first move so that it follows the one
               before), or with --separate into one file a segment, named as
               pieces are (NAME_0.mpg, NAME_1.mpg, ... beside --output). Every
               segment is cut clean. LIST is a CSV cut list of "start,end[,name]"
               lines (an empty end: to the end) or, named *.edl, an EDL file of
               "start end 0" lines, the parts to drop. Times there are seconds
               with decimals or H:M:S.mmm. Segments out of order, overlapping or
               ending past the end, and a line that does not parse (its number
               named) are refused before anything is written.
  join         writes the FILEs, in the order given, into --output as one
               stream with one clock. A FILE whose pack clock runs on from the
               one before (a DVD's VOB files) is copied as it is, in the kernel;
               any other has its time stamps moved to follow the one before. A
               FILE with other streams, another video format or picture size
               than the first is refused, named with how it differs.
  plan         prints, without writing, what cut with the same times and --clean
               would write: start_offset and end_offset (the source's bytes),
               size (of the output), start_time (the first picture shown) and
               end_time (the first picture after it, or the length at the file's
               end), times as H:MM:SS.mmm from the stream's start, "unknown" for
               a stream without a clock.
  keyframes    lists the key pictures, the places a clean piece can start, one
               a line: the time of its picture and its byte offset.
  split-size   writes N pieces of equal size, named NAME_0.mpg, NAME_1.mpg, ...
               (zero-padded to the digits of N) into DIR.
  split-time   writes pieces of A seconds each into DIR; the last takes the rest.

Without --clean, times map to bytes in proportion to the file's size, every piece
after the first starts with a copy of the source's first pack, and pieces are
copied in 512-byte blocks: fast, but a piece starts mid-picture and its times are
the source's. With --clean, times map to bytes through the stream's own clock,
every cut moves back to the pack where a group of pictures (H.264: a key picture)
begins, pieces hold whole packs and end exactly where the next begins, and each
piece after the first starts with the source's pack and system headers only, its
clock set just before the piece's own. split-size still cuts by bytes. Where no
picture can start a piece between two requested cuts (a key picture every 10 s,
pieces of 2 s), the piece before runs on over the cut: fewer pieces are written,
numbered as written, and standard error says which cuts were merged and why.

--json prints the probe and the plan as one JSON object (the plan's times as
start_seconds and end_seconds), the key pictures as one object a line (seconds,
offset) and, for the other commands, after writing, one JSON object per output
on a line of its own: path, size, start_offset and end_offset (the source's bytes
it holds), header_bytes (bytes in front of them), and start_seconds,
length_seconds and clock as read back from the written file's own clock (null
where it has none), and merged: the requested cuts the piece runs on over, each
with its index, its time in seconds (split-size: null) and the reason ("no
place", or "beyond reach" a minute or 64 MiB back). Messages, "Splitting is
done!" among them, then go to standard error. Bytes of a path that are not UTF-8
are written as \udcXX (Python's surrogate escape).

TIME is H:M:S or seconds, the seconds with up to three decimals (1:02:03.5,
83.25); every other number is plain decimal digits with at most one leading '+'.
"--" ends the options, so a FILE that begins with '-' goes
after it. The source's total time is read from the stream's own clock (its time
stamps, else its pack clock) and, where the stream has no usable clock, measured
by the media framework (GStreamer); --duration SECONDS gives it instead, in whole
seconds, and is the only way to cut a file that neither can measure. DIR gets a
trailing '/' when it lacks one.
The FILE is probed first (it must start with a pack start code and have a second
one within its first 20,000 bytes, or, after a well-formed first pack, within
its first 4 MiB).

While cut, split-size and split-time write, and standard error is a terminal, one
line there shows the share done, the speed and the time left; --quiet leaves it out.
Nothing of it is written when standard error is not a terminal.

Outputs are written beside their final names and take them only when complete: a
failure, SIGINT or SIGTERM leaves no partial file, and a file that was there stays
as it was. SIGINT or SIGTERM stops the copy, removes the file being written, keeps
the files finished before and says so on standard error.

Exit status: 0 when done ("Splitting is done!" on standard output), 1 when the
command failed (the reason on standard error; pieces completed before stay), 2 for
a wrong command line, 128 plus the signal's number when SIGINT or SIGTERM stopped it.
)HELP";
}

namespace {

// What a writing command runs with: the engine, stopped by SIGINT and SIGTERM, its progress
// drawn on the terminal unless --quiet (a message clears the line first) and watched for what
// a signal leaves behind.
struct CWritingRun {
    CWritingRun(const Invocation& call, CliEnvironment& env, CConsoleReporter& reporter)
        : m_terminal(env.m_err),
          m_watch(ShowsProgress(call, env) ? static_cast<IProgress&>(m_terminal) : NoProgress()),
          m_engine(reporter, env.m_fileSystem,
                   env.m_pStopSignals != nullptr ? *env.m_pStopSignals : NeverStop(), m_watch) {
        if (ShowsProgress(call, env)) {
            reporter.SetBeforeMessage([this] { m_terminal.Clear(); });
        }
    }
    static bool ShowsProgress(const Invocation& call, const CliEnvironment& env) {
        return env.m_bProgress && call.m_flags.count("--quiet") == 0;
    }

    CTerminalProgress m_terminal;
    COutputWatch m_watch;
    CSplitEngine m_engine;
};

int RunJoin(Invocation& call, CliEnvironment& env) {
    const bool json = call.m_flags.count("--json") != 0;
    CConsoleReporter reporter(env.m_in, json ? env.m_err : env.m_out, env.m_err, env.m_bInteractive,
                              call.m_flags.count("--yes") != 0);
    CWritingRun run(call, env, reporter);
    CSplitEngine& engine = run.m_engine;
    const SplitStatus status = engine.Join(call.m_files, call.m_values["--output"]);
    env.m_err.clear();
    run.m_terminal.Clear();
    if (json) {
        PrintOutputs(engine, env);
    }
    return StatusToExit(status, run.m_watch, env);
}

}  // namespace

int RunCli(const std::vector<std::string>& args, CliEnvironment& env) {
    Invocation call;
    if (auto problem = Parse(args, call)) {
        return Usage(env, *problem);
    }
    if (call.m_bHelp) {
        env.m_out << CliHelpText() << std::flush;
        return kExitSuccess;
    }
    const CommandRules& rules = Commands().at(call.m_strCommand);
    if (call.m_strCommand == "join") {
        if (call.m_files.size() < 2) {
            return Usage(env, "join needs at least two FILEs");
        }
        return RunJoin(call, env);
    }

    std::optional<int32_t> duration;
    if (auto it = call.m_values.find("--duration"); it != call.m_values.end()) {
        duration = ParseCliNumber(it->second);
        if (!duration) {
            return Usage(env, "--duration takes whole seconds, not '" + it->second + "'");
        }
    }
    if (rules.m_bNeedsDuration && !duration && !env.m_query) {
        return Usage(env, call.m_strCommand + " needs --duration SECONDS here");
    }
    CClipTime start;
    CClipTime end;
    int32_t pieces = 0;
    int32_t pieceSeconds = 0;
    const bool listCut =
        call.m_strCommand == "cut" &&
        (call.m_values.count("--segments") != 0 || call.m_values.count("--segments-from") != 0);
    CCutList cutList;
    if (listCut) {
        if (auto problem = CutListProblem(call.m_values)) {
            return Usage(env, *problem);
        }
        if (!ReadCutList(call.m_values, cutList, env)) {
            return kExitFailure;
        }
    } else if (call.m_flags.count("--separate") != 0) {
        return Usage(env, "--separate goes with --segments or --segments-from");
    } else if (call.m_strCommand == "cut" &&
               (call.m_values.count("--start") == 0 || call.m_values.count("--end") == 0)) {
        return Usage(env, "cut needs --start and --end, or --segments or --segments-from");
    }
    if (!listCut && (call.m_strCommand == "cut" || call.m_strCommand == "plan")) {
        const auto parsedStart = ParseClipTime(call.m_values["--start"]);
        const auto parsedEnd = ParseClipTime(call.m_values["--end"]);
        if (!parsedStart || !parsedEnd) {
            return Usage(env, "times are H:M:S or seconds, either with up to three decimals");
        }
        start = *parsedStart;
        end = *parsedEnd;
    } else if (call.m_strCommand == "split-size") {
        const auto parsed = ParseCliNumber(call.m_values["--pieces"]);
        if (!parsed || *parsed < 1) {
            return Usage(env, "--pieces takes a whole number of at least 1");
        }
        pieces = *parsed;
    } else if (call.m_strCommand == "split-time") {
        const auto parsed = ParseCliNumber(call.m_values["--seconds"]);
        if (!parsed) {
            return Usage(env, "--seconds takes whole seconds");
        }
        pieceSeconds = *parsed;
    }

    // With --json standard output carries nothing but JSON: "Splitting is done!" goes with
    // the other messages.
    const bool json = call.m_flags.count("--json") != 0;
    CConsoleReporter reporter(env.m_in, json ? env.m_err : env.m_out, env.m_err, env.m_bInteractive,
                              call.m_flags.count("--yes") != 0);
    CMpegSource source;
    if (!source.SetSourcePath(call.m_strFile)) {
        env.m_err << kProgram << ": the path is longer than the system allows\n" << std::flush;
        return kExitFailure;
    }
    if (!source.ProbeHeader(reporter, env.m_fileSystem)) {
        return kExitFailure;
    }
    if (duration) {
        source.m_llDuration100ns = int64_t{*duration} * 10'000'000;
        source.m_nTotalSeconds = *duration;
    } else if ((rules.m_bNeedsDuration || call.m_strCommand == "probe") &&
               !source.ProbeDuration(env.m_query, env.m_fileSystem) && env.m_query) {
        // split-size needs no duration, so a file the framework cannot play still splits.
        reporter.ShowAppMessage(mpeg_text::kCanNotOpenTotalTime);
        return kExitFailure;
    }

    // A signal during the probes ends the command before a question or an output.
    if (env.m_pStopSignals != nullptr && env.m_pStopSignals->Signal() != 0) {
        return StoppedBySignal(env, kStoppedBeforeWriting);
    }
    if (call.m_strCommand == "plan") {
        return RunPlanCommand(source, start, end, call.m_flags.count("--clean") != 0, json,
                              reporter, env);
    }
    if (call.m_strCommand == "keyframes") {
        return RunKeyframesCommand(source, json, reporter, env);
    }
    CWritingRun run(call, env, reporter);
    CSplitEngine& engine = run.m_engine;
    engine.SetOptions(CSplitOptions{call.m_flags.count("--clean") != 0});
    const std::string durationSource = duration ? "option" : DurationSourceName(source);
    if (call.m_strCommand == "probe" && json) {
        env.m_out << "{\"path\": " << JsonString(call.m_strFile)
                  << ", \"size\": " << source.m_llFileSize
                  << ", \"header_length\": " << source.m_nHeaderLength
                  << ", \"duration_100ns\": " << source.m_llDuration100ns
                  << ", \"total_seconds\": " << source.m_nTotalSeconds << ", \"info\": "
                  << JsonString(FormatSourceInfoLine(ExtractFileName(call.m_strFile),
                                                     source.m_nTotalSeconds))
                  << ", \"header_copy_length\": " << source.m_nHeaderCopyLength
                  << ", \"duration_source\": " << JsonString(durationSource) << "}\n"
                  << std::flush;
        return kExitSuccess;
    }
    if (call.m_strCommand == "probe") {
        env.m_out << "size: " << source.m_llFileSize << '\n'
                  << "header_length: " << source.m_nHeaderLength << '\n'
                  << "duration_100ns: " << source.m_llDuration100ns << '\n'
                  << "total_seconds: " << source.m_nTotalSeconds << '\n'
                  << "info: "
                  << FormatSourceInfoLine(ExtractFileName(call.m_strFile), source.m_nTotalSeconds)
                  << '\n'
                  << "header_copy_length: " << source.m_nHeaderCopyLength << '\n'
                  << "duration_source: " << durationSource << '\n'
                  << std::flush;
        return kExitSuccess;
    }
    SplitStatus status = SplitStatus::NotStarted;
    const std::string folder = OutputFolder(call.m_values["--output-dir"]);
    if (listCut) {
        status = engine.CutList(source, cutList, call.m_values["--output"],
                                call.m_flags.count("--separate") != 0);
    } else if (call.m_strCommand == "cut") {
        status = engine.CutClip(source, start, end, call.m_values["--output"]);
    } else if (call.m_strCommand == "split-size") {
        status = engine.SplitBySize(source, pieces, folder);
    } else {
        status = engine.SplitByTime(source, pieceSeconds, folder);
    }
    // A write to the terminal that a signal interrupted leaves the stream failed: the line is
    // still to be erased, and the notice to be told.
    env.m_err.clear();
    run.m_terminal.Clear();
    if (json) {
        PrintOutputs(engine, env);
    }
    // Fewer clean pieces than asked: which requested times were merged, and why.
    if (const std::string merged = engine.Merged().Text();
        status == SplitStatus::Done && !merged.empty()) {
        env.m_err << merged << '\n' << std::flush;
    }
    return StatusToExit(status, run.m_watch, env);
}
