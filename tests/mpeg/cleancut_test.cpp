// Clean cuts on streams made here: where a piece may start, how times and byte positions reach
// those places, what goes in front of a piece, and the three commands cutting cleanly with
// their messages and output safety.
#include "mpeg/cleancut.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "mpeg/cutplan.h"
#include "mpeg/messages.h"
#include "mpeg/splitengine.h"
#include "mpeg/streamclock.h"
#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;
using ::testing::ElementsAre;

namespace {

const std::vector<std::string> kDone{"Wait+", "Wait-", "Message: Splitting is done!"};
// The planner takes a place whose picture comes up to this late as at the time.
constexpr int64_t kTolerance = 4500;

class CleanCutTest : public ::testing::Test {
protected:
    void Make(const CVideoShape& shape) { Use(MakeVideoRecording(shape, &m_groups), shape); }

    void Use(const Bytes& bytes, const CVideoShape& shape = {}) {
        m_shape = shape;
        m_bytes = bytes;
        m_path = m_dir.File("show.mpg");
        WriteFile(m_path, m_bytes);
        m_file = PosixFileSystem().OpenRead(m_path);
        ASSERT_TRUE(m_file);
        m_planner = std::make_unique<CCleanCutPlanner>(*m_file, Size(), m_reporter);
        ASSERT_TRUE(m_planner->Prepare());
    }

    int64_t Size() const { return static_cast<int64_t>(m_bytes.size()); }

    // The model: where a piece starts for a time (90 kHz after the first picture) or a
    // position: the last group at or before it, the first group being the file's start.
    size_t GroupAtTime(int64_t ticks) const {
        size_t found = 0;
        for (size_t g = 0; g < m_groups.size(); ++g) {
            if (m_groups[g].m_llPictureTime <= m_shape.m_llStart + ticks + kTolerance) {
                found = g;
            }
        }
        return found;
    }
    size_t GroupAtPosition(int64_t position) const {
        size_t found = 0;
        for (size_t g = 0; g < m_groups.size(); ++g) {
            if (m_groups[g].m_llHeaderPack <= position) {
                found = g;
            }
        }
        return found;
    }
    int64_t StartOf(size_t group) const { return group == 0 ? 0 : m_groups[group].m_llPack; }

    CTempDir m_dir;
    CVideoShape m_shape;
    Bytes m_bytes;
    std::string m_path;
    std::vector<CGroupMark> m_groups;
    std::unique_ptr<IFile> m_file;
    CRecordingReporter m_reporter;
    std::unique_ptr<CCleanCutPlanner> m_planner;
};

// How many groups' sequence headers lie across two packets: their start code is not in the
// file whole.
size_t SplitHeaders(const Bytes& bytes, size_t groups) {
    size_t whole = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        whole += bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB3;
    }
    return groups - whole;
}

}  // namespace

TEST_F(CleanCutTest, TimesReachTheLastGroupShownAtOrBeforeThem) {
    CVideoShape mpeg1;
    mpeg1.m_bMpeg2 = false;
    mpeg1.m_bAudio = false;
    mpeg1.m_nPackBytes = 2324;
    CVideoShape dvd;
    dvd.m_bNavigationPacks = true;
    dvd.m_nGroupPictures = 15;
    for (const CVideoShape& shape : {CVideoShape{}, mpeg1, dvd}) {
        Make(shape);
        ASSERT_EQ(m_planner->Video(), ECleanVideo::Mpeg);
        for (int64_t seconds = 0; seconds < 10; ++seconds) {
            CCleanCut cut;
            ASSERT_TRUE(m_planner->AtTime(seconds, 0, cut));
            const size_t group = GroupAtTime(seconds * 90000);
            EXPECT_EQ(cut.m_llOffset, StartOf(group)) << seconds << " s";
            if (group > 0) {
                EXPECT_EQ(cut.m_llTime, m_groups[group].m_llPictureTime);
                // A DVD's group starts with the navigation pack before its first pack.
                const size_t packHeader = shape.m_bMpeg2 ? 14 : 12;
                EXPECT_EQ(m_bytes[static_cast<size_t>(cut.m_llOffset) + packHeader + 3],
                          shape.m_bNavigationPacks ? 0xBB : 0xE0);
            }
        }
    }
    EXPECT_TRUE(m_reporter.m_events.empty());
}

TEST_F(CleanCutTest, PositionsReachTheLastGroupWhoseHeaderLiesAtOrBeforeThem) {
    // Also with every group header across two packets.
    for (const size_t packBytes : {2048, 2051, 997}) {
        CVideoShape shape;
        shape.m_nPackBytes = packBytes;
        shape.m_bSplitHeaders = packBytes != 2048;
        shape.m_dSeconds = 6;
        Make(shape);
        EXPECT_EQ(SplitHeaders(m_bytes, m_groups.size()),
                  shape.m_bSplitHeaders ? m_groups.size() : 0);
        for (int64_t position = 0; position < Size() + 5000; position += 1511) {
            CCleanCut cut;
            ASSERT_TRUE(m_planner->AtOffset(position, cut));
            EXPECT_EQ(cut.m_llOffset, StartOf(GroupAtPosition(position)))
                << packBytes << ": " << position;
        }
    }
}

