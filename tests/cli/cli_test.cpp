// tarnwick-cli end to end: exit statuses, what goes to stdout and stderr, and the bytes of the
// outputs, in-process and through the real executable.
#include "cli/cli.h"

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/json.h"
#include "cli/plancommands.h"
#include "cli/terminalprogress.h"
#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Packs every 2,048 bytes behind a 2,048-byte first pack.
        m_bytes = MakeRegularStream(1'000'000, 2048, 2048);
        m_source = m_dir.File("show.mpg");
        WriteFile(m_source, m_bytes);
        std::filesystem::create_directory(m_dir.Path() / "out");
    }

    Result Run(std::vector<std::string> args, const std::string& input = "",
               bool interactive = false, StopPositionQuery query = {},
               IFileSystem& fs = PosixFileSystem(), bool terminal = false) {
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        CliEnvironment env{in, out, err, interactive, std::move(query), fs, nullptr, terminal};
        const int status = RunCli(args, env);
        return {status, out.str(), err.str()};
    }

    CTempDir m_dir;
    Bytes m_bytes;
    std::string m_source;
};

// The value of a field of a one-line JSON object: a number, null or a string as written.
std::string Field(const std::string& line, const std::string& name) {
    const std::regex field("\"" + name + "\": (\"(?:[^\"\\\\]|\\\\.)*\"|[^,}]*)");
    std::smatch match;
    return std::regex_search(line, match, field) ? match[1].str() : "<missing>";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(JsonText, StringsKeepUtf8AndEscapeEverythingElse) {
    EXPECT_EQ(JsonString("plain /path.mpg"), "\"plain /path.mpg\"");
    EXPECT_EQ(JsonString("say \"hi\"\\ \n\t\r\x01\x1f\x7f"),
              "\"say \\\"hi\\\"\\\\ \\n\\t\\r\\u0001\\u001f\x7f\"");
    // UTF-8 as it is: two, three and four bytes.
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC"),
              "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC\"");
    // Bytes of no valid sequence, each on its own: a stray byte, an overlong form, a
    // surrogate, a sequence cut short, a value beyond U+10FFFF.
    EXPECT_EQ(JsonString("\xFF"), "\"\\udcff\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\udcc0\\udcaf\"");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\udced\\udca0\\udc80\"");
    EXPECT_EQ(JsonString("\xE2\x82x"), "\"\\udce2\\udc82x\"");
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"\\udcf4\\udc90\\udc80\\udc80\"");
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(JsonSeconds(std::nullopt), "null");
    EXPECT_EQ(JsonSeconds(10.08), "10.080000");
}

TEST(ClipTimeText, HoursMinutesSecondsOrPlainSeconds) {
    auto same = [](std::optional<CClipTime> t, int h, int m, int s, int ms = 0) {
        return t && t->m_nHour == h && t->m_nMinute == m && t->m_nSecond == s &&
               t->m_nMillisecond == ms;
    };
    EXPECT_TRUE(same(ParseClipTime("1:02:03"), 1, 2, 3));
    EXPECT_TRUE(same(ParseClipTime("0:90:0"), 0, 90, 0));
    EXPECT_TRUE(same(ParseClipTime("3725"), 1, 2, 5));
    EXPECT_TRUE(same(ParseClipTime("0"), 0, 0, 0));
    EXPECT_TRUE(same(ParseClipTime("1:02:03.5"), 1, 2, 3, 500));
    EXPECT_TRUE(same(ParseClipTime("3725.04"), 1, 2, 5, 40));
    EXPECT_TRUE(same(ParseClipTime("0.007"), 0, 0, 0, 7));
    EXPECT_EQ(FormatPlanTime(37'250'400'000), "1:02:05.040");
    for (const char* bad : {"", "1:2", "1:2:3:4", "a", "-1", "1:-2:3", "1::3", "99999999999",
                            "1:2:3x", " 5", "5.", ".5", "5.1234", "1.2:3:4", "5.-1", "5.+1"}) {
        EXPECT_FALSE(ParseClipTime(bad)) << bad;
    }
}

TEST_F(CliTest, HelpAndUsageErrors) {
    Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"probe", "cut", "split-size", "split-time", "--yes", "--duration",
                             "--clean", "--json", "H:M:S", "Exit status"}) {
        EXPECT_THAT(help.out, HasSubstr(part));
    }
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"slice", m_source},
        {"probe"},
        {"probe", m_source, m_source},
        {"probe", m_source, "--pieces", "2"},
        {"cut", m_source, "--start", "0", "--end", "5", "--duration", "10"},
        {"cut", m_source, "--start", "1:2", "--end", "5", "--output", "x", "--duration", "10"},
        {"cut", m_source, "--start", "0", "--end", "5", "--output", "x"},
        {"cut", m_source, "--start", "0", "--end", "5", "--output", "x", "--duration", "ten"},
        {"split-size", m_source, "--pieces", "0", "--output-dir", "."},
        {"split-size", m_source, "--pieces", "x", "--output-dir", "."},
        {"split-size", m_source, "--output-dir", "."},
        {"split-size", m_source, "--pieces"},
        {"split-time", m_source, "--seconds", "30", "--output-dir", "."},
        {"split-time", m_source, "--seconds", "3.5", "--output-dir", ".", "--duration", "9"},
    };
    for (const auto& args : wrong) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, StartsWith("tarnwick-cli: "));
        EXPECT_THAT(r.err, HasSubstr("Usage:"));
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path() / "out"), {}), 0);
}

