// The duration probe against ffprobe, on generated streams and the real samples.
#include "media/querystopposition.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "media/fake/fakefiltergraph.h"
#include "media/mediaframework.h"
#include "testmedia.h"

namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;

class QueryStopPositionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(MediaFrameworkInitialize()); }

    // The whole seconds of a playable file agree with ffprobe's, truncated, within one.
    static void ExpectSecondsMatchFfprobe(const std::string& path) {
        ASSERT_FALSE(path.empty());
        const std::optional<double> probed = FfprobeDuration(path);
        ASSERT_TRUE(probed.has_value()) << path;
        int64_t stop = -1;
        ASSERT_TRUE(QueryStopPosition(path, &stop)) << path;
        EXPECT_GT(stop, 0);
        const int64_t seconds = stop / kUnitsPerSecond;
        const auto expected = static_cast<int64_t>(*probed);
        EXPECT_LE(std::abs(seconds - expected), 1)
            << path << ": " << stop << " units against ffprobe's " << *probed << " s";
    }

    static void ExpectUnplayable(const std::string& path) {
        int64_t stop = 12345;
        EXPECT_FALSE(QueryStopPosition(path, &stop)) << path;
        EXPECT_EQ(stop, 12345) << "written although the probe failed: " << path;
    }
};

TEST_F(QueryStopPositionTest, GeneratedStreamsMatchFfprobe) {
    // The form in which the engine's duration probe is handed the query.
    const std::function<bool(const std::string&, int64_t*)> probe = QueryStopPosition;
    int64_t stop = 0;
    EXPECT_TRUE(probe(TestMediaPath(TestMedia::Mpeg2Vob), &stop));
    ExpectSecondsMatchFfprobe(TestMediaPath(TestMedia::Mpeg2Vob));
    ExpectSecondsMatchFfprobe(TestMediaPath(TestMedia::Mpeg1Vcd));
    ExpectSecondsMatchFfprobe(TestMediaPath(TestMedia::DvdPal));
    ExpectSecondsMatchFfprobe(TestMediaPath(TestMedia::AudioOnly));
}

TEST_F(QueryStopPositionTest, RealSamplesMatchFfprobe) {
    for (const char* name : {"wxpython-classic_testmovie.mpg", "puremagic_test.mpg",
                             "exoplayer_sample_h262_mpeg_audio.mpg", "neg_mimetype_mpeg.mpeg"}) {
        const std::string path = SamplePath(name);
        ASSERT_FALSE(path.empty()) << name << " is missing from TARNWICK_SAMPLES";
        ExpectSecondsMatchFfprobe(path);
    }
}

TEST_F(QueryStopPositionTest, FilesThatCannotBePlayedGiveFalse) {
    ExpectUnplayable(TestMediaPath(TestMedia::TextFile));
    ExpectUnplayable(TestMediaPath(TestMedia::PackGarbage));
    ExpectUnplayable(ScratchDir() + "/does-not-exist.mpg");
    ExpectUnplayable(ScratchDir());
    const std::string empty = ScratchDir() + "/empty.mpg";
    std::ofstream{empty};
    ExpectUnplayable(empty);
    ExpectUnplayable("");
    // A NUL would cut the path short and name another file.
    ExpectUnplayable(TestMediaPath(TestMedia::Mpeg2Vob) + std::string(1, '\0') + "x");
}

TEST_F(QueryStopPositionTest, PictureWithoutLengthGivesFalse) {
    ExpectUnplayable(TestMediaPath(TestMedia::OnePicture));
    // A video elementary stream of a few pictures: the framework knows no length for it.
    const std::string fixture = SamplePath("neg_file-type_fixture.mpg");
    ASSERT_FALSE(fixture.empty());
    ExpectUnplayable(fixture);
}