TEST_F(CleanCutTest, OpenGroupsGetTheirBrokenLinkFlagAndClosedOnesKeepTheirBytes) {
    for (const bool closed : {false, true}) {
        CVideoShape shape;
        shape.m_bClosedGroups = closed;
        Make(shape);
        for (size_t g = 1; g < m_groups.size(); ++g) {
            CCleanCut cut;
            ASSERT_TRUE(m_planner->AtOffset(m_groups[g].m_llHeaderPack, cut));
            ASSERT_EQ(cut.m_llOffset, m_groups[g].m_llPack);
            const CExactCopy copy = m_planner->Layout(cut, Size());
            if (closed) {
                EXPECT_FALSE(copy.m_patch);
            } else {
                ASSERT_TRUE(copy.m_patch);
                EXPECT_EQ(copy.m_patch->m_llOffset, m_groups[g].m_llFlagsOffset);
                EXPECT_EQ(copy.m_patch->m_nValue, 0x20);  // closed_gop 0, broken_link 1
            }
        }
    }
}

TEST_F(CleanCutTest, ThePrefixIsTheFirstPacksHeadersWithTheClockJustBeforeThePiece) {
    for (const bool mpeg2 : {true, false}) {
        CVideoShape shape;
        shape.m_bMpeg2 = mpeg2;
        shape.m_nMuxRate = 3528;
        Make(shape);
        CCleanCut cut;
        ASSERT_TRUE(m_planner->AtTime(5, 0, cut));
        ASSERT_GT(cut.m_llOffset, 0);
        const CExactCopy copy = m_planner->Layout(cut, Size());
        EXPECT_EQ(copy.m_llStart, cut.m_llOffset);
        EXPECT_EQ(copy.m_llEnd, Size());
        // The first pack's header, system header and stream map; nothing of its packets.
        CPackHeader first;
        CPackHeader prefix;
        ASSERT_TRUE(ParsePackHeader(m_bytes.data(), m_bytes.size(), first));
        ASSERT_TRUE(ParsePackHeader(copy.m_prefix.data(), copy.m_prefix.size(), prefix));
        const size_t headers = first.m_nLength + 6 + 12 + 6 + 18;
        ASSERT_GE(copy.m_prefix.size(), headers + 6);
        EXPECT_TRUE(std::equal(copy.m_prefix.begin() + first.m_nLength,
                               copy.m_prefix.begin() + static_cast<std::ptrdiff_t>(headers),
                               m_bytes.begin() + first.m_nLength));
        EXPECT_EQ(prefix.m_bMpeg2, mpeg2);
        EXPECT_EQ(prefix.m_nMuxRate, first.m_nMuxRate);
        // Then a padding packet that puts the piece's body, its last source range, at an
        // offset congruent to the source's modulo 4096.
        EXPECT_EQ(copy.m_prefix[headers + 3], 0xBE);
        EXPECT_EQ(6 + (size_t{copy.m_prefix[headers + 4]} << 8 | copy.m_prefix[headers + 5]),
                  copy.m_prefix.size() - headers);
        ASSERT_FALSE(copy.m_parts.empty());
        EXPECT_FALSE(copy.m_parts.back().m_bLiteral);
        EXPECT_EQ((copy.Bytes() - (Size() - copy.m_parts.back().m_llFrom)) % 4096,
                  copy.m_parts.back().m_llFrom % 4096);
        // Its bytes arrive at the mux rate and end no later than the piece's first pack.
        const int64_t lead27 =
            (static_cast<int64_t>(copy.m_prefix.size()) * 27'000'000 + 3528 * 50 - 1) / (3528 * 50);
        const int64_t expected = cut.m_pack.m_llScr * 300 + cut.m_pack.m_nScrExtension -
                                 (mpeg2 ? lead27 : (lead27 + 299) / 300 * 300);
        EXPECT_EQ(prefix.m_llScr * 300 + prefix.m_nScrExtension, expected);
    }
}

