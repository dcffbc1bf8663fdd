// The three split commands end to end on real files: offsets, boundaries, output bytes, names,
// every message with its caption, the busy cursor, and what stays on disk after a failure.
#include "mpeg/splitengine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>

#include "mpeg/outputpaths.h"
#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::vector<std::string> kDone{"Wait+", "Wait-", "Message: Splitting is done!"};

// Pack start codes at 0, at the header length, then at alternating odd and even spacings so
// that the parity rule rejects some of them.
Bytes IrregularStream(size_t size, int64_t header) {
    std::vector<int64_t> offsets{0, header};
    int64_t at = header;
    for (int i = 0; at < static_cast<int64_t>(size) - 4; ++i) {
        at += (i % 3 == 0) ? 1001 : 2048;
        offsets.push_back(at);
    }
    return MakeStream(size, offsets);
}

class SplitTest : public ::testing::Test {
protected:
    void MakeSource(const Bytes& bytes, int32_t totalSeconds,
                    const std::string& name = "show.mpg") {
        m_bytes = bytes;
        m_sourcePath = m_dir.File(name);
        WriteFile(m_sourcePath, bytes);
        ASSERT_TRUE(m_source.SetSourcePath(m_sourcePath));
        CRecordingReporter probe;
        ASSERT_TRUE(m_source.ProbeHeader(probe));
        m_source.m_nTotalSeconds = totalSeconds;
        m_source.m_llDuration100ns = int64_t{totalSeconds} * 10'000'000;
        std::filesystem::create_directory(m_dir.Path() / "out");
        m_out = m_dir.Folder() + "out/";
    }

    int64_t Header() const { return m_source.m_nHeaderLength; }
    int64_t Size() const { return static_cast<int64_t>(m_bytes.size()); }

    // The literal expectation for a piece between two raw offsets; rawEnd < 0 is the end of
    // the file.
    Bytes Expected(int64_t rawStart, int64_t rawEnd) const {
        const int64_t start = ReferenceBoundary(m_bytes, rawStart, Header());
        const int64_t end = rawEnd < 0 ? Size() : ReferenceBoundary(m_bytes, rawEnd, Header());
        return ReferenceCopy(m_bytes, start, end, Header());
    }

    SplitStatus Cut(CClipTime start, CClipTime end, const std::string& output,
                    IFileSystem& fs = PosixFileSystem()) {
        CSplitEngine engine(m_reporter, fs);
        return engine.CutClip(m_source, start, end, output);
    }
    SplitStatus BySize(int32_t count, IFileSystem& fs = PosixFileSystem()) {
        CSplitEngine engine(m_reporter, fs);
        return engine.SplitBySize(m_source, count, m_out);
    }
    SplitStatus ByTime(int32_t seconds, IFileSystem& fs = PosixFileSystem()) {
        CSplitEngine engine(m_reporter, fs);
        return engine.SplitByTime(m_source, seconds, m_out);
    }

    size_t FilesIn(const std::string& folder) const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
            ++n;
        }
        return n;
    }

    CTempDir m_dir;
    Bytes m_bytes;
    std::string m_sourcePath;
    std::string m_out;
    CMpegSource m_source;
    CRecordingReporter m_reporter;
};

CClipTime Seconds(int32_t s) {
    return CClipTime{0, 0, s};
}

}  // namespace

// --- Arithmetic --------------------------------------------------------------------------