// The sample's odd MPEG-1 pictures crash the mpeg2dec decoder; with the libav decoder
// installed (it ranks first) the file is handled like any other.
TEST_F(QueryStopPositionTest, OddPicturesInAProgramStreamDoNotCrash) {
    const std::string fixture = SamplePath("neg_file-type_fixture.mpg");
    ASSERT_FALSE(fixture.empty());
    GstPluginFeature* libav = gst_registry_lookup_feature(gst_registry_get(), "avdec_mpeg2video");
    if (libav == nullptr) {
        GTEST_SKIP() << "gstreamer1.0-libav is not installed";
    }
    gst_object_unref(libav);
    const std::string remuxed = ScratchDir() + "/odd-pictures.vob";
    const std::string command =
        "ffmpeg -nostdin -v error -y -i '" + fixture + "' -c copy -f vob '" + remuxed + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int64_t stop = 0;
    QueryStopPosition(remuxed, &stop);
}

TEST_F(QueryStopPositionTest, IsFastOncePluginsAreLoaded) {
    const std::string path = TestMediaPath(TestMedia::Mpeg2Vob);
    int64_t stop = 0;
    ASSERT_TRUE(QueryStopPosition(path, &stop));
    constexpr int kRuns = 10;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRuns; ++i) {
        ASSERT_TRUE(QueryStopPosition(path, &stop));
    }
    const double perFileMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count() /
        kRuns;
    std::printf("QueryStopPosition: %.1f ms a file\n", perFileMs);
    RecordProperty("ms_per_file", std::to_string(perFileMs));
    // Generous: the machine is shared and the sanitizer build is several times slower.
    EXPECT_LT(perFileMs, 1000.0);
}

TEST(QueryStopPositionGraph, IsReleasedWhateverTheOutcome) {
    {
        CFakeFilterGraphFactory factory;
        factory.Graph().SetStopPosition(36'000'000'000);
        int64_t stop = 0;
        EXPECT_TRUE(QueryStopPositionWith(factory, "/x.mpg", &stop));
        EXPECT_EQ(stop, 36'000'000'000);
        EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0);
        EXPECT_EQ(factory.Graph().CountCalls("Run("), 0);
        EXPECT_EQ(factory.Graph().CountCalls("Pause("), 0);
    }
    {
        CFakeFilterGraphFactory factory;
        factory.Graph().SetResult(FakeCall::RenderFile, VFW_E_UNSUPPORTED_STREAM);
        int64_t stop = 0;
        EXPECT_FALSE(QueryStopPositionWith(factory, "/x.mpg", &stop));
        EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0);
    }
    {
        CFakeFilterGraphFactory factory;
        factory.Graph().FailQueryInterface(IID_IMediaSeeking, E_NOINTERFACE);
        int64_t stop = 0;
        EXPECT_FALSE(QueryStopPositionWith(factory, "/x.mpg", &stop));
        EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0);
    }
    {
        CFakeFilterGraphFactory factory;
        factory.Graph().SetResult(FakeCall::GetStopPosition, E_FAIL);
        int64_t stop = 0;
        EXPECT_FALSE(QueryStopPositionWith(factory, "/x.mpg", &stop));
        EXPECT_EQ(factory.Graph().TotalOutstandingReferences(), 0);
    }
    {
        CFakeFilterGraphFactory factory;
        factory.SetCreateResult(E_OUTOFMEMORY);
        int64_t stop = 0;
        EXPECT_FALSE(QueryStopPositionWith(factory, "/x.mpg", &stop));
    }
}

TEST(QueryStopPositionGraph, StopPositionOfZeroOrLessMeansUnplayable) {
    for (const LONGLONG reported : {LONGLONG{0}, LONGLONG{-10'000'000}}) {
        CFakeFilterGraphFactory factory;
        factory.Graph().SetStopPosition(reported);
        int64_t stop = 77;
        EXPECT_FALSE(QueryStopPositionWith(factory, "/x.mpg", &stop));
        EXPECT_EQ(stop, 77);
    }
}

}  // namespace