TEST_F(CleanCutTest, APieceWithoutItsOwnSequenceHeaderCarriesTheLatestOne) {
    // MPEG-2 video: the sequence header with its extension; H.264: SPS and PPS. After them a
    // start code of user data (filler data) takes in the end of the previous picture.
    const Bytes sequence{0,    0, 1, 0xB3, 0x16, 0x01, 0x20, 0x23, 0xFF, 0xFF, 0xE0,
                         0xA0, 0, 0, 1,    0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00};
    const Bytes parameterSets{0,    0,    1,    0x67, 0x42, 0xC0, 0x1E, 0xD9, 0x00, 0xA0,
                              0x47, 0xFE, 0xC8, 0,    0,    1,    0x68, 0xCE, 0x38, 0x80};
    for (const bool h264 : {false, true}) {
        CVideoShape shape;
        shape.m_bH264 = h264;
        shape.m_bSequenceEveryGroup = false;
        shape.m_bSplitHeaders = true;
        Make(shape);
        ASSERT_EQ(m_planner->Video(), h264 ? ECleanVideo::H264 : ECleanVideo::Mpeg);
        CCleanCut cut;
        ASSERT_TRUE(m_planner->AtTime(6, 0, cut));
        ASSERT_EQ(cut.m_llOffset, StartOf(GroupAtTime(6 * 90000)));
        EXPECT_EQ(cut.m_parameters, h264 ? parameterSets : sequence);
        const CExactCopy copy = m_planner->Layout(cut, Size());
        Bytes packet{0, 0, 1, 0xE0};
        const size_t length = 3 + cut.m_parameters.size() + 4;
        packet.push_back(static_cast<unsigned char>(length >> 8));
        packet.push_back(static_cast<unsigned char>(length & 0xFF));
        packet.insert(packet.end(), {0x84, 0x00, 0x00});
        packet.insert(packet.end(), cut.m_parameters.begin(), cut.m_parameters.end());
        packet.insert(packet.end(), {0, 0, 1, static_cast<unsigned char>(h264 ? 0x0C : 0xB2)});
        ASSERT_GE(copy.m_prefix.size(), packet.size());
        EXPECT_TRUE(std::equal(packet.begin(), packet.end(),
                               copy.m_prefix.end() - static_cast<std::ptrdiff_t>(packet.size())));

        // A piece that starts at a group with its own sequence header gets nothing more.
        shape.m_bSequenceEveryGroup = true;
        Make(shape);
        ASSERT_TRUE(m_planner->AtTime(6, 0, cut));
        EXPECT_TRUE(cut.m_parameters.empty());
    }
}

TEST_F(CleanCutTest, H264PiecesStartAtTheAccessUnitOfAnIdrPicture) {
    CVideoShape shape;
    shape.m_bH264 = true;
    shape.m_nGroupPictures = 25;
    shape.m_nPackBytes = 997;
    Make(shape);
    for (int64_t seconds = 1; seconds < 10; seconds += 2) {
        CCleanCut cut;
        ASSERT_TRUE(m_planner->AtTime(seconds, 0, cut));
        const size_t group = GroupAtTime(seconds * 90000);
        EXPECT_EQ(cut.m_llOffset, StartOf(group)) << seconds;
        EXPECT_EQ(cut.m_llTime, m_groups[group].m_llPictureTime);
        EXPECT_FALSE(cut.m_brokenLink);
    }
}

TEST_F(CleanCutTest, KeyPicturesOfEveryKindArePlaces) {
    // A key picture every 2 s. Each row differs in how a group begins after the first.
    CVideoShape recovery;
    recovery.m_bH264 = true;
    recovery.m_eH264Keys = EH264Keys::RecoveryPoint;
    CVideoShape intraOnly = recovery;
    intraOnly.m_eH264Keys = EH264Keys::IntraOnly;
    intraOnly.m_bSequenceEveryGroup = false;
    CVideoShape headerless;
    headerless.m_bGroupHeaders = false;
    CVideoShape headerlessMpeg1 = headerless;
    headerlessMpeg1.m_bMpeg2 = false;
    CVideoShape headerlessFields = headerless;
    headerlessFields.m_bFieldPictures = true;
    const struct {
        const char* m_szName;
        CVideoShape m_shape;
    } rows[] = {
        {"H.264 recovery points", recovery},
        {"H.264 of I slices without IDR", intraOnly},
        {"MPEG-2 I pictures without headers", headerless},
        {"MPEG-1 I pictures without headers", headerlessMpeg1},
        {"MPEG-2 I fields without headers", headerlessFields},
    };
    for (const auto& row : rows) {
        CVideoShape shape = row.m_shape;
        shape.m_nGroupPictures = 50;
        Make(shape);
        for (int64_t seconds = 3; seconds < 10; seconds += 2) {
            CCleanCut cut;
            ASSERT_TRUE(m_planner->AtTime(seconds, 0, cut));
            const size_t group = GroupAtTime(seconds * 90000);
            ASSERT_GT(group, 0u);
            EXPECT_EQ(cut.m_llOffset, StartOf(group)) << row.m_szName << ", " << seconds << " s";
            EXPECT_EQ(cut.m_llTime, m_groups[group].m_llPictureTime) << row.m_szName;
            if (!shape.m_bH264 && !shape.m_bGroupHeaders) {
                // The sequence header, then a group header whose B pictures are not shown.
                ASSERT_GT(cut.m_parameters.size(), kBrokenGroupHeader.size());
                EXPECT_EQ(cut.m_parameters[3], kSequenceHeader);
                EXPECT_TRUE(std::equal(kBrokenGroupHeader.begin(), kBrokenGroupHeader.end(),
                                       cut.m_parameters.end() - 8));
                EXPECT_FALSE(cut.m_brokenLink);
            }
        }
        // No place between two groups: not a P picture, not the second field of an I frame.
        for (size_t g = 1; g + 1 < m_groups.size(); ++g) {
            CCleanCut cut;
            ASSERT_TRUE(m_planner->AtOffset(m_groups[g + 1].m_llHeaderPack - 1, cut));
            EXPECT_EQ(cut.m_llOffset, StartOf(g)) << row.m_szName << ", group " << g;
        }
    }
    // Where IDR pictures exist, I pictures without a recovery point are no places: their
    // later pictures may refer to pictures before them.
    CVideoShape mixed = recovery;
    mixed.m_eH264Keys = EH264Keys::Intra;
    Make(mixed);
    CCleanCut cut;
    ASSERT_TRUE(m_planner->AtTime(4, 0, cut));
    EXPECT_EQ(cut.m_llOffset, 0);
}