TEST_F(CliTest, ProbePrintsTheFiveFacts) {
    // The five facts, then the bytes copied in front of pieces and where the length came
    // from; this stream carries no clock and no framework is at hand.
    Result r = Run({"probe", m_source});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "size: 1000000\nheader_length: 2048\nduration_100ns: 0\ntotal_seconds: 0\n"
              "info: show.mpg  (00:00:00)\nheader_copy_length: 2048\nduration_source: none\n");
    EXPECT_EQ(r.err, "");

    auto query = [](const std::string&, int64_t* stop) {
        *stop = 36'650'000'000;
        return true;
    };
    r = Run({"probe", m_source}, "", false, query);
    EXPECT_THAT(r.out, HasSubstr("duration_100ns: 36650000000\ntotal_seconds: 3665\n"
                                 "info: show.mpg  (01:01:05)\n"));
    EXPECT_THAT(r.out, HasSubstr("duration_source: media framework\n"));
    r = Run({"probe", m_source, "--duration=360000"});
    EXPECT_THAT(r.out, HasSubstr("info: show.mpg  (100:00:00)\n"));
    EXPECT_THAT(r.out, HasSubstr("duration_source: option\n"));

    r = Run({"probe", m_source}, "", false, [](const std::string&, int64_t*) { return false; });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not open the mpeg total time!\n");
}

