// The real tarnwick-cli executable measuring durations with the media framework: playable
// streams made with ffmpeg, and program streams the framework cannot play.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    const std::string joined = TestMediaPath(TestMedia::Joined);
    ASSERT_FALSE(mpeg1.empty() || joined.empty());
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

    probe = RunShellCommand(env + TARNWICK_CLI + std::string(" probe ") + Quoted(joined), m_dir);
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