TEST_F(CleanCutTest, WithoutVideoAPieceStartsAtThePackAtOrBeforeTheTime) {
    CPsBuilder builder;
    builder.Pack(0).SystemHeader();
    CRecordingShape audio;
    audio.m_llStart = 90000;
    audio.m_dSeconds = 8;
    AppendRecording(builder, audio);  // its video packets hold no start code: no video to read
    Use(builder.Data());
    ASSERT_EQ(m_planner->Video(), ECleanVideo::None);
    // The model: the packs whose first audio packet is shown at or before the time.
    std::vector<std::pair<int64_t, int64_t>> packs;  // (offset, audio time)
    for (size_t i = 0; i + 1 < builder.UnitOffsets().size(); ++i) {
        const auto at = static_cast<size_t>(builder.UnitOffsets()[i]);
        const auto next = static_cast<size_t>(builder.UnitOffsets()[i + 1]);
        if (m_bytes[at + 3] == 0xBA && m_bytes[next + 3] == 0xC0) {
            packs.emplace_back(static_cast<int64_t>(at), ParseTimeStamp(&m_bytes[next + 9]));
        }
    }
    for (int64_t seconds = 1; seconds < 8; ++seconds) {
        CCleanCut cut;
        ASSERT_TRUE(m_planner->AtTime(seconds, 0, cut));
        int64_t expected = 0;
        for (const auto& [offset, time] : packs) {
            if (time <= 90000 + seconds * 90000 + kTolerance) {
                expected = offset;
            }
        }
        EXPECT_EQ(cut.m_llOffset, expected) << seconds;
    }
}

TEST_F(CleanCutTest, AStreamWithoutAUsableClockIsCutWhereTheProportionPoints) {
    // Time stamps and pack clock that disagree: 8 s of pictures in packs that arrive a second
    // apart.
    CVideoShape shape;
    shape.m_dSeconds = 8;
    shape.m_nMuxRate = 41;
    Use(MakeVideoRecording(shape));
    ASSERT_FALSE(CStreamClock::Measure(*m_file, Size()));
    const int64_t proportional = Size() * 5 / 8;
    CCleanCut byTime;
    CCleanCut byPosition;
    ASSERT_TRUE(m_planner->AtTime(5, proportional, byTime));
    ASSERT_TRUE(m_planner->AtOffset(proportional, byPosition));
    EXPECT_GT(byTime.m_llOffset, Size() / 2);
    EXPECT_EQ(byTime.m_llOffset, byPosition.m_llOffset);
}