TEST_F(CliTest, ProbeOfALongFirstPackWithItsOwnClock) {
    // The length comes from the stream itself: no framework is at hand here.
    CPsBuilder builder;
    builder.Pack(0).SystemHeader().Packet(0xE0, 30000, 90000).Packet(0xC0, 384, 90000);
    const int64_t second = builder.Size();
    CRecordingShape shape;
    shape.m_llStart = 90000 + 3600;
    shape.m_dSeconds = 61;
    AppendRecording(builder, shape);
    WriteFile(m_dir.File("long.mpg"), builder.Data());
    Result r = Run({"probe", m_dir.File("long.mpg")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("header_length: " + std::to_string(second) + "\n"));
    EXPECT_THAT(r.out, HasSubstr("total_seconds: 61\ninfo: long.mpg  (00:01:01)\n"
                                 "header_copy_length: 32\nduration_source: time stamps\n"));
}

TEST_F(CliTest, ProbeFailuresPrintTheEngineMessage) {
    WriteFile(m_dir.File("es.mpg"), {0, 0, 1, 0xB3, 1, 2, 3, 4});
    WriteFile(m_dir.File("one.mpg"), MakeStream(30'000, {0}));
    const std::vector<std::pair<std::string, std::string>> cases{
        {m_dir.File("missing.mpg"), "Can not open the mpeg file!\n"},
        {m_dir.Path().string(), "Can not open the mpeg file!\n"},
        {m_dir.File("es.mpg"), "Can not read the mpeg file head!\n"},
        {m_dir.File("one.mpg"), "Can not find the second pack in the mpeg file head!\n"},
    };
    for (const auto& [path, message] : cases) {
        // Every command probes the source first.
        for (const Result& r : {Run({"probe", path}),
                                Run({"split-size", path, "--pieces", "2", "--output-dir", "."})}) {
            EXPECT_EQ(r.status, 1) << path;
            EXPECT_EQ(r.err, message) << path;
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST_F(CliTest, CutWritesTheClipAndReplacesOnlyWhenAllowed) {
    const std::string output = m_dir.File("clip.mpg");
    const std::vector<std::string> cut{"cut", m_source,   "--start", "0:0:10",     "--end",
                                       "30",  "--output", output,    "--duration", "100"};
    Result r = Run(cut);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Splitting is done!\n");
    EXPECT_EQ(r.err, "");
    const int64_t start = ReferenceBoundary(m_bytes, 100'000, 2048);
    const int64_t end = ReferenceBoundary(m_bytes, 300'000, 2048);
    const Bytes expected = ReferenceCopy(m_bytes, start, end, 2048);
    EXPECT_EQ(ReadFile(output), expected);

    WriteFile(output, {7});
    r = Run(cut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, output + " exists. Do you want to replace it?\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(output), Bytes{7});

    r = Run(cut, "no\n", true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(output), Bytes{7});
    r = Run(cut, "y\n", true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, output + " exists. Do you want to replace it? [y/N] ");
    EXPECT_EQ(ReadFile(output), expected);

    WriteFile(output, {7});
    std::vector<std::string> withYes = cut;
    withYes.push_back("--yes");
    r = Run(withYes);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(output), expected);
}

TEST_F(CliTest, CutFailuresGoToStandardError) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--start", "100", "--end", "100", "--output", m_dir.File("c.mpg")},
         "The Start Time is bigger than the total time!\n"},
        {{"--start", "0", "--end", "0:1:41", "--output", m_dir.File("c.mpg")},
         "The End Time is bigger than the total time!\n"},
        {{"--start", "20", "--end", "20", "--output", m_dir.File("c.mpg")},
         "The Start Time is bigger than the End Time!\n"},
        {{"--start", "20", "--end", "30", "--output", m_source, "--yes"},
         "The output file can not be the source file!\n"},
        {{"--start", "20", "--end", "30", "--output", m_dir.File("no/c.mpg")},
         "Do not open the target file " + m_dir.File("no/c.mpg") + "\n"},
        // A device is refused unopened (it used to be written to).
        {{"--start", "20", "--end", "30", "--output", "/dev/full", "--yes"},
         "Do not open the target file /dev/full\n"},
    };
    for (const auto& [options, message] : cases) {
        std::vector<std::string> args{"cut", m_source, "--duration", "100"};
        args.insert(args.end(), options.begin(), options.end());
        Result r = Run(args);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(ReadFile(m_source), m_bytes);
    EXPECT_FALSE(PathExists(m_dir.File("c.mpg")));
}

TEST_F(CliTest, SplitBySizeAddsTheFolderSeparator) {
    Result r = Run({"split-size", m_source, "--pieces", "3", "--output-dir", m_dir.File("out")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Splitting is done!\n");
    Bytes joined;
    for (int k = 0; k < 3; ++k) {
        const Bytes piece = ReadFile(m_dir.File("out/show_" + std::to_string(k) + ".mpg"));
        ASSERT_FALSE(piece.empty());
        joined.insert(joined.end(), piece.begin() + (k == 0 ? 0 : 2048), piece.end());
    }
    // Pieces overlap by up to 511 bytes but together hold the whole source, tail included.
    EXPECT_GE(joined.size(), m_bytes.size());
    const Bytes last = ReadFile(m_dir.File("out/show_2.mpg"));
    EXPECT_TRUE(std::equal(m_bytes.end() - 1000, m_bytes.end(), last.end() - 1000));
}

TEST_F(CliTest, SplitFailuresAndFullDevice) {
    // A link to a device is refused unopened (the device used to be written to); a full disk
    // is scripted.
    ASSERT_EQ(::symlink("/dev/full", m_dir.File("out/show_0.mpg").c_str()), 0);
    Result r = Run({"split-size", m_source, "--pieces", "2", "--output-dir", m_dir.File("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Do not open the target file " + m_dir.File("out/show_0.mpg") + "\n");
    std::filesystem::create_directory(m_dir.Path() / "other");
    CFaultyFileSystem full;
    full.m_limitWrite = [](const std::string&, int64_t, size_t) { return 0; };
    r = Run({"split-size", m_source, "--pieces", "2", "--output-dir", m_dir.File("other")}, "",
            false, {}, full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not write the output mpeg file(4)!\n");

    r = Run({"split-time", m_source, "--seconds", "0", "--output-dir", ".", "--duration", "90"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The split file time must be bigger than 0!\n");

    r = Run({"split-time", m_source, "--seconds", "30", "--output-dir", ".", "--duration", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, StartsWith("tarnwick-cli: "));

    r = Run({"split-time", m_source, "--seconds", "30", "--output-dir", m_dir.File("out") + "/",
             "--duration", "90"});
    EXPECT_EQ(r.status, 1);  // piece 0 is still the full device
    std::filesystem::remove(m_dir.File("out/show_0.mpg"));
    r = Run({"split-time", m_source, "--seconds", "30", "--output-dir", m_dir.File("out") + "/",
             "--duration", "90"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Splitting is done!\n");
    EXPECT_TRUE(PathExists(m_dir.File("out/show_2.mpg")));
    EXPECT_FALSE(PathExists(m_dir.File("out/show_3.mpg")));
}

TEST_F(CliTest, TheExecutableReturnsTheStatuses) {
    auto run = [&](const std::string& arguments, std::string* out, std::string* err) {
        const CommandOutcome outcome =
            RunShellCommand(std::string(TARNWICK_CLI) + " " + arguments, m_dir);
        *out = outcome.out;
        *err = outcome.err;
        return outcome.status;
    };
    std::string out;
    std::string err;
    EXPECT_EQ(
        run("split-size '" + m_source + "' --pieces 2 --output-dir '" + m_dir.File("out") + "'",
            &out, &err),
        0);
    EXPECT_EQ(out, "Splitting is done!\n");
    EXPECT_EQ(err, "");
    const int64_t middle = ReferenceBoundary(m_bytes, 500'000, 2048);
    EXPECT_EQ(ReadFile(m_dir.File("out/show_0.mpg")), ReferenceCopy(m_bytes, 0, middle, 2048));
    EXPECT_EQ(ReadFile(m_dir.File("out/show_1.mpg")),
              ReferenceCopy(m_bytes, middle, static_cast<int64_t>(m_bytes.size()), 2048));

    const std::string clip = m_dir.File("out/show_0.mpg");
    EXPECT_EQ(run("cut '" + m_source + "' --start 1 --end 2 --output '" + clip + "' --duration 100",
                  &out, &err),
              1);
    EXPECT_EQ(err, clip + " exists. Do you want to replace it?\n");
    EXPECT_EQ(run("probe", &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("Usage:"));
}

TEST_F(CliTest, AnOutputThroughADescriptorLinkToTheSourceIsRefused) {
    // Descriptor 3 is closed when the tool starts, so the source is opened as 3.
    const CommandOutcome outcome =
        RunShellCommand(std::string(TARNWICK_CLI) + " cut '" + m_source +
                            "' --start 0:0:1 --end 0:0:3 --output /dev/fd/3 --duration 9 3<&-",
                        m_dir);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "The output file can not be the source file!\n");
    EXPECT_EQ(ReadFile(m_source), m_bytes);
}

TEST_F(CliTest, NumbersArePlainDigitsAndHelpIsHelpOnlyWhereAnOptionMayStand) {
    const std::string clip = m_dir.File("clip.mpg");
    const std::vector<std::vector<std::string>> wrong{
        {"cut", m_source, "--start", "+-5", "--end", "9", "--output", clip, "--duration", "100"},
        {"cut", m_source, "--start", "0:+-1:0", "--end", "90", "--output", clip, "--duration",
         "100"},
        {"probe", m_source, "--duration", "+-5"},
        {"probe", m_source, "--duration", "++5"},
        {"probe", m_source, "--duration", "-5"},
        {"probe", m_source, "--duration", " 5"},
        {"probe", m_source, "--duration", "0x10"},
        {"probe", m_source, "--duration", "+"},
        {"split-size", m_source, "--pieces", "+-2", "--output-dir", "."},
        {"split-time", m_source, "--seconds", "-30", "--output-dir", ".", "--duration", "90"},
        {"probe", "-x"},
        {"probe", m_source, "--yes"},
        {"cut", m_source, "--yes=no", "--start", "0", "--end", "5", "--output", clip, "--duration",
         "10"},
    };
    for (const auto& args : wrong) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, StartsWith("tarnwick-cli: "));
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(PathExists(clip));
    EXPECT_THAT(Run({"probe", m_source, "--duration", "+5"}).out,
                HasSubstr("info: show.mpg  (00:00:05)\n"));

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-h"}, {"probe", "-h"}, {"cut", m_source, "--start", "1", "--help"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_THAT(r.out, StartsWith("Usage:"));
    }
    // As a value or after "--", -h is a name like any other.
    WriteFile(m_dir.File("-h"), m_bytes);
    const std::string cli = "cd '" + m_dir.Path().string() + "' && " + TARNWICK_CLI;
    CommandOutcome outcome = RunShellCommand(
        cli + " cut show.mpg --start 0 --end 10 --output -h --yes --duration 100", m_dir);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "Splitting is done!\n");
    EXPECT_EQ(ReadFile(m_dir.File("-h")),
              ReferenceCopy(m_bytes, 0, ReferenceBoundary(m_bytes, 100'000, 2048), 2048));
    outcome = RunShellCommand(cli + " probe --duration 5 -- -h", m_dir);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_THAT(outcome.out, HasSubstr("info: -h  (00:00:05)\n"));
}

TEST_F(CliTest, ABackslashIsPartOfTheFileName) {
    const std::string source = m_dir.File("a\\b.mpg");
    WriteFile(source, m_bytes);
    EXPECT_THAT(Run({"probe", source, "--duration", "61"}).out,
                HasSubstr("info: a\\b.mpg  (00:01:01)\n"));
    const Result r =
        Run({"split-size", source, "--pieces", "2", "--output-dir", m_dir.File("out")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(PathExists(m_dir.File("out/a\\b_0.mpg")));
    EXPECT_TRUE(PathExists(m_dir.File("out/a\\b_1.mpg")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path() / "out"), {}), 2);
}

// SIGINT or SIGTERM in the middle of a piece, a cut list or a join: the temporary file is
// removed, the file that had the output's name is unchanged, finished pieces are kept, and the
// exit status names the signal.
TEST_F(CliTest, ASignalStopsTheWorkAndKeepsWhatWasThere) {
    const Bytes big = MakeRegularStream(size_t{4} << 20, 2048, 2048);
    const std::string source = m_dir.File("big.mpg");
    WriteFile(source, big);
    const struct {
        const char* name;
        std::vector<std::string> arguments;  // the folder follows
        const char* kept;                    // the old file in the folder
    } rows[] = {
        {"split", {"split-size", source, "--pieces", "2", "--output-dir"}, "big_1.mpg"},
        {"list",
         {"cut", source, "--segments", "0-4,5-9", "--duration", "10", "--yes", "--output"},
         "kept.mpg"},
        {"join", {"join", source, source, "--yes", "--output"}, "joined.mpg"},
    };
    for (const auto& row : rows) {
        for (int signal : {SIGINT, SIGTERM}) {
            const std::string folder = m_dir.File(row.name + std::to_string(signal));
            std::filesystem::create_directory(folder);
            const Bytes old{5, 5, 5};
            WriteFile(folder + "/" + row.kept, old);
            std::vector<std::string> arguments = row.arguments;
            arguments.push_back(arguments.back() == "--output" ? folder + "/" + row.kept : folder);
            const int status = RunInChild(
                [&] {
                    CFaultyFileSystem fs;
                    fs.m_limitRead = [&, raised = false](const std::string& path, int64_t position,
                                                         size_t count) mutable {
                        if (!raised && path == source && position >= (int64_t{3} << 20)) {
                            raised = true;
                            ::raise(signal);
                        }
                        return static_cast<int64_t>(count);
                    };
                    std::istringstream in;
                    std::ostringstream out;
                    std::ostringstream err;
                    CliEnvironment env{in, out, err, false, {}, fs, &CStopSignals::Install()};
                    return RunCli(arguments, env);
                },
                30);
            EXPECT_EQ(status, 128 + signal) << row.name;
            EXPECT_EQ(ReadFile(folder + "/" + row.kept), old) << row.name;
            const bool bFirstPieceDone = row.arguments.front() == "split-size";
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}),
                      bFirstPieceDone ? 2 : 1)
                << row.name;
            if (bFirstPieceDone) {
                const int64_t middle = ReferenceBoundary(big, int64_t{2} << 20, 2048);
                EXPECT_EQ(ReadFile(folder + "/big_0.mpg"), ReferenceCopy(big, 0, middle, 2048));
            }
        }
    }
}

// Where the folder refuses new files the piece is written into the old file itself: after a
// signal, the notice says that file is incomplete instead of claiming it was removed.
TEST_F(CliTest, ASignalNoticeSaysWhenTheFileWasWrittenInPlace) {
    const Bytes big = MakeRegularStream(size_t{4} << 20, 2048, 2048);
    const std::string source = m_dir.File("big.mpg");
    WriteFile(source, big);
    const std::string folder = m_dir.File("locked");
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/clip.mpg", Bytes{5, 5, 5});
    GiveToChild(m_dir.Path().string(), 0777);
    GiveToChild(source, 0644);
    GiveToChild(folder + "/clip.mpg", 0666);
    if (RunningAsRoot()) {
        ASSERT_EQ(::chown(folder.c_str(), 0, 0), 0);
    }
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string notice = m_dir.File("notice.txt");
    const int status = RunInChild(
        [&] {
            CFaultyFileSystem fs;
            fs.m_limitRead = [&, raised = false](const std::string& path, int64_t position,
                                                 size_t count) mutable {
                if (!raised && path == source && position >= (int64_t{2} << 20)) {
                    raised = true;
                    ::raise(SIGTERM);
                }
                return static_cast<int64_t>(count);
            };
            std::istringstream in("y\n");
            std::ostringstream out;
            std::ofstream err(notice);
            CliEnvironment env{in, out, err, false, {}, fs, &CStopSignals::Install()};
            return RunCli({"cut", source, "--start", "0", "--end", "10", "--duration", "10",
                           "--output", folder + "/clip.mpg", "--yes"},
                          env);
        },
        30, true);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(status, 128 + SIGTERM);
    std::ifstream shown(notice);
    const std::string text((std::istreambuf_iterator<char>(shown)), {});
    EXPECT_THAT(text, HasSubstr("tarnwick-cli: stopped by SIGTERM; the file being written could "
                                "only be written in place and is incomplete, finished files were "
                                "kept\n"));
}

TEST_F(CliTest, JsonProbeIsOneObjectOfTheSameFacts) {
    Result r = Run({"probe", m_source, "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "{\"path\": " + JsonString(m_source) +
                         ", \"size\": 1000000, \"header_length\": 2048, \"duration_100ns\": 0, "
                         "\"total_seconds\": 0, \"info\": \"show.mpg  (00:00:00)\", "
                         "\"header_copy_length\": 2048, \"duration_source\": \"none\"}\n");
    EXPECT_EQ(r.err, "");
    // A name with a quote and a byte that is not UTF-8, and a length given by the option.
    const std::string odd = m_dir.File("a \"b\"\xFF.mpg");
    WriteFile(odd, m_bytes);
    r = Run({"probe", "--json", odd, "--duration", "61"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Field(r.out, "path"), "\"" + m_dir.Path().string() + "/a \\\"b\\\"\\udcff.mpg\"");
    EXPECT_EQ(Field(r.out, "info"), "\"a \\\"b\\\"\\udcff.mpg  (00:01:01)\"");
    EXPECT_EQ(Field(r.out, "duration_source"), "\"option\"");
    EXPECT_EQ(Lines(r.out).size(), 1u);
}

TEST_F(CliTest, JsonDescribesEveryOutputAfterWritingAndMessagesGoToStandardError) {
    Result r =
        Run({"split-size", m_source, "--pieces", "3", "--output-dir", m_dir.File("out"), "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Splitting is done!\n");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    int64_t expectedStart = 0;
    for (size_t k = 0; k < 3; ++k) {
        const std::string path = m_dir.File("out/show_" + std::to_string(k) + ".mpg");
        const std::string& line = lines[k];
        EXPECT_EQ(Field(line, "path"), JsonString(path));
        EXPECT_EQ(Field(line, "size"), std::to_string(ReadFile(path).size()));
        const int64_t start = std::stoll(Field(line, "start_offset"));
        const int64_t end = std::stoll(Field(line, "end_offset"));
        EXPECT_EQ(start,
                  ReferenceBoundary(m_bytes,
                                    EqualPieceOffset(static_cast<int32_t>(k), 3, 1'000'000), 2048));
        EXPECT_GE(start, expectedStart - 511);
        EXPECT_EQ(Field(line, "header_bytes"), k == 0 ? "0" : "2048");
        // What the piece holds after its header is the source's [start, end).
        const Bytes piece = ReadFile(path);
        EXPECT_EQ(static_cast<int64_t>(piece.size()), end - start + (k == 0 ? 0 : 2048));
        // This stream carries no clock to read back.
        EXPECT_EQ(Field(line, "start_seconds"), "null");
        EXPECT_EQ(Field(line, "length_seconds"), "null");
        EXPECT_EQ(Field(line, "clock"), "null");
        expectedStart = end;
    }
    EXPECT_EQ(expectedStart, 1'000'000);

    // A failure after a piece: the piece written is described, the failure stays on stderr.
    CFaultyFileSystem full;
    full.m_limitWrite = [](const std::string& path, int64_t, size_t count) {
        return path.ends_with("show_1.mpg") ? 0 : static_cast<int64_t>(count);
    };
    r = Run({"split-size", m_source, "--pieces", "3", "--output-dir", m_dir.File("out"), "--json"},
            "", false, {}, full);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can not write the output mpeg file!(3)\n");
    ASSERT_EQ(Lines(r.out).size(), 1u);
    EXPECT_EQ(Field(r.out, "path"), JsonString(m_dir.File("out/show_0.mpg")));
}

TEST_F(CliTest, CleanCutsFromTheCommandLine) {
    CVideoShape shape;
    std::vector<CGroupMark> groups;
    const Bytes video = MakeVideoRecording(shape, &groups);
    const std::string source = m_dir.File("video.mpg");
    WriteFile(source, video);
    // The length comes from the stream's clock; the framework is never asked.
    const auto unplayable = [](const std::string&, int64_t*) { return false; };
    Result r = Run({"split-time", source, "--seconds", "4", "--output-dir", m_dir.File("out"),
                    "--clean", "--json"},
                   "", false, unplayable);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    Bytes joined;
    size_t end = 0;
    for (size_t k = 0; k < 3; ++k) {
        const std::string& line = lines[k];
        const std::string path = m_dir.File("out/video_" + std::to_string(k) + ".mpg");
        const auto start = static_cast<size_t>(std::stoll(Field(line, "start_offset")));
        const auto header = static_cast<size_t>(std::stoll(Field(line, "header_bytes")));
        EXPECT_EQ(start, end);
        end = static_cast<size_t>(std::stoll(Field(line, "end_offset")));
        EXPECT_EQ(header == 0, k == 0);
        const Bytes pictures = VideoStreamOf(path);
        joined.insert(joined.end(), pictures.begin(), pictures.end());
        // Read back from the piece's own clock: it starts at its first picture.
        const double seconds = std::stod(Field(line, "start_seconds"));
        EXPECT_EQ(Field(line, "clock"), "\"time stamps\"");
        if (k > 0) {
            const CGroupMark* group = nullptr;
            for (const CGroupMark& mark : groups) {
                if (mark.m_llPack == static_cast<int64_t>(start)) {
                    group = &mark;
                }
            }
            ASSERT_NE(group, nullptr) << "piece " << k << " starts at no group";
            EXPECT_NEAR(seconds, static_cast<double>(group->m_llPictureTime) / 90000, 0.2);
        }
    }
    // The broken_link flags set aside, they hold the source's pictures once.
    EXPECT_EQ(end, video.size());
    EXPECT_EQ(joined, VideoStreamOf(source));
    for (const std::string& line : lines) {
        EXPECT_EQ(Field(line, "merged"), "[]");
    }

    // One group of pictures: the pieces merge into one, and standard error says which times
    // were merged and why, after "Splitting is done!" (with --json: in each piece's line).
    shape.m_dSeconds = 3;
    shape.m_nGroupPictures = 75;
    WriteFile(source, MakeVideoRecording(shape));
    const std::string notice =
        "video_0.mpg runs on over 00:00:01 to 00:00:02: no picture after its start can begin a "
        "piece.\n1 piece was written instead of 3: video_0.mpg.\n";
    for (const bool json : {false, true}) {
        std::vector<std::string> args{"split-time",      source,   "--seconds", "1", "--output-dir",
                                      m_dir.File("out"), "--clean"};
        if (json) {
            args.push_back("--json");
        }
        r = Run(args, "", false, unplayable);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, (json ? "Splitting is done!\n" : "") + notice);
        if (!json) {
            EXPECT_EQ(r.out, "Splitting is done!\n");
            continue;
        }
        ASSERT_EQ(Lines(r.out).size(), 1u);
        EXPECT_THAT(r.out, HasSubstr("\"merged\": [{\"requested\": 1, \"seconds\": 1, "
                                     "\"reason\": \"no place\"}, {\"requested\": 2, "
                                     "\"seconds\": 2, \"reason\": \"no place\"}]}"));
    }

    // Only the cutting commands take --clean.
    r = Run({"probe", source, "--clean"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("unknown option '--clean' for probe"));
}

// --- Progress on a terminal -------------------------------------------------------------

TEST(TerminalProgress, LineShowsShareSpeedAndTimeLeft) {
    constexpr int64_t kMiB = int64_t{1} << 20;
    EXPECT_EQ(CTerminalProgress::FormatLine(37 * kMiB, 100 * kMiB, 1.0),
              " 37%  37.0 MiB/s  0:02 left");
    EXPECT_EQ(CTerminalProgress::FormatLine(kMiB, 7201 * kMiB, 1.0),
              "  0%  1.0 MiB/s  2:00:00 left");
    EXPECT_EQ(CTerminalProgress::FormatLine(100 * kMiB, 100 * kMiB, 2.0),
              "100%  50.0 MiB/s  0:00 left");
    // Before any time has passed there is no speed to tell.
    EXPECT_EQ(CTerminalProgress::FormatLine(0, 100 * kMiB, 0.0), "  0%");
}

// The line goes to standard error only when it is a terminal, and never with --quiet; it is
// erased before the final message, which stays on standard output alone.
TEST_F(CliTest, ProgressOnlyOnATerminalAndNotWhenQuiet) {
    const std::string folder = m_dir.File("out");
    const std::vector<std::string> split{"split-size", m_source,       "--pieces",
                                         "3",          "--output-dir", folder};
    const Result shown = Run(split, "", false, {}, PosixFileSystem(), true);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "Splitting is done!\n");
    EXPECT_THAT(shown.err, StartsWith("\r"));
    EXPECT_THAT(shown.err, HasSubstr("100%"));
    EXPECT_THAT(shown.err, HasSubstr(" MiB/s "));
    EXPECT_THAT(shown.err, ::testing::EndsWith("\r\033[K"));

    std::vector<std::string> quiet = split;
    quiet.push_back("--quiet");
    const Result silent = Run(quiet, "", false, {}, PosixFileSystem(), true);
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.err, "");
    EXPECT_EQ(Run(split).err, "");
    // Only the commands that write take it.
    EXPECT_EQ(Run({"probe", m_source, "--quiet"}).status, 2);

    // A failure's message is not run into by the line.
    const Result failed =
        Run({"split-size", m_source, "--pieces", "2", "--output-dir", m_dir.File("missing")}, "",
            false, {}, PosixFileSystem(), true);
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(failed.err, ::testing::EndsWith("Do not open the target file " +
                                                m_dir.File("missing") + "/show_0.mpg\n"));
}

namespace {

// A terminal for a child's standard error: both ends, raw, so nothing is translated.
struct CPseudoTerminal {
    CPseudoTerminal() {
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(::openpty(&m_master, &m_slave, nullptr, &raw, nullptr), 0);
    }
    ~CPseudoTerminal() {
        for (int fd : {m_master, m_slave}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    // Fills the terminal until it takes no more, so the child's next write to it waits.
    void Fill() {
        const int flags = ::fcntl(m_slave, F_GETFL);
        ::fcntl(m_slave, F_SETFL, flags | O_NONBLOCK);
        // In blocks, then byte by byte: a gap shorter than a block would still take a few
        // progress lines, time enough to finish a piece before the signal.
        const std::string filler(512, '.');
        while (::write(m_slave, filler.data(), filler.size()) > 0) {
        }
        while (::write(m_slave, filler.data(), 1) > 0) {
        }
        ::fcntl(m_slave, F_SETFL, flags);
    }
    // Everything the terminal still holds and gets until the last writer has gone.
    std::string ReadToEnd() {
        std::string all;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0) {
                all.append(buffer, static_cast<size_t>(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                return all;  // EIO: the slave side is closed everywhere
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
};

// Starts tarnwick-cli with the arguments, standard error on the terminal's slave and standard
// output into a file; the caller's copy of the slave is closed.
pid_t StartCli(CPseudoTerminal& terminal, const std::vector<std::string>& args,
               const std::string& outFile) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(terminal.m_slave, 2) < 0) {
            ::_exit(126);
        }
        ::close(terminal.m_master);
        std::vector<char*> argv{const_cast<char*>(TARNWICK_CLI)};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(TARNWICK_CLI, argv.data());
        ::_exit(127);
    }
    ::close(terminal.m_slave);
    terminal.m_slave = -1;
    return child;
}

int ExitStatusOf(pid_t child) {
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// True once the process has a file open in the folder (an output it is writing).
bool WritesInto(pid_t process, const std::string& folder) {
    const std::string fds = "/proc/" + std::to_string(process) + "/fd";
    DIR* listing = ::opendir(fds.c_str());
    if (listing == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
        char target[4096];
        const std::string link = fds + "/" + entry->d_name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<size_t>(length)).rfind(folder, 0) == 0) {
            found = true;
        }
    }
    ::closedir(listing);
    return found;
}

}  // namespace

// The real program on a terminal: the progress line appears there. Then SIGINT in the middle
// of a split (held there by a terminal that takes no more output): the piece being written
// goes, nothing half-written stays, a notice says so and the status is 130.
TEST_F(CliTest, TheExecutableShowsProgressOnATerminalAndStopsOnSigint) {
    const Bytes big = MakeRegularStream(size_t{40} << 20, 2048, 2048);
    const std::string source = m_dir.File("big.mpg");
    WriteFile(source, big);
    const std::string folder = m_dir.File("pieces");
    std::filesystem::create_directory(folder);
    const std::vector<std::string> split{"split-size", source,         "--pieces",
                                         "2",          "--output-dir", folder};
    {
        CPseudoTerminal terminal;
        const pid_t child = StartCli(terminal, split, m_dir.File("stdout"));
        const std::string shown = terminal.ReadToEnd();
        EXPECT_EQ(ExitStatusOf(child), 0);
        EXPECT_THAT(shown, HasSubstr("100%"));
        EXPECT_THAT(shown, HasSubstr(" MiB/s "));
        EXPECT_EQ(ReadFile(m_dir.File("stdout")),
                  Bytes(std::begin("Splitting is done!\n"), std::end("Splitting is done!\n") - 1));
    }
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);

    CPseudoTerminal terminal;
    terminal.Fill();
    const pid_t child = StartCli(terminal, split, m_dir.File("stdout"));
    bool writing = false;
    for (int i = 0; i < 2000 && !writing; ++i) {
        writing = WritesInto(child, folder);
        ::usleep(5000);
    }
    EXPECT_TRUE(writing) << "the split never began";
    ::kill(child, SIGINT);
    const std::string shown = terminal.ReadToEnd();
    EXPECT_EQ(ExitStatusOf(child), 130);
    EXPECT_THAT(shown, HasSubstr("tarnwick-cli: stopped by SIGINT; the file being written was "
                                 "removed, finished files were kept\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 0);
    EXPECT_TRUE(ReadFile(m_dir.File("stdout")).empty());
}
