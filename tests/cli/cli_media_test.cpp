// The real tarnwick-cli executable measuring durations with the media framework: playable
// streams made with ffmpeg, and program streams the framework cannot play.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <string>

#include "../media/testmedia.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

class CliMediaTest : public ::testing::Test {
protected:
    CommandOutcome Run(const std::string& arguments) {
        return RunShellCommand(std::string(TARNWICK_CLI) + " " + arguments, m_dir);
    }

    static std::string Quoted(const std::string& path) { return "'" + path + "'"; }

    CTempDir m_dir;
};

int64_t Field(const std::string& text, const std::string& name) {
    std::smatch match;
    const std::regex line(name + ": (-?[0-9]+)");
    return std::regex_search(text, match, line) ? std::stoll(match[1]) : -1;
}

}  // namespace

TEST_F(CliMediaTest, ProbeMeasuresThePlayableDuration) {
    for (TestMedia media : {TestMedia::Mpeg2Vob, TestMedia::Mpeg1Vcd}) {
        const std::string path = TestMediaPath(media);
        if (path.empty()) {
            GTEST_SKIP() << "ffmpeg could not make the test media";
        }
        const std::optional<double> expected = FfprobeDuration(path);
        ASSERT_TRUE(expected);

        const CommandOutcome probe = Run("probe " + Quoted(path));
        ASSERT_EQ(probe.status, 0) << probe.err;
        const int64_t duration = Field(probe.out, "duration_100ns");
        const int64_t total = Field(probe.out, "total_seconds");
        EXPECT_GT(duration, 0);
        EXPECT_EQ(total, duration / 10'000'000);
        EXPECT_LE(std::abs(static_cast<double>(total) - std::floor(*expected)), 1.0) << path;
        const std::string name = std::filesystem::path(path).filename().string();
        EXPECT_THAT(probe.out,
                    HasSubstr("info: " + name + "  (00:00:0" + std::to_string(total) + ")\n"));
    }
}

TEST_F(CliMediaTest, CutAndSplitByTimeNeedNoDurationOption) {
    const std::string path = TestMediaPath(TestMedia::Mpeg2Vob);
    if (path.empty()) {
        GTEST_SKIP() << "ffmpeg could not make the test media";
    }
    std::filesystem::create_directory(m_dir.Path() / "out");

    const CommandOutcome cut = Run("cut " + Quoted(path) + " --start 1 --end 0:0:2 --output " +
                                   Quoted(m_dir.File("clip.mpg")));
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.out, "Splitting is done!\n");
    EXPECT_GT(std::filesystem::file_size(m_dir.File("clip.mpg")), 0u);

    const CommandOutcome split = Run("split-time " + Quoted(path) + " --seconds 1 --output-dir " +
                                     Quoted(m_dir.File("out")));
    EXPECT_EQ(split.status, 0) << split.err;
    const std::string stem = std::filesystem::path(path).stem().string();
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("out/" + stem + "_0.mpg")));
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("out/" + stem + "_1.mpg")));
}

// A stream with a usable clock is measured without starting the media framework, which would
// build its plugin registry at GST_REGISTRY; one without needs it.
TEST_F(CliMediaTest, ClockStreamsOpenWithoutStartingTheFramework) {
    const std::string mpeg1 = TestMediaPath(TestMedia::FfmpegMpeg1);
    const std::string mismatch = TestMediaPath(TestMedia::ClockMismatch);
    ASSERT_FALSE(mpeg1.empty() || mismatch.empty());
    const std::string registry = m_dir.File("registry.bin");
    const std::string env = "GST_REGISTRY=" + Quoted(registry) + " ";

    CommandOutcome probe =
        RunShellCommand(env + TARNWICK_CLI + std::string(" probe ") + Quoted(mpeg1), m_dir);
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_GT(Field(probe.out, "header_length"), 20000);
    EXPECT_EQ(Field(probe.out, "header_copy_length"), 30);  // pack and system header
    EXPECT_THAT(probe.out, HasSubstr("total_seconds: 12\n"));
    EXPECT_THAT(probe.out, HasSubstr("duration_source: time stamps\n"));
    EXPECT_FALSE(std::filesystem::exists(registry));

    probe = RunShellCommand(env + TARNWICK_CLI + std::string(" probe ") + Quoted(mismatch), m_dir);
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_THAT(probe.out, HasSubstr("duration_source: media framework\n"));
    EXPECT_TRUE(std::filesystem::exists(registry));
}