// A recording joined from two plays the second after the first, whichever way its clock
// jumps: a time in the second is found in the second, where it lies in the part alone.
TEST_F(CleanCutTest, TimesOfAJoinedRecordingAreFoundInTheSpanThatPlaysThen) {
    CVideoShape shape;
    shape.m_dSeconds = 4;
    const Bytes part = MakeVideoRecording(shape);
    CVideoShape later = shape;
    later.m_llStart += int64_t{3600} * 90000;
    const Bytes latePart = MakeVideoRecording(later);
    Use(part);
    CCleanCut alone;
    CCleanCut aloneLate;  // the last place of the part
    ASSERT_TRUE(m_planner->AtTime(1, 0, alone));
    ASSERT_TRUE(m_planner->AtTime(3, 0, aloneLate));
    ASSERT_GT(alone.m_llOffset, 0);
    const auto partLength = CStreamClock::Measure(*m_file, Size());
    ASSERT_TRUE(partLength);
    for (const Bytes* second : {&part, &latePart}) {
        Bytes joined = part;
        joined.insert(joined.end(), second->begin(), second->end());
        Use(joined);
        const auto length = CStreamClock::Measure(*m_file, Size());
        ASSERT_TRUE(length);
        ASSERT_EQ(length->m_spans.size(), 2u);
        EXPECT_EQ(length->m_llDuration100ns, 2 * partLength->m_llDuration100ns);
        // 5 s is 1 s into the second part (whose length is some 4 s).
        const auto seconds = partLength->m_llDuration100ns / 10'000'000 + 1;
        CCleanCut cut;
        ASSERT_TRUE(m_planner->AtTime(seconds, 0, cut));
        EXPECT_EQ(cut.m_llOffset, static_cast<int64_t>(part.size()) + alone.m_llOffset);
        // The first part's times are found in the first as before, up to its end.
        ASSERT_TRUE(m_planner->AtTime(1, 0, cut));
        EXPECT_EQ(cut.m_llOffset, alone.m_llOffset);
        ASSERT_TRUE(m_planner->AtTime(3, 0, cut));
        EXPECT_EQ(cut.m_llOffset, aloneLate.m_llOffset);
    }
}

TEST_F(CleanCutTest, TimesAreFoundByReadingAFewWindowsOfALargeFile) {
    CVideoShape shape;
    shape.m_dSeconds = 150;
    shape.m_nIntraBytes = 60000;
    const Bytes bytes = MakeVideoRecording(shape, &m_groups);
    m_shape = shape;
    m_bytes = bytes;
    WriteFile(m_dir.File("large.mpg"), bytes);
    ASSERT_GT(Size(), int64_t{96} << 20);
    CFaultyFileSystem counting;
    int64_t read = 0;
    counting.m_limitRead = [&read](const std::string&, int64_t, size_t count) {
        read += static_cast<int64_t>(count);
        return static_cast<int64_t>(count);
    };
    auto file = counting.OpenRead(m_dir.File("large.mpg"));
    CCleanCutPlanner planner(*file, Size(), m_reporter);
    ASSERT_TRUE(planner.Prepare());
    for (const int64_t seconds : {37, 91, 140}) {
        read = 0;
        CCleanCut cut;
        ASSERT_TRUE(planner.AtTime(seconds, 0, cut));
        EXPECT_EQ(cut.m_llOffset, StartOf(GroupAtTime(seconds * 90000)));
        // The clock is measured once (its head and tail), then each time costs a binary
        // search and a window or two.
        EXPECT_LT(read, int64_t{24} << 20) << seconds;
    }
}

TEST_F(CleanCutTest, AFailedReadIsReportedAsTheBoundarySearchReportsIt) {
    CVideoShape shape;
    Make(shape);
    CFaultyFileSystem faulty;
    faulty.m_limitRead = [](const std::string&, int64_t position, size_t count) {
        return position > 200'000 ? int64_t{-1} : static_cast<int64_t>(count);
    };
    auto file = faulty.OpenRead(m_path);
    CCleanCutPlanner planner(*file, Size(), m_reporter);
    ASSERT_TRUE(planner.Prepare());
    CCleanCut cut;
    EXPECT_FALSE(planner.AtOffset(Size() - 1, cut));
    faulty.m_failSeek = [](const std::string&, int64_t, SeekOrigin) { return true; };
    EXPECT_FALSE(planner.AtOffset(Size() - 1, cut));
    EXPECT_THAT(m_reporter.m_events, ElementsAre("Error: Can not read the mpeg file head!",
                                                 "Error: my_lseeki64 is wrong(7)."));
}

namespace {

class CleanSplitTest : public CleanCutTest {
protected:
    void Open() {
        ASSERT_TRUE(m_source.SetSourcePath(m_path));
        CRecordingReporter probe;
        ASSERT_TRUE(m_source.ProbeHeader(probe));
        ASSERT_TRUE(m_source.ProbeDuration({}));
        std::filesystem::create_directory(m_dir.Path() / "out");
        m_out = m_dir.Folder() + "out/";
    }

    // The pieces' video, one after the other, with every broken_link flag cleared: the
    // source's. Each later piece carries its prefix in front of the source's bytes.
    Bytes Joined(const std::vector<COutputRecord>& outputs) const {
        Bytes joined;
        int64_t end = 0;
        for (const COutputRecord& output : outputs) {
            EXPECT_EQ(output.m_llStart, end);
            EXPECT_EQ(output.m_llHeaderBytes == 0, output.m_llStart == 0);
            end = output.m_llEnd;
            const Bytes video = VideoStreamOf(output.m_strPath);
            joined.insert(joined.end(), video.begin(), video.end());
        }
        return joined;
    }

    CMpegSource m_source;
    std::string m_out;
};

}  // namespace