TEST(SplitArithmetic, WorkedExamples) {
    // Clip: size 100,000,000, total 3,600 s.
    EXPECT_EQ(ClipOffset(60, 3600, 100'000'000), 1'666'666);
    EXPECT_EQ(ClipOffset(1800, 3600, 100'000'000), 50'000'000);
    EXPECT_EQ(ClipOffset(3600, 3600, 100'000'000), 100'000'000);
    // Equal pieces: size 1,000,000,007 in three.
    EXPECT_EQ(EqualPieceOffset(0, 3, 1'000'000'007), 0);
    EXPECT_EQ(EqualPieceOffset(1, 3, 1'000'000'007), 333'333'335);
    EXPECT_EQ(EqualPieceOffset(2, 3, 1'000'000'007), 666'666'671);
    EXPECT_EQ(EqualPieceOffset(3, 3, 1'000'000'007), 1'000'000'007);
    // By length: D = 100, a = 30, size 1,000,000; k = 3 truncates 899,999.9999999999.
    EXPECT_EQ(TimedPieceOffset(1, 100, 30, 1'000'000), 300'000);
    EXPECT_EQ(TimedPieceOffset(2, 100, 30, 1'000'000), 600'000);
    EXPECT_EQ(TimedPieceOffset(3, 100, 30, 1'000'000), 899'999);
    EXPECT_EQ(TimedPieceOffset(4, 100, 30, 1'000'000), 1'200'000);
}

TEST(SplitArithmetic, TimesAndExtremesNeverOverflow) {
    EXPECT_EQ(ClipTimeToSeconds({1, 1, 5}), 3665);
    EXPECT_EQ(ClipTimeToSeconds({INT32_MAX, INT32_MAX, INT32_MAX}), int64_t{INT32_MAX} * 3661);
    EXPECT_EQ(ClipTimeToSeconds({-1, 0, 30}), -3570);
    EXPECT_EQ(ClipOffset(-10, 100, 1000), -100);
    EXPECT_EQ(TimedPieceOffset(1, 1, INT32_MAX, INT64_MAX / 2), INT64_MAX);
}

TEST(PieceLengthText, DecimalPrefixWithSignAndWhiteSpace) {
    EXPECT_EQ(ParsePieceLength(" 45abc"), 45);
    EXPECT_EQ(ParsePieceLength("-30"), -30);
    EXPECT_EQ(ParsePieceLength("+7"), 7);
    EXPECT_EQ(ParsePieceLength("\t 12 34"), 12);
    EXPECT_EQ(ParsePieceLength(""), 0);
    EXPECT_EQ(ParsePieceLength("abc"), 0);
    EXPECT_EQ(ParsePieceLength("- 5"), 0);
    EXPECT_EQ(ParsePieceLength("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ParsePieceLength("-99999999999999999999"), INT32_MIN);
    // Only the first 31 characters are taken.
    EXPECT_EQ(ParsePieceLength(std::string(30, ' ') + "78"), 7);
}

// --- Clip cut ----------------------------------------------------------------------------

TEST_F(SplitTest, ClipHoldsHeaderThenBlocksFromStartToEndBoundary) {
    MakeSource(IrregularStream(1'000'003, 2048), 100);
    const std::string output = m_dir.File("clip.mpg");
    EXPECT_EQ(Cut(Seconds(10), Seconds(50), output), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events, kDone);
    const Bytes clip = ReadFile(output);
    EXPECT_EQ(clip, Expected(100'000, 500'001));
    EXPECT_EQ(Header(), 2048);
    EXPECT_TRUE(std::equal(m_bytes.begin(), m_bytes.begin() + 2048, clip.begin()));
    EXPECT_EQ(m_source.m_llFileSize, 1'000'003);
}

TEST_F(SplitTest, ClipFromZeroHasNoAddedHeaderAndClipToTheTotalKeepsTheTail) {
    MakeSource(IrregularStream(1'000'003, 2049), 100);
    const std::string output = m_dir.File("clip.mpg");
    EXPECT_EQ(Cut({0, 0, 0}, {0, 1, 0}, output), SplitStatus::Done);
    EXPECT_EQ(ReadFile(output), Expected(0, 600'001));

    EXPECT_EQ(Cut(Seconds(90), {0, 1, 40}, output), SplitStatus::Done);
    const Bytes clip = ReadFile(output);
    const int64_t start = ReferenceBoundary(m_bytes, 900'002, 2049);
    ASSERT_EQ(static_cast<int64_t>(clip.size()), 2049 + Size() - start);
    EXPECT_TRUE(std::equal(m_bytes.begin() + start, m_bytes.end(), clip.begin() + 2049));
}

TEST_F(SplitTest, ClipTimeChecksComeFirstAndTouchNothing) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string output = m_dir.File("clip.mpg");
    struct Case {
        CClipTime start, end;
        const char* message;
    };
    for (const Case& c :
         {Case{Seconds(100), Seconds(100), "The Start Time is bigger than the total time!"},
          Case{{0, 2, 0}, Seconds(10), "The Start Time is bigger than the total time!"},
          Case{Seconds(10), Seconds(101), "The End Time is bigger than the total time!"},
          Case{Seconds(20), Seconds(20), "The Start Time is bigger than the End Time!"},
          Case{Seconds(30), Seconds(20), "The Start Time is bigger than the End Time!"}}) {
        m_reporter.m_events.clear();
        EXPECT_EQ(Cut(c.start, c.end, output), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events, ElementsAre(std::string("Error: ") + c.message));
        EXPECT_FALSE(PathExists(output));
    }
    // Under one second the total is 0: no start fits, and nothing divides by it.
    m_source.m_nTotalSeconds = 0;
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(-5), Seconds(0), output), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Error: The Start Time is bigger than the total time!"));
}

TEST_F(SplitTest, ClipAsksBeforeReplacing) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string output = m_dir.File("clip.mpg");
    WriteFile(output, {1, 2, 3});
    m_reporter.m_bAnswerYes = false;
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), output), SplitStatus::Declined);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Ask: " + output + " exists. Do you want to replace it?"));
    EXPECT_EQ(ReadFile(output), (Bytes{1, 2, 3}));

    m_reporter.m_bAnswerYes = true;
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), output), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events.size(), 4u);
    EXPECT_EQ(ReadFile(output), Expected(20'000, 40'000));
}

TEST_F(SplitTest, ClipWithinOnePackCannotBeSplit) {
    MakeSource(MakeStream(100'000, {0, 2048, 50'000}), 100);
    const std::string output = m_dir.File("clip.mpg");
    EXPECT_EQ(Cut(Seconds(60), Seconds(70), output), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events, ElementsAre("error: Can not split the mpeg file!"));
    EXPECT_FALSE(PathExists(output));
}

TEST_F(SplitTest, ClipIntoAMissingFolderNamesThePath) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string output = m_dir.File("nowhere/clip.mpg");
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), output), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events, ElementsAre("Error: Do not open the target file " + output));
}

// A device at the output path is refused unopened (it used to be written to); a disk that
// fills up is scripted instead.
TEST_F(SplitTest, ClipOntoADeviceIsRefusedAndAFullDiskFailsItsWrites) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), "/dev/full"), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Ask: /dev/full exists. Do you want to replace it?",
                            "Error: Do not open the target file /dev/full"));
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    CFaultyFileSystem full;
    full.m_limitWrite = [](const std::string&, int64_t, size_t) { return 0; };
    const std::string output = m_dir.File("clip.mpg");
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), output, full), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file(1)!"));
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(0), Seconds(20), output, full), SplitStatus::Failed);
    EXPECT_EQ(m_reporter.m_events.back(), "App: Can not write the output mpeg file(2)!");
    EXPECT_FALSE(PathExists(output));
}