TEST_F(CliMediaTest, UnplayableStreamFailsWhereADurationIsNeeded) {
    // Packs with nothing in them: the header probe accepts it, the framework cannot play it.
    const std::string path = m_dir.File("empty-packs.mpg");
    WriteFile(path, MakeRegularStream(200'000, 2048, 2048));
    std::filesystem::create_directory(m_dir.Path() / "out");

    for (const std::string& command :
         {"probe " + Quoted(path),
          "cut " + Quoted(path) + " --start 0 --end 1 --output " + Quoted(m_dir.File("clip.mpg")),
          "split-time " + Quoted(path) + " --seconds 1 --output-dir " +
              Quoted(m_dir.File("out"))}) {
        const CommandOutcome outcome = Run(command);
        EXPECT_EQ(outcome.status, 1) << command;
        EXPECT_EQ(outcome.err, "Can not open the mpeg total time!\n") << command;
        EXPECT_EQ(outcome.out, "") << command;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("clip.mpg")));

    // Equal pieces need no duration, and --duration stands in for one.
    EXPECT_EQ(
        Run("split-size " + Quoted(path) + " --pieces 2 --output-dir " + Quoted(m_dir.File("out")))
            .status,
        0);
    EXPECT_EQ(Run("cut " + Quoted(path) + " --start 0 --end 1 --duration 2 --output " +
                  Quoted(m_dir.File("clip.mpg")))
                  .status,
              0);
}

// plan prints the bytes and times cut then writes, in both modes; keyframes lists one line a
// key picture, each at a distinct offset in file order.
TEST_F(CliMediaTest, PlanNamesWhatCutWritesAndKeyframesListsTheKeyPictures) {
    const std::string path = TestMediaPath(TestMedia::DvdLong);
    if (path.empty()) {
        GTEST_SKIP() << "ffmpeg could not make the test media";
    }
    const std::regex offsets("\"start_offset\": ([0-9]+), \"end_offset\": ([0-9]+)");
    for (const std::string clean : {"", " --clean"}) {
        const std::string times = " --start 0:0:3.5 --end 7.25";
        const CommandOutcome plan = Run("plan " + Quoted(path) + times + clean + " --json");
        ASSERT_EQ(plan.status, 0) << plan.err;
        const CommandOutcome cut = Run("cut " + Quoted(path) + times + clean +
                                       " --yes --json --output " + Quoted(m_dir.File("clip.mpg")));
        ASSERT_EQ(cut.status, 0) << cut.err;
        std::smatch planned;
        std::smatch written;
        ASSERT_TRUE(std::regex_search(plan.out, planned, offsets)) << plan.out;
        ASSERT_TRUE(std::regex_search(cut.out, written, offsets)) << cut.out;
        EXPECT_EQ(planned[1], written[1]) << clean;
        EXPECT_EQ(planned[2], written[2]) << clean;
        EXPECT_THAT(plan.out, HasSubstr("\"size\": " + std::to_string(std::filesystem::file_size(
                                                           m_dir.File("clip.mpg")))));
    }
    EXPECT_EQ(Run("plan " + Quoted(path) + " --start 3.5000 --end 7").status, 2);

    const CommandOutcome keys = Run("keyframes " + Quoted(path));
    ASSERT_EQ(keys.status, 0) << keys.err;
    const std::regex line("([0-9]+):([0-9]{2}):([0-9]{2})\\.([0-9]{3}) ([0-9]+)\n");
    size_t count = 0;
    int64_t last = -1;
    for (auto it = std::sregex_iterator(keys.out.begin(), keys.out.end(), line);
         it != std::sregex_iterator(); ++it, ++count) {
        const int64_t offset = std::stoll((*it)[5]);
        EXPECT_GT(offset, last);
        last = offset;
    }
    EXPECT_EQ(count, KeyPictureTimes(path).size());
    EXPECT_EQ(keys.out.find("0:00:00."), 0u);
}

// x264's default of a key picture every 10 s, split cleanly into pieces of 2 s: three pieces,
// each starts on a key picture and opens in ffprobe, and standard error says which times were
// merged.
TEST_F(CliMediaTest, CleanSplitOfRareKeyPicturesWritesFewerPiecesAndSaysWhy) {
    const std::string path = TestMediaPath(TestMedia::H264RareKeys);
    if (path.empty()) {
        GTEST_SKIP() << "GStreamer could not make the stream";
    }
    std::filesystem::create_directory(m_dir.Path() / "out");
    const CommandOutcome split =
        Run("split-time " + Quoted(path) + " --seconds 2 --clean --output-dir " +
            Quoted(m_dir.File("out")));
    EXPECT_EQ(split.status, 0) << split.err;
    EXPECT_EQ(split.out, "Splitting is done!\n");
    EXPECT_THAT(split.err, HasSubstr("h264-rare-keys_1.mpg runs on over 00:00:12 to 00:00:18: "
                                     "no picture after its start can begin a piece.\n"));
    EXPECT_THAT(split.err, HasSubstr("3 pieces were written instead of 15: h264-rare-keys_0.mpg "
                                     "to h264-rare-keys_2.mpg.\n"));
    // Each starts on a key picture; the pack where it begins may hold the picture before it,
    // which a decoder drops.
    const std::vector<double> keys = KeyPictureTimes(path);
    ASSERT_EQ(keys.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const std::string piece = m_dir.File("out/h264-rare-keys_" + std::to_string(k) + ".mpg");
        const auto length = FfprobeDuration(piece);
        ASSERT_TRUE(length) << piece;
        EXPECT_NEAR(*length, 10.0, 0.5) << piece;
        const auto picture = DecodeFirstPicture(piece);
        ASSERT_TRUE(picture) << piece;
        EXPECT_NEAR(picture->m_dSeconds, keys[k], 0.002) << piece;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("out/h264-rare-keys_3.mpg")));
}