TEST_F(CleanSplitTest, PiecesHoldTheSourceOnceAndEachLaterOneStartsWithItsPrefix) {
    CVideoShape shape;
    shape.m_dSeconds = 12;
    Make(shape);
    Open();
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    engine.SetOptions({true});
    ASSERT_EQ(engine.SplitByTime(m_source, 4, m_out), SplitStatus::Done);
    EXPECT_EQ(reporter.m_events, kDone);
    const auto& outputs = engine.Outputs();
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs[0].m_strPath, m_out + "show_0.mpg");
    EXPECT_EQ(outputs[1].m_llStart, StartOf(GroupAtTime(4 * 90000)));
    EXPECT_EQ(outputs[2].m_llStart, StartOf(GroupAtTime(8 * 90000)));
    EXPECT_EQ(outputs[2].m_llEnd, Size());
    EXPECT_EQ(Joined(outputs), VideoStreamOf(m_path));
    for (size_t k = 1; k < 3; ++k) {
        // The piece opens with a pack header and a system header, then its first pack.
        const Bytes piece = ReadFile(outputs[k].m_strPath);
        EXPECT_EQ(piece[3], 0xBA);
        EXPECT_EQ(piece[14 + 3], 0xBB);
        // Read back, its own clock starts at its first group, not at the source's start.
        auto file = PosixFileSystem().OpenRead(outputs[k].m_strPath);
        const auto clock = CStreamClock::Measure(*file, static_cast<int64_t>(piece.size()));
        ASSERT_TRUE(clock);
        const CGroupMark& group = m_groups[GroupAtTime(4 * 90000 * static_cast<int64_t>(k))];
        EXPECT_NEAR(static_cast<double>(clock->m_llStartClock),
                    static_cast<double>(group.m_llPictureTime), 0.2 * 90000);
    }

    // By size the raw byte positions stay, each moved back to its group.
    ASSERT_EQ(engine.SplitBySize(m_source, 3, m_out), SplitStatus::Done);
    EXPECT_EQ(engine.Outputs()[1].m_llStart,
              StartOf(GroupAtPosition(EqualPieceOffset(1, 3, Size()))));
    EXPECT_EQ(Joined(engine.Outputs()), VideoStreamOf(m_path));
}

TEST_F(CleanSplitTest, TheClipRunsFromTheGroupAtItsStartToWhereAPieceAtItsEndWouldStart) {
    CVideoShape shape;
    Make(shape);
    Open();
    CRecordingReporter reporter;
    CSplitEngine engine(reporter);
    engine.SetOptions({true});
    const std::string clip = m_dir.File("clip.mpg");
    ASSERT_EQ(engine.CutClip(m_source, {0, 0, 3}, {0, 0, 7}, clip), SplitStatus::Done);
    EXPECT_EQ(reporter.m_events, kDone);
    const COutputRecord& output = engine.Outputs().at(0);
    EXPECT_EQ(output.m_llStart, StartOf(GroupAtTime(3 * 90000)));
    EXPECT_EQ(output.m_llEnd, StartOf(GroupAtTime(7 * 90000)));
    // Its video: the source's from the first group's header to the next group's.
    const Bytes video = VideoStreamOf(clip);
    const Bytes source = VideoStreamOf(m_path);
    ASSERT_GE(video.size(), 4u);
    EXPECT_EQ(video[3], 0xB3);
    const auto at = std::search(source.begin(), source.end(), video.begin(), video.end());
    ASSERT_NE(at, source.end());
    const auto next = at + static_cast<std::ptrdiff_t>(video.size());
    ASSERT_LE(next + 4, source.end());
    EXPECT_EQ(Bytes(next, next + 4), (Bytes{0, 0, 1, 0xB3}));

    // From the start, nothing in front; to the total, the end of the file.
    reporter.m_events.clear();
    ASSERT_EQ(engine.CutClip(m_source, {0, 0, 0}, {0, 0, m_source.m_nTotalSeconds}, clip),
              SplitStatus::Done);
    EXPECT_EQ(ReadFile(clip), m_bytes);
}

TEST_F(CleanSplitTest, AClipWhoseCutsMeetGetsTheMessageOfTheDefaultMode) {
    // One group of pictures: both cuts fall back to the file's start. So does a clip whose
    // start has no place within the search's reach: it would hold far more than asked.
    CVideoShape shape;
    shape.m_dSeconds = 4;
    shape.m_nGroupPictures = 100;
    CVideoShape sparse;
    sparse.m_dSeconds = 80;
    sparse.m_nGroupPictures = 75 * 25;
    sparse.m_nIntraBytes = 2000;
    sparse.m_bAudio = false;
    for (const auto& [from, to, made] : {std::tuple{1, 2, shape}, std::tuple{65, 70, sparse}}) {
        Make(made);
        Open();
        CRecordingReporter reporter;
        CSplitEngine engine(reporter);
        engine.SetOptions({true});
        const std::string clip = m_dir.File("clip.mpg");
        EXPECT_EQ(engine.CutClip(m_source, {0, 0, from}, {0, 0, to}, clip), SplitStatus::Failed);
        EXPECT_THAT(reporter.m_events, ElementsAre("error: Can not split the mpeg file!"));
        EXPECT_FALSE(PathExists(clip));
    }
}