TEST_F(SplitTest, ClipOutputThatIsTheSourceIsRefused) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string symlink = m_dir.File("link.mpg");
    const std::string hardlink = m_dir.File("hard.mpg");
    ASSERT_EQ(::symlink(m_sourcePath.c_str(), symlink.c_str()), 0);
    ASSERT_EQ(::link(m_sourcePath.c_str(), hardlink.c_str()), 0);
    for (const std::string& output :
         {m_sourcePath, symlink, hardlink, m_dir.Folder() + "./show.mpg"}) {
        m_reporter.m_events.clear();
        EXPECT_EQ(Cut(Seconds(10), Seconds(20), output), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events,
                    ElementsAre("Error: The output file can not be the source file!"));
        EXPECT_EQ(ReadFile(m_sourcePath), m_bytes);
    }
}

TEST_F(SplitTest, ClipOfAnUnreadableSource) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string output = m_dir.File("clip.mpg");
    for (const std::string& path : {m_dir.File("gone.mpg"), m_dir.Path().string()}) {
        ASSERT_TRUE(m_source.SetSourcePath(path));
        m_reporter.m_events.clear();
        EXPECT_EQ(Cut(Seconds(10), Seconds(20), output), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events, ElementsAre("Error: Can not open the mpeg file!"));
        EXPECT_FALSE(PathExists(output));
    }
}

TEST_F(SplitTest, FailedCloseOfTheClipIsNoSuccess) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    CFaultyFileSystem fs;
    fs.m_failClose = [](const std::string& path) { return path.ends_with("clip.mpg"); };
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), m_dir.File("clip.mpg"), fs), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file(2)!"));
}

// --- Split into equal pieces -------------------------------------------------------------

TEST_F(SplitTest, OnePieceIsTheWholeFile) {
    MakeSource(IrregularStream(300'001, 2049), 30);
    EXPECT_EQ(BySize(1), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events, kDone);
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), m_bytes);
    EXPECT_EQ(FilesIn(m_out), 1u);
}

TEST_F(SplitTest, EqualPiecesMatchTheLiteralModel) {
    MakeSource(IrregularStream(1'000'007, 2048), 30);
    EXPECT_EQ(BySize(4), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events, kDone);
    for (int k = 0; k < 4; ++k) {
        const int64_t rawStart = static_cast<int64_t>(k / 4.0 * 1'000'007);
        const int64_t rawEnd = k == 3 ? -1 : static_cast<int64_t>((k + 1) / 4.0 * 1'000'007);
        EXPECT_EQ(ReadFile(m_out + "show_" + std::to_string(k) + ".mpg"),
                  Expected(rawStart, rawEnd))
            << k;
    }
    // Piece 1 starts with the header, followed by the pack at its boundary.
    const Bytes piece1 = ReadFile(m_out + "show_1.mpg");
    EXPECT_TRUE(std::equal(m_bytes.begin(), m_bytes.begin() + 2048, piece1.begin()));
    EXPECT_EQ(piece1[2048 + 3], 0xBA);
    // The last piece ends exactly at the end of the file.
    const Bytes piece3 = ReadFile(m_out + "show_3.mpg");
    EXPECT_TRUE(std::equal(m_bytes.end() - 5000, m_bytes.end(), piece3.end() - 5000));
}

// A first pack of some 40 KB (pack header, system header, packets) and packs of 2,048 and
// 2,049 bytes after it.
Bytes LongFirstPackStream(size_t size) {
    CPsBuilder builder;
    builder.Pack(1000).SystemHeader();
    for (int i = 0; i < 4; ++i) {
        builder.Packet(0xE0, 10000, 5000 + i);
    }
    for (int i = 0; builder.Size() < static_cast<int64_t>(size); ++i) {
        builder.Pack(2000 + i).Packet(0xE0, i % 3 == 0 ? 2035 : 2034);
    }
    Bytes bytes = builder.Data();
    bytes.resize(size);
    return bytes;
}