// Clean pieces and clips from the command line decode without an error line from ffmpeg: an
// MPEG-1 recording, H.264 from GStreamer, DVD with AC-3 and navigation packs.
TEST_F(CliMediaTest, CleanPiecesDecodeWithoutAnError) {
    for (TestMedia media : {TestMedia::Mpeg1Long, TestMedia::GstH264, TestMedia::DvdLong}) {
        const std::string path = TestMediaPath(media);
        ASSERT_FALSE(path.empty());
        const std::string out = m_dir.File("clean-" + std::to_string(static_cast<int>(media)));
        std::filesystem::create_directory(out);
        const CommandOutcome split =
            Run("split-time " + Quoted(path) + " --seconds 4 --clean --output-dir " + Quoted(out));
        ASSERT_EQ(split.status, 0) << split.err;
        const CommandOutcome cut =
            Run("cut " + Quoted(path) + " --start 3 --end 7 --clean --output " +
                Quoted(out + "/clip.mpg"));
        ASSERT_EQ(cut.status, 0) << cut.err;
        size_t pieces = 0;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            ++pieces;
            for (const std::string& line : DecodeErrorLines(entry.path().string())) {
                // ffmpeg's DVD muxer writes two AC-3 packets that its demuxer reads with one
                // time stamp; the source gives the same line.
                EXPECT_THAT(line, HasSubstr("non monotonically increasing dts")) << entry.path();
            }
        }
        EXPECT_GE(pieces, 4u) << path;
    }
}

TEST_F(CliMediaTest, CutListsFromTheCommandLineAndFilesAndTheirRefusals) {
    const std::string path = TestMediaPath(TestMedia::Mpeg1Long);
    ASSERT_FALSE(path.empty());
    auto writeList = [this](const std::string& name, const std::string& text) {
        WriteFile(m_dir.File(name), Bytes(text.begin(), text.end()));
        return Quoted(m_dir.File(name));
    };
    const struct {
        std::string arguments;
        int status;
        const char* says;  // on standard error, or "" for the outputs' JSON
        size_t outputs;
    } rows[] = {
        {"--segments 0:00:02-0:00:08,12.5-19 --json", 0, "", 1},
        {"--segments-from " + writeList("cuts.csv", "2,8,intro\n20,\n") + " --separate --json", 0,
         "", 2},
        {"--segments-from " + writeList("ads.edl", "0 10 0\n20 25 0\n") + " --json", 0, "", 1},
        {"--segments 10-20,5-8", 1, "Segment 2 (0:00:05.000-0:00:08.000) starts before", 0},
        {"--segments 10-20,15-25", 1, "Segment 2 (0:00:15.000-0:00:25.000) starts before", 0},
        {"--segments 20-45", 1, "ends past the end of the recording", 0},
        {"--segments-from " + writeList("bad.csv", "1,2\n\n4;5\n"), 1,
         "Line 3 of the cut list does not parse", 0},
        {"--segments 1-2 --start 1", 2, "do not go with a cut list", 0},
        {"--start 1 --end 2 --separate", 2, "--separate goes with --segments", 0},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(m_dir.File("o"));
        std::filesystem::create_directory(m_dir.File("o"));
        const CommandOutcome cut = Run("cut " + Quoted(path) + " --output " +
                                       Quoted(m_dir.File("o/kept.mpg")) + " " + row.arguments);
        EXPECT_EQ(cut.status, row.status) << row.arguments << "\n" << cut.err;
        EXPECT_THAT(cut.err, HasSubstr(row.says)) << row.arguments;
        size_t outputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.File("o"))) {
            ++outputs;
            EXPECT_EQ(DecodeErrorLines(entry.path().string()), std::vector<std::string>{})
                << row.arguments << ": " << entry.path();
        }
        EXPECT_EQ(outputs, row.outputs) << row.arguments;
        EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'),
                  static_cast<std::ptrdiff_t>(row.outputs))
            << row.arguments;
    }
}

TEST_F(CliMediaTest, JoinWritesOneStreamOrRefusesOtherStreams) {
    const std::string vob = Quoted(TestMediaPath(TestMedia::Mpeg2Vob));
    const std::string out = m_dir.File("joined.mpg");
    const CommandOutcome joined =
        Run("join " + vob + " " + vob + " --json --output " + Quoted(out));
    ASSERT_EQ(joined.status, 0) << joined.err;
    EXPECT_THAT(joined.out, HasSubstr("\"path\": \"" + out + "\""));
    EXPECT_THAT(joined.err, HasSubstr("Joining is done!"));
    EXPECT_EQ(DecodeErrorLines(out), std::vector<std::string>{});

    const CommandOutcome refused =
        Run("join " + vob + " " + Quoted(TestMediaPath(TestMedia::DvdLong)) + " --output " +
            Quoted(m_dir.File("refused.mpg")));
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("which the first file does not"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("refused.mpg")));
    EXPECT_EQ(Run("join " + vob + " --output " + Quoted(m_dir.File("one.mpg"))).status, 2);
}