TEST_F(CleanSplitTest, WhereNoPlaceLiesBetweenRequestedCutsThePieceBeforeRunsOn) {
    CVideoShape oneGroup;
    oneGroup.m_dSeconds = 4;
    oneGroup.m_nGroupPictures = 100;
    CVideoShape groupsOf4s = oneGroup;
    groupsOf4s.m_dSeconds = 12;
    // Key pictures at 0 and 75 s: 70 s lies more than the search's minute after the first.
    CVideoShape sparse;
    sparse.m_dSeconds = 80;
    sparse.m_nGroupPictures = 75 * 25;
    sparse.m_nIntraBytes = 2000;
    sparse.m_bAudio = false;
    const struct {
        CVideoShape m_shape;
        int32_t m_nSeconds;            // by time; 0: by size
        int32_t m_nPieces;             // by size
        std::vector<double> m_starts;  // of the written pieces, seconds after the first picture
        const char* m_szText;
    } rows[] = {
        {oneGroup,
         1,
         0,
         {0},
         "show_0.mpg runs on over 00:00:01 to 00:00:03: no picture after its start can begin "
         "a piece.\n1 piece was written instead of 4: show_0.mpg."},
        {oneGroup,
         0,
         3,
         {0},
         "show_0.mpg runs on over the starts of pieces 2 to 3 of 3: no picture after its "
         "start can begin a piece.\n1 piece was written instead of 3: show_0.mpg."},
        // Their I pictures are shown at 4.08 and 8.08 s, after two B pictures.
        {groupsOf4s,
         1,
         0,
         {0, 5, 9},
         "show_0.mpg runs on over 00:00:01 to 00:00:04: no picture after its start can begin "
         "a piece.\nshow_1.mpg runs on over 00:00:06 to 00:00:08: no picture after its start "
         "can begin a piece.\nshow_2.mpg runs on over 00:00:10 to 00:00:11: no picture after "
         "its start can begin a piece.\n3 pieces were written instead of 12: show_0.mpg to "
         "show_2.mpg."},
        {groupsOf4s, 5, 0, {0, 5, 10}, ""},
        {sparse,
         70,
         0,
         {0},
         "show_0.mpg runs on over 00:01:10: no picture within a minute or 64 MiB before can "
         "begin a piece.\n1 piece was written instead of 2: show_0.mpg."},
    };
    for (const auto& row : rows) {
        Make(row.m_shape);
        Open();
        std::filesystem::remove_all(m_out);
        std::filesystem::create_directory(m_out);
        CRecordingReporter reporter;
        CSplitEngine engine(reporter);
        engine.SetOptions({true});
        const SplitStatus status = row.m_nSeconds > 0
                                       ? engine.SplitByTime(m_source, row.m_nSeconds, m_out)
                                       : engine.SplitBySize(m_source, row.m_nPieces, m_out);
        ASSERT_EQ(status, SplitStatus::Done) << row.m_szText;
        EXPECT_EQ(reporter.m_events, kDone);
        EXPECT_EQ(engine.Merged().Text(), row.m_szText);
        // Named by the count written, without gaps; each starts at a group; together the
        // source.
        const auto& outputs = engine.Outputs();
        ASSERT_EQ(outputs.size(), row.m_starts.size()) << row.m_szText;
        for (size_t k = 0; k < outputs.size(); ++k) {
            EXPECT_EQ(outputs[k].m_strPath, m_out + "show_" + std::to_string(k) + ".mpg");
            const auto ticks = static_cast<int64_t>(row.m_starts[k] * 90000);
            EXPECT_EQ(outputs[k].m_llStart, StartOf(GroupAtTime(ticks))) << row.m_szText;
        }
        EXPECT_EQ(Joined(outputs), VideoStreamOf(m_path));

        // The plan before writing says what the split wrote.
        CCutPlanner planner(reporter);
        CCutPlan plan;
        ASSERT_EQ(row.m_nSeconds > 0 ? planner.PlanByTime(m_source, row.m_nSeconds, {true}, plan)
                                     : planner.PlanBySize(m_source, row.m_nPieces, {true}, plan),
                  EPlanStatus::Planned);
        EXPECT_EQ(plan.m_nPieceCount, static_cast<int32_t>(outputs.size())) << row.m_szText;
        EXPECT_EQ(plan.m_first.m_llBytes,
                  static_cast<int64_t>(std::filesystem::file_size(outputs[0].m_strPath)));
    }
}