TEST_F(SplitTest, LongFirstPackPutsOnlyItsHeadersInFrontOfPieces) {
    MakeSource(LongFirstPackStream(400'000), 30);
    const int64_t copy = m_source.m_nHeaderCopyLength;
    ASSERT_EQ(copy, 14 + 18);
    ASSERT_GT(Header(), 40000);
    EXPECT_EQ(BySize(3), SplitStatus::Done);
    for (int k = 0; k < 3; ++k) {
        const int64_t rawStart = static_cast<int64_t>(k / 3.0 * 400'000);
        const int64_t rawEnd = k == 2 ? -1 : static_cast<int64_t>((k + 1) / 3.0 * 400'000);
        // The boundaries keep their parity against the second pack's offset.
        const int64_t start = ReferenceBoundary(m_bytes, rawStart, Header());
        const int64_t end = rawEnd < 0 ? Size() : ReferenceBoundary(m_bytes, rawEnd, Header());
        EXPECT_EQ(ReadFile(m_out + "show_" + std::to_string(k) + ".mpg"),
                  ReferenceCopy(m_bytes, start, end, copy))
            << k;
    }
    // The clip too: the headers, then the pack at its start boundary.
    EXPECT_EQ(Cut({0, 0, 10}, {0, 0, 20}, m_dir.File("clip.mpg")), SplitStatus::Done);
    const Bytes clip = ReadFile(m_dir.File("clip.mpg"));
    EXPECT_TRUE(std::equal(m_bytes.begin(), m_bytes.begin() + copy, clip.begin()));
    EXPECT_EQ(clip[copy + 3], 0xBA);
}

TEST_F(SplitTest, TenPiecesAreNumberedWithTwoDigitsAndReplaceOldFiles) {
    MakeSource(IrregularStream(500'000, 2048), 30);
    WriteFile(m_out + "show_03.mpg", {9, 9, 9});
    EXPECT_EQ(BySize(10), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events, kDone);
    EXPECT_EQ(FilesIn(m_out), 10u);
    for (int k = 0; k < 10; ++k) {
        EXPECT_TRUE(PathExists(m_out + "show_0" + std::to_string(k) + ".mpg"));
    }
    EXPECT_EQ(ReadFile(m_out + "show_03.mpg"), Expected(150'000, 200'000));
}

TEST_F(SplitTest, MorePiecesThanPacksStopsAtTheFirstEmptyPiece) {
    MakeSource(MakeStream(40'000, {0, 2048, 10'000, 20'000, 30'000}), 30);
    EXPECT_EQ(BySize(8), SplitStatus::Failed);
    // Pieces 0 (0..2,048) and 1 (2,048..10,000) are written; piece 2 finds 10,000 twice.
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "error: Can not split the mpeg file!", "Wait-"));
    EXPECT_EQ(FilesIn(m_out), 2u);
    EXPECT_EQ(ReadFile(m_out + "show_1.mpg"), Expected(5'000, 10'000));
}

TEST_F(SplitTest, PieceCountBelowOneDoesNothing) {
    MakeSource(IrregularStream(100'000, 2048), 30);
    CFaultyFileSystem fs;
    EXPECT_EQ(BySize(0, fs), SplitStatus::NotStarted);
    EXPECT_EQ(BySize(-3, fs), SplitStatus::NotStarted);
    EXPECT_THAT(m_reporter.m_events, IsEmpty());
    EXPECT_THAT(fs.m_openedForReading, IsEmpty());
}

TEST_F(SplitTest, PiecesIntoAMissingFolder) {
    MakeSource(IrregularStream(100'000, 2048), 30);
    m_out = m_dir.Folder() + "missing/";
    EXPECT_EQ(BySize(2), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Error: Do not open the target file " + m_out + "show_0.mpg"));
}

// A link to a device at a piece's name is refused unopened (the device used to be written
// to); a disk that fills up is scripted instead.
TEST_F(SplitTest, PieceOnAFullDeviceKeepsTheEarlierPieces) {
    MakeSource(IrregularStream(300'000, 2048), 30);
    ASSERT_EQ(::symlink("/dev/full", (m_out + "show_1.mpg").c_str()), 0);
    EXPECT_EQ(BySize(3), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Error: Do not open the target file " + m_out + "show_1.mpg",
                            "Wait-"));
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, 100'000));
    EXPECT_FALSE(PathExists(m_out + "show_2.mpg"));
    std::filesystem::remove(m_out + "show_1.mpg");
    std::filesystem::remove(m_out + "show_0.mpg");

    std::string fullAt = "show_1.mpg";
    CFaultyFileSystem fs;
    fs.m_limitWrite = [&](const std::string& path, int64_t, size_t count) {
        return path.ends_with(fullAt) ? 0 : static_cast<int64_t>(count);
    };
    m_reporter.m_events.clear();
    EXPECT_EQ(BySize(3, fs), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file!(3)"));
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, 100'000));
    EXPECT_EQ(FilesIn(m_out), 1u);

    // Piece 0 has no header: its first block fails, and the piece written before stays.
    fullAt = "show_0.mpg";
    m_reporter.m_events.clear();
    EXPECT_EQ(BySize(3, fs), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file(4)!"));
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, 100'000));
    EXPECT_EQ(FilesIn(m_out), 1u);
}

TEST_F(SplitTest, APieceThatIsTheSourceIsRefusedBeforeAnythingIsWritten) {
    MakeSource(IrregularStream(300'000, 2048), 30);
    for (bool symbolic : {true, false}) {
        const std::string piece = m_out + "show_2.mpg";
        std::filesystem::remove(piece);
        ASSERT_EQ(symbolic ? ::symlink(m_sourcePath.c_str(), piece.c_str())
                           : ::link(m_sourcePath.c_str(), piece.c_str()),
                  0);
        m_reporter.m_events.clear();
        EXPECT_EQ(BySize(3), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events,
                    ElementsAre("Error: The output file can not be the source file!"));
        EXPECT_EQ(FilesIn(m_out), 1u);
        EXPECT_EQ(ReadFile(m_sourcePath), m_bytes);
    }
    // The source itself, when the output folder is its own folder and its name is a piece's.
    MakeSource(IrregularStream(300'000, 2048), 30, "show_1.mpg");
    m_out = m_dir.Folder();
    m_reporter.m_events.clear();
    EXPECT_EQ(BySize(2), SplitStatus::Done);  // pieces are show_1_0.mpg and show_1_1.mpg
    EXPECT_EQ(ReadFile(m_sourcePath), m_bytes);
}

TEST_F(SplitTest, FailedCloseOfAPieceIsNoSuccess) {
    MakeSource(IrregularStream(300'000, 2048), 30);
    CFaultyFileSystem fs;
    fs.m_failClose = [](const std::string& path) { return path.ends_with("show_1.mpg"); };
    EXPECT_EQ(BySize(3, fs), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file(4)!"));
    EXPECT_FALSE(PathExists(m_out + "show_2.mpg"));
}

// --- Split by length ---------------------------------------------------------------------

TEST_F(SplitTest, ByLengthWorkedExample) {
    MakeSource(IrregularStream(1'000'000, 2048), 100);
    EXPECT_EQ(ByTime(30), SplitStatus::Done);
    EXPECT_EQ(m_reporter.m_events, kDone);
    EXPECT_EQ(FilesIn(m_out), 4u);
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, 300'000));
    EXPECT_EQ(ReadFile(m_out + "show_2.mpg"), Expected(600'000, 899'999));
    EXPECT_EQ(ReadFile(m_out + "show_3.mpg"), Expected(899'999, -1));
}

TEST_F(SplitTest, ByLengthExactMultipleAndLongerThanTheSource) {
    MakeSource(IrregularStream(900'000, 2048), 90);
    EXPECT_EQ(ByTime(30), SplitStatus::Done);
    EXPECT_EQ(FilesIn(m_out), 3u);
    EXPECT_EQ(ReadFile(m_out + "show_2.mpg"), Expected(600'000, -1));

    std::filesystem::remove_all(m_out);
    std::filesystem::create_directory(m_out);
    EXPECT_EQ(ByTime(500), SplitStatus::Done);
    EXPECT_EQ(FilesIn(m_out), 1u);
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), m_bytes);
}

TEST_F(SplitTest, ByLengthOfZeroOrLessWritesNothingAndSaysSo) {
    MakeSource(IrregularStream(100'000, 2048), 100);
    for (int32_t seconds : {0, -30, ParsePieceLength("abc")}) {
        CFaultyFileSystem fs;
        m_reporter.m_events.clear();
        EXPECT_EQ(ByTime(seconds, fs), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events,
                    ElementsAre("Error: The split file time must be bigger than 0!"));
        EXPECT_THAT(fs.m_createdForWriting, IsEmpty());
    }
}

TEST_F(SplitTest, ByLengthWithoutDurationOrSourceDoesNothing) {
    MakeSource(IrregularStream(100'000, 2048), 0);
    EXPECT_EQ(ByTime(30), SplitStatus::NotStarted);
    m_source.m_nTotalSeconds = 100;
    m_source.ClearSourcePath();
    EXPECT_EQ(ByTime(30), SplitStatus::NotStarted);
    EXPECT_THAT(m_reporter.m_events, IsEmpty());
    EXPECT_EQ(FilesIn(m_out), 0u);
}

TEST_F(SplitTest, ByLengthOfOneSecondGivesFourDigitNames) {
    // Pieces of 3,000 bytes: every raw offset but the first lies above the first window.
    MakeSource(MakeRegularStream(3600 * 3000, 1024, 1024), 3600);
    EXPECT_EQ(ByTime(1), SplitStatus::Done);
    EXPECT_EQ(FilesIn(m_out), 3600u);
    EXPECT_EQ(ReadFile(m_out + "show_0000.mpg"), Expected(0, 3000));
    EXPECT_EQ(ReadFile(m_out + "show_1234.mpg"), Expected(TimedPieceOffset(1234, 3600, 1, Size()),
                                                          TimedPieceOffset(1235, 3600, 1, Size())));
    EXPECT_EQ(ReadFile(m_out + "show_3599.mpg"), Expected(3599 * 3000, -1));
}

// --- Message numbers of each command -----------------------------------------------------

TEST_F(SplitTest, EachCommandNamesItsOwnSeekPlaces) {
    MakeSource(IrregularStream(300'000, 2048), 90);
    struct Case {
        std::function<SplitStatus(IFileSystem&)> run;
        size_t faultyOutput;  // the first output that starts past 0 and so needs the header
        std::string headerSeek, startSeek;
    };
    const std::string clip = m_dir.File("clip.mpg");
    const std::vector<Case> cases{
        {[&](IFileSystem& fs) { return Cut(Seconds(40), Seconds(50), clip, fs); }, 1,
         "my_lseeki64 is wrong(1).", "my_lseeki64 is wrong(2)."},
        {[&](IFileSystem& fs) { return BySize(3, fs); }, 2, "my_lseeki64 is wrong(3).",
         "my_lseeki64 is wrong(4)."},
        {[&](IFileSystem& fs) { return ByTime(30, fs); }, 2, "my_lseeki64 is wrong(5).",
         "my_lseeki64 is wrong6)."},
    };
    for (const Case& c : cases) {
        for (int failingSeek : {1, 2}) {
            // The copy's first seek goes to 0 for the header, its second to the start boundary.
            CFaultyFileSystem fs;
            int seeksSinceCreation = 0;
            fs.m_failSeek = [&](const std::string&, int64_t, SeekOrigin) {
                if (fs.m_createdForWriting.size() != c.faultyOutput) {
                    return false;
                }
                return ++seeksSinceCreation == failingSeek;
            };
            m_reporter.m_events.clear();
            EXPECT_EQ(c.run(fs), SplitStatus::Failed);
            EXPECT_EQ(m_reporter.m_events.back(),
                      "Error: " + (failingSeek == 1 ? c.headerSeek : c.startSeek));
            EXPECT_EQ(m_reporter.m_nWaitDepth, 0);
        }
    }
}

// --- Outputs that cannot hurt anything --------------------------------------------------

TEST_F(SplitTest, AnOutputReachingTheOpenSourceThroughADescriptorLinkIsRefused) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    // The command opens the source as the lowest free descriptor: name it before it is open.
    const int next = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(next, 0);
    ::close(next);
    for (const std::string folder : {"/proc/self/fd/", "/dev/fd/"}) {
        const std::string output = folder + std::to_string(next);
        m_reporter.m_events.clear();
        EXPECT_EQ(Cut(Seconds(10), Seconds(30), output), SplitStatus::Failed);
        EXPECT_THAT(m_reporter.m_events,
                    ElementsAre("Error: The output file can not be the source file!"));
        EXPECT_EQ(ReadFile(m_sourcePath), m_bytes);
    }
}

TEST_F(SplitTest, AFifoOrADeviceAtAnOutputIsRefusedWithoutWaiting) {
    MakeSource(IrregularStream(300'000, 2048), 30);
    const std::string fifo = m_dir.File("clip.mpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo((m_out + "show_1.mpg").c_str(), 0666), 0);
    // In a child, so that a call that blocks fails the test instead of hanging it.
    const int status = RunInChild(
        [&] {
            m_reporter.m_events.clear();
            if (Cut(Seconds(10), Seconds(20), fifo) != SplitStatus::Failed ||
                m_reporter.m_events !=
                    std::vector<std::string>{"Ask: " + fifo + " exists. Do you want to replace it?",
                                             "Error: Do not open the target file " + fifo}) {
                return 1;
            }
            m_reporter.m_events.clear();
            if (BySize(3) != SplitStatus::Failed ||
                m_reporter.m_events !=
                    std::vector<std::string>{
                        "Wait+", "Error: Do not open the target file " + m_out + "show_1.mpg",
                        "Wait-"}) {
                return 2;
            }
            return 0;
        },
        20);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, 100'000));
    EXPECT_EQ(FilesIn(m_out), 2u);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    // A device that swallows everything was once reported as a finished clip.
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), "/dev/null"), SplitStatus::Failed);
    EXPECT_EQ(m_reporter.m_events.back(), "Error: Do not open the target file /dev/null");
}

TEST_F(SplitTest, ASourceThatShrinksWhileItIsCopiedIsAFailure) {
    MakeSource(MakeRegularStream(size_t{4} << 20, 2048, 2048), 30);
    const std::string clip = m_dir.File("clip.mpg");
    WriteFile(clip, {4, 5, 6});
    auto shrinkAt = [&](CFaultyFileSystem& fs, int64_t at, int64_t to) {
        fs.m_limitRead = [this, at, to, done = false](const std::string& path, int64_t position,
                                                      size_t count) mutable {
            if (!done && path == m_sourcePath && position >= at) {
                done = true;
                EXPECT_EQ(::truncate(m_sourcePath.c_str(), to), 0);
            }
            return static_cast<int64_t>(count);
        };
    };
    // Two pieces; the source loses its last MiB while piece 0 is copied.
    CFaultyFileSystem series;
    shrinkAt(series, int64_t{1} << 20, int64_t{3} << 20);
    EXPECT_EQ(BySize(2, series), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre("Wait+", "Wait-", "App: Can not write the output mpeg file(4)!"));
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, int64_t{2} << 20));
    EXPECT_EQ(FilesIn(m_out), 1u);

    // A clip to the end, replacing an old one, from a source that shrinks under it.
    WriteFile(m_sourcePath, m_bytes);
    CFaultyFileSystem clipFs;
    shrinkAt(clipFs, int64_t{2} << 20, int64_t{5} << 19);
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(10), Seconds(30), clip, clipFs), SplitStatus::Failed);
    EXPECT_EQ(m_reporter.m_events.back(), "App: Can not write the output mpeg file(2)!");
    EXPECT_EQ(ReadFile(clip), (Bytes{4, 5, 6}));
}

// The old file disappears only when the new one takes its name, so no failure after the
// answer Yes can lose it.
TEST_F(SplitTest, AReplacedClipSurvivesEveryFailure) {
    MakeSource(MakeStream(100'000, {0, 2048, 50'000}), 100);
    const std::string clip = m_dir.File("clip.mpg");
    const Bytes old{1, 2, 3};
    WriteFile(clip, old);
    const std::string ask = "Ask: " + clip + " exists. Do you want to replace it?";

    EXPECT_EQ(Cut(Seconds(60), Seconds(70), clip), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events, ElementsAre(ask, "error: Can not split the mpeg file!"));
    EXPECT_EQ(ReadFile(clip), old);

    CFaultyFileSystem failing;
    failing.m_limitWrite = [](const std::string&, int64_t position, size_t) {
        return std::max<int64_t>(30'000 - position, 0);  // the disk fills up
    };
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(0), Seconds(100), clip, failing), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events,
                ElementsAre(ask, "Wait+", "Wait-", "App: Can not write the output mpeg file(2)!"));
    EXPECT_EQ(ReadFile(clip), old);

    CFaultyFileSystem closing;
    closing.m_failClose = [&](const std::string& path) { return path == clip; };
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(0), Seconds(100), clip, closing), SplitStatus::Failed);
    EXPECT_EQ(ReadFile(clip), old);

    ASSERT_TRUE(m_source.SetSourcePath(m_dir.File("gone.mpg")));
    m_reporter.m_events.clear();
    EXPECT_EQ(Cut(Seconds(10), Seconds(20), clip), SplitStatus::Failed);
    EXPECT_THAT(m_reporter.m_events, ElementsAre(ask, "Error: Can not open the mpeg file!"));
    EXPECT_EQ(ReadFile(clip), old);
    EXPECT_EQ(FilesIn(m_dir.Path().string()), 3u);  // show.mpg, out/, clip.mpg: nothing left over
}

TEST_F(SplitTest, AnOutputTheUserCannotReadIsStillAskedAbout) {
    MakeSource(IrregularStream(200'000, 2048), 100);
    const std::string clip = m_dir.File("clip.mpg");
    WriteFile(clip, {7, 7, 7});
    GiveToChild(m_dir.Path().string(), 0777);
    GiveToChild(clip, 0200);
    for (bool yes : {false, true}) {
        const int status = RunInChild(
            [&] {
                m_reporter.m_bAnswerYes = yes;
                m_reporter.m_events.clear();
                const SplitStatus result = Cut(Seconds(10), Seconds(20), clip);
                const bool asked = !m_reporter.m_events.empty() &&
                                   m_reporter.m_events.front() ==
                                       "Ask: " + clip + " exists. Do you want to replace it?";
                return asked && result == (yes ? SplitStatus::Done : SplitStatus::Declined) ? 0 : 1;
            },
            30, true);
        EXPECT_EQ(status, 0) << yes;
        EXPECT_EQ(ReadFile(clip), yes ? Expected(20'000, 40'000) : (Bytes{7, 7, 7}));
    }
    struct stat info {};
    ASSERT_EQ(::stat(clip.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0200u);  // the replacement keeps the old permissions
}

TEST_F(SplitTest, AHugePieceCountIsAnsweredAtOnce) {
    // A sparse 1 GiB source with pack start codes at 0 and 2,048 only.
    m_sourcePath = m_dir.File("show.mpg");
    {
        const int fd = ::open(m_sourcePath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, int64_t{1} << 30), 0);
        const unsigned char code[4] = {0, 0, 1, 0xBA};
        ASSERT_EQ(::pwrite(fd, code, 4, 0), 4);
        ASSERT_EQ(::pwrite(fd, code, 4, 2048), 4);
        ASSERT_EQ(::close(fd), 0);
    }
    ASSERT_TRUE(m_source.SetSourcePath(m_sourcePath));
    ASSERT_TRUE(m_source.ProbeHeader(m_reporter));
    m_source.m_nTotalSeconds = INT32_MAX;
    std::filesystem::create_directory(m_dir.Path() / "out");
    m_out = m_dir.Folder() + "out/";
    // Piece 0 of either series ends at offset 0: the answer needs no more than that. In a
    // child with a time limit, as the old way took about twenty minutes.
    const int status = RunInChild(
        [&] {
            if (BySize(INT32_MAX) != SplitStatus::Failed || ByTime(1) != SplitStatus::Failed) {
                return 1;
            }
            // The source under the name of piece 123 is still found, through the folder.
            const std::string piece = m_out + "show_0000000123.mpg";
            if (::link(m_sourcePath.c_str(), piece.c_str()) != 0 ||
                BySize(INT32_MAX) != SplitStatus::Failed) {
                return 2;
            }
            const std::vector<std::string> expected{
                "error: Can not split the mpeg file!", "error: Can not split the mpeg file!",
                "Error: The output file can not be the source file!"};
            return m_reporter.m_events == expected ? 0 : 3;
        },
        20);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(FilesIn(m_out), 1u);
    EXPECT_EQ(std::filesystem::file_size(m_sourcePath), uintmax_t{1} << 30);
}

TEST_F(SplitTest, AKilledSplitLeavesNoPieceHalfWritten) {
    MakeSource(MakeRegularStream(size_t{4} << 20, 2048, 2048), 30);
    const Bytes old{5, 5, 5};
    WriteFile(m_out + "show_1.mpg", old);
    const int status = RunInChild(
        [&] {
            CFaultyFileSystem fs;
            fs.m_limitRead = [&](const std::string& path, int64_t position, size_t count) {
                if (path == m_sourcePath && position >= (int64_t{3} << 20)) {
                    ::raise(SIGKILL);
                }
                return static_cast<int64_t>(count);
            };
            BySize(2, fs);
            return 0;
        },
        30);
    EXPECT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, int64_t{2} << 20));
    EXPECT_EQ(ReadFile(m_out + "show_1.mpg"), old);
    if (SupportsUnnamedFiles(m_out)) {
        EXPECT_EQ(FilesIn(m_out), 2u);  // not even a hidden temporary file
    }
}

TEST_F(SplitTest, AStopRequestRemovesThePieceBeingWrittenAndKeepsTheOldFile) {
    MakeSource(MakeRegularStream(size_t{4} << 20, 2048, 2048), 30);
    const Bytes old{5, 5, 5};
    WriteFile(m_out + "show_1.mpg", old);
    struct CStopAt final : IStopRequest {
        bool IsStopRequested() const override { return *m_pStop; }
        const bool* m_pStop;
    };
    bool stop = false;
    CStopAt request;
    request.m_pStop = &stop;
    CFaultyFileSystem fs;
    fs.m_limitRead = [&](const std::string& path, int64_t position, size_t count) {
        stop = stop || (path == m_sourcePath && position >= (int64_t{3} << 20));
        return static_cast<int64_t>(count);
    };
    CSplitEngine engine(m_reporter, fs, request);
    EXPECT_EQ(engine.SplitBySize(m_source, 2, m_out), SplitStatus::Cancelled);
    EXPECT_THAT(m_reporter.m_events, ElementsAre("Wait+", "Wait-"));
    EXPECT_EQ(ReadFile(m_out + "show_0.mpg"), Expected(0, int64_t{2} << 20));
    EXPECT_EQ(ReadFile(m_out + "show_1.mpg"), old);
    EXPECT_EQ(FilesIn(m_out), 2u);
}

// --- Progress ----------------------------------------------------------------------------

namespace {

// Checks every call against the contract as it comes, and keeps what was told.
class CCheckedProgress final : public IProgress {
public:
    void BeginOutput(const CProgressOutput& output) override {
        EXPECT_TRUE(m_outputs.empty() || m_nLast == m_outputs.back().m_llBytes)
            << "an output begun before the last one was complete";
        EXPECT_EQ(output.m_llRunDone, m_llDone);
        EXPECT_EQ(output.m_nIndex, static_cast<int32_t>(m_outputs.size()));
        m_outputs.push_back(output);
        m_nLast = 0;
        m_completions.push_back(0);
    }
    void Advance(int64_t written) override {
        ASSERT_FALSE(m_outputs.empty());
        EXPECT_GT(written, m_nLast) << "progress went backwards or stood still";
        EXPECT_LE(written, m_outputs.back().m_llBytes);
        if (written == m_outputs.back().m_llBytes) {
            ++m_completions.back();
            m_llDone += written;
        }
        m_nLast = written;
        ++m_nCalls;
    }

    std::vector<CProgressOutput> m_outputs;
    std::vector<int> m_completions;  // per output: how often it reached its size
    int64_t m_nLast = 0;
    int64_t m_llDone = 0;
    int m_nCalls = 0;
};

}  // namespace

// Progress rises through every chunk of every piece, reaches each piece's size exactly once
// (the size of the file written), and the run's total is exact at the last piece.
TEST_F(SplitTest, ProgressReachesEachPieceOnceAndNeverGoesBack) {
    MakeSource(MakeRegularStream(size_t{40} << 20, 2048, 2048), 100);
    CCheckedProgress progress;
    CSplitEngine engine(m_reporter, PosixFileSystem(), NeverStop(), progress);
    ASSERT_EQ(engine.SplitByTime(m_source, 30, m_out), SplitStatus::Done);

    ASSERT_EQ(progress.m_outputs.size(), 4u);
    int64_t total = 0;
    for (size_t k = 0; k < 4; ++k) {
        const CProgressOutput& output = progress.m_outputs[k];
        EXPECT_EQ(output.m_nCount, 4);
        EXPECT_EQ(output.m_strPath, m_out + "show_" + std::to_string(k) + ".mpg");
        EXPECT_EQ(progress.m_completions[k], 1) << "piece " << k;
        EXPECT_EQ(output.m_llBytes, static_cast<int64_t>(ReadFile(output.m_strPath).size()));
        total += output.m_llBytes;
    }
    EXPECT_EQ(progress.m_outputs.back().m_llRunBytes, total);
    // The estimate before the last piece is close: only the overlaps of the blocks differ.
    EXPECT_NEAR(static_cast<double>(progress.m_outputs.front().m_llRunBytes),
                static_cast<double>(total), 4 * 512.0);
    // Ten MiB pieces go in more than one step.
    EXPECT_GT(progress.m_nCalls, 4);
}

// Clean pieces count their prefixes: each reaches the size of the file written exactly once,
// the patched byte and the range's end included.
TEST_F(SplitTest, ProgressOfCleanPiecesReachesTheirSizeOnce) {
    CVideoShape shape;
    shape.m_dSeconds = 12;
    MakeSource(MakeVideoRecording(shape), 12);
    CCheckedProgress progress;
    CSplitEngine engine(m_reporter, PosixFileSystem(), NeverStop(), progress);
    engine.SetOptions({true});
    ASSERT_EQ(engine.SplitBySize(m_source, 3, m_out), SplitStatus::Done);
    ASSERT_EQ(progress.m_outputs.size(), 3u);
    int64_t total = 0;
    for (size_t k = 0; k < 3; ++k) {
        const CProgressOutput& output = progress.m_outputs[k];
        EXPECT_EQ(progress.m_completions[k], 1) << "piece " << k;
        EXPECT_EQ(output.m_llBytes, static_cast<int64_t>(ReadFile(output.m_strPath).size()));
        total += output.m_llBytes;
    }
    EXPECT_EQ(progress.m_outputs.back().m_llRunBytes, total);
}

// A clip is one output of one: its size is the run's; a stopped or failed copy never reports
// its output complete.
TEST_F(SplitTest, ProgressOfAClipAndOfACopyThatEndsEarly) {
    MakeSource(MakeRegularStream(size_t{24} << 20, 2048, 2048), 100);
    {
        CCheckedProgress progress;
        CSplitEngine engine(m_reporter, PosixFileSystem(), NeverStop(), progress);
        ASSERT_EQ(engine.CutClip(m_source, Seconds(10), Seconds(90), m_out + "clip.mpg"),
                  SplitStatus::Done);
        ASSERT_EQ(progress.m_outputs.size(), 1u);
        EXPECT_EQ(progress.m_outputs[0].m_nCount, 1);
        EXPECT_EQ(progress.m_outputs[0].m_llRunBytes, progress.m_outputs[0].m_llBytes);
        EXPECT_EQ(progress.m_outputs[0].m_llBytes,
                  static_cast<int64_t>(ReadFile(m_out + "clip.mpg").size()));
        EXPECT_EQ(progress.m_completions[0], 1);
    }
    struct CStopAfter final : IStopRequest {
        bool IsStopRequested() const override { return m_pProgress->m_nCalls >= 1; }
        const CCheckedProgress* m_pProgress;
    };
    CCheckedProgress progress;
    CStopAfter stop;
    stop.m_pProgress = &progress;
    CSplitEngine engine(m_reporter, PosixFileSystem(), stop, progress);
    EXPECT_EQ(engine.SplitBySize(m_source, 1, m_out), SplitStatus::Cancelled);
    ASSERT_EQ(progress.m_outputs.size(), 1u);
    EXPECT_EQ(progress.m_completions[0], 0);
    EXPECT_FALSE(PathExists(m_out + "show_0.mpg"));
}