TEST_F(CleanSplitTest, ASeriesReadsAStretchWithoutPlacesOnceAndStopsAtOnce) {
    // One group of 30 s: every search for a cut ends at the previous one.
    CVideoShape shape;
    shape.m_dSeconds = 30;
    shape.m_nGroupPictures = 30 * 25;
    shape.m_nIntraBytes = 60000;
    Make(shape);
    CFaultyFileSystem counting;
    int64_t read = 0;
    counting.m_limitRead = [&read](const std::string&, int64_t, size_t count) {
        read += static_cast<int64_t>(count);
        return static_cast<int64_t>(count);
    };
    auto file = counting.OpenRead(m_path);
    CCleanCutPlanner planner(*file, Size(), m_reporter);
    ASSERT_TRUE(planner.Prepare());
    planner.SetFloor(0);
    read = 0;
    for (int64_t seconds = 1; seconds < 30; ++seconds) {
        CCleanCut cut;
        ASSERT_TRUE(planner.AtTime(seconds, 0, cut));
        EXPECT_EQ(cut.m_eSearch, ECleanSearch::NoPlace);
    }
    // Without passing over what earlier searches read, some 15 times the file.
    EXPECT_LT(read, 3 * Size());

    // A stop asked for while a search reads ends it within a window.
    struct CStopAfterReading final : IStopRequest {
        bool IsStopRequested() const override { return m_read > (int64_t{1} << 20); }
        const int64_t& m_read;
        explicit CStopAfterReading(const int64_t& r) : m_read(r) {}
    } stop(read);
    CCleanCutPlanner stopped(*file, Size(), m_reporter, stop);
    read = 0;
    ASSERT_TRUE(stopped.Prepare());
    stopped.SetFloor(0);
    CCleanCut cut;
    read = 0;
    EXPECT_FALSE(stopped.AtOffset(Size(), cut));
    EXPECT_TRUE(stopped.Stopped());
    EXPECT_LT(read, int64_t{4} << 20);
    EXPECT_TRUE(m_reporter.m_events.empty());

    // The series: nothing written, nothing said.
    Open();
    CRecordingReporter reporter;
    CSplitEngine engine(reporter, counting, stop);
    engine.SetOptions({true});
    read = 0;
    EXPECT_EQ(engine.SplitByTime(m_source, 1, m_out), SplitStatus::Cancelled);
    EXPECT_TRUE(reporter.m_events.empty());
    EXPECT_TRUE(std::filesystem::is_empty(m_out));
}

TEST_F(CleanSplitTest, AFailedOrStoppedCleanPieceLeavesTheOldFileAndNoPartOfTheNew) {
    CVideoShape shape;
    Make(shape);
    Open();
    const Bytes old{'o', 'l', 'd'};
    WriteFile(m_out + "show_1.mpg", old);
    CFaultyFileSystem faulty;
    // The disk fills up in the second piece's prefix, then in its packs.
    for (const int64_t failAt : {int64_t{0}, int64_t{5000}}) {
        faulty.m_limitWrite = [&](const std::string& path, int64_t position, size_t count) {
            return path.ends_with("show_1.mpg") ? std::max<int64_t>(failAt - position, 0)
                                                : static_cast<int64_t>(count);
        };
        CRecordingReporter reporter;
        CSplitEngine engine(reporter, faulty);
        engine.SetOptions({true});
        EXPECT_EQ(engine.SplitBySize(m_source, 3, m_out), SplitStatus::Failed);
        EXPECT_THAT(reporter.m_events,
                    ElementsAre("Wait+", "Wait-",
                                failAt == 0 ? "App: Can not write the output mpeg file!(3)"
                                            : "App: Can not write the output mpeg file(4)!"));
        EXPECT_EQ(ReadFile(m_out + "show_1.mpg"), old);
        EXPECT_FALSE(PathExists(m_out + "show_2.mpg"));
    }

    // Asked for once the second piece has begun.
    struct CStopInSecond final : IStopRequest, IProgress {
        bool IsStopRequested() const override { return m_nBegun > 1; }
        void BeginOutput(const CProgressOutput&) override { ++m_nBegun; }
        void Advance(int64_t) override {}
        int m_nBegun = 0;
    } stop;
    CRecordingReporter reporter;
    CSplitEngine engine(reporter, PosixFileSystem(), stop, stop);
    engine.SetOptions({true});
    EXPECT_EQ(engine.SplitBySize(m_source, 3, m_out), SplitStatus::Cancelled);
    const std::vector<std::string> waitOnly{"Wait+", "Wait-"};
    EXPECT_EQ(reporter.m_events, waitOnly);
    EXPECT_EQ(engine.Outputs().size(), 1u);
    EXPECT_EQ(ReadFile(m_out + "show_1.mpg"), old);
}
