// The forward walk over the system layer: whole units with their bytes whatever the window,
// windows across a large file, noise, the file's end, and failed reads told from it.
#include "mpeg/unitwalker.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/io/faultyfilesystem.h"
#include "testsupport.h"

using namespace testing_support;

namespace {

// The smallest window the walker takes: a unit runs across nearly every window's end.
constexpr int64_t kSmallWindow = CUnitWalker::kLongestUnit + CUnitWalker::kHeaderSlack + 1;

// The file's bytes in [offset, offset + length), as far as it holds them.
Bytes Slice(const Bytes& bytes, int64_t offset, int64_t length) {
    const auto size = static_cast<int64_t>(bytes.size());
    const auto begin = bytes.begin() + std::min(offset, size);
    return Bytes(begin, bytes.begin() + std::min(offset + length, size));
}

Bytes Copy(std::span<const unsigned char> bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

// Large packets, so that units run across the small window's end, and a last packet that the
// file's end cuts.
Bytes LargePackets() {
    CPsBuilder builder;
    for (int i = 0; i < 12; ++i) {
        builder.Pack(1000 + i * 3000).SystemHeader().Packet(0xE0, 60000 - i * 997, 5000 + i * 3600);
        builder.Packet(0xBD, 3000 + i * 131, 5000 + i * 3600, {}, true, 0x81);
    }
    Bytes bytes = builder.Data();
    bytes.resize(bytes.size() - 1000);
    return bytes;
}

}  // namespace

TEST(UnitWalker, WalksAcrossWindowsAndFromTheMiddle) {
    CTempDir dir;
    CPsBuilder builder;
    CRecordingShape shape;
    shape.m_dSeconds = 12;
    shape.m_nPictureBytes = 30000;  // some 9 MiB: three windows
    AppendRecording(builder, shape);
    ASSERT_GT(builder.Size(), 2 * CPackScanner::kMaxWindowBytes);
    WriteFile(dir.File("a.mpg"), builder.Data());

    const CWalked all = WalkFile(dir.File("a.mpg"), 0, builder.Size() + 1000, false);
    ASSERT_TRUE(all.m_bRead);
    EXPECT_EQ(Offsets(all), builder.UnitOffsets());

    // From an offset inside a packet: the first pack after it, then everything up to `end`.
    const std::vector<int64_t>& units = builder.UnitOffsets();
    ASSERT_GT(units.size(), 1200u);
    const int64_t begin = units[400] + 7;
    const int64_t end = units[1200];
    const CWalked part = WalkFile(dir.File("a.mpg"), begin, end, true);
    ASSERT_FALSE(part.m_units.empty());
    EXPECT_EQ(part.m_units.front().m_kind, EPsUnit::Pack);
    EXPECT_GT(part.m_units.front().m_llOffset, begin);
    EXPECT_LT(part.m_units.back().m_llOffset, end);
    EXPECT_EQ(part.m_units.back().m_llOffset, units[1199]);
}

TEST(UnitWalker, NoiseIsPassedOverToTheNextPackOrEndsTheWalk) {
    CTempDir dir;
    CPsBuilder builder;
    builder.Pack(1000).Packet(0xE0, 100, 5000);
    const int64_t noise = builder.Size();
    // Noise with a false pack start code in it: 00 00 01 BA followed by no unit.
    Bytes garbage = MakeStream(3000, {1000});
    builder.Raw(garbage);
    const int64_t next = builder.Size();
    builder.Pack(2000).Packet(0xE0, 100, 9000);
    WriteFile(dir.File("a.mpg"), builder.Data());

    const CWalked resync = WalkFile(dir.File("a.mpg"), 0, builder.Size(), false);
    ASSERT_EQ(resync.m_units.size(), 4u);
    EXPECT_EQ(resync.m_units[2].m_llOffset, next);
    EXPECT_EQ(resync.m_units[3].m_pts, 9000);

    const CWalked stop =
        WalkFile(dir.File("a.mpg"), 0, builder.Size(), false, CUnitWalker::ENoise::Stop);
    ASSERT_EQ(stop.m_units.size(), 2u);
    EXPECT_LT(stop.m_units[1].m_llOffset, noise);
}

TEST(UnitWalker, ATruncatedLastPacketEndsTheWalk) {
    CTempDir dir;
    CPsBuilder builder;
    builder.Pack(1000).Packet(0xE0, 100, 5000).Pack(2000).Packet(0xE0, 5000, 9000);
    Bytes bytes = builder.Data();
    bytes.resize(bytes.size() - 4000);
    WriteFile(dir.File("a.mpg"), bytes);
    const CWalked walked = WalkFile(dir.File("a.mpg"), 0, 1 << 20, false);
    ASSERT_TRUE(walked.m_bRead);
    ASSERT_EQ(walked.m_units.size(), 4u);
    EXPECT_EQ(walked.m_units[3].m_pts, 9000);
    EXPECT_EQ(walked.m_units[3].m_llLength, 5000 + 9 + 5);
}

TEST(UnitWalker, HandsOutWholeUnitsWithTheirBytesWhateverTheWindow) {
    const char* samples = std::getenv("TARNWICK_SAMPLES");
    ASSERT_NE(samples, nullptr) << "CTest sets TARNWICK_SAMPLES";
    CTempDir dir;
    WriteFile(dir.File("large.mpg"), LargePackets());
    // Streams ffmpeg and other muxers wrote (one with a long first pack), and ours.
    for (const std::string& path :
         {std::string(samples) + "/wxpython-classic_testmovie.mpg",
          std::string(samples) + "/puremagic_test.mpg",
          std::string(samples) + "/exoplayer_sample_h262_mpeg_audio.mpg",
          std::string(samples) + "/neg_mimetype_mpeg.mpeg", dir.File("large.mpg")}) {
        const Bytes bytes = ReadFile(path);
        const auto size = static_cast<int64_t>(bytes.size());
        const CWalked reference = WalkFile(path, 0, size, false);
        ASSERT_TRUE(reference.m_bRead) << path;
        ASSERT_GT(reference.m_units.size(), 10u) << path;
        auto file = PosixFileSystem().OpenRead(path);
        CUnitWalker walker(*file, kSmallWindow, size);
        walker.Start(0, size, false);
        std::vector<int64_t> offsets;
        CPsUnit unit;
        while (walker.Next(unit)) {
            offsets.push_back(unit.m_llOffset);
            ASSERT_EQ(Copy(walker.Bytes(unit)), Slice(bytes, unit.m_llOffset, unit.m_llLength))
                << path << " at " << unit.m_llOffset;
            ASSERT_EQ(Copy(walker.Payload(unit)),
                      Slice(bytes, unit.m_llPayloadOffset, unit.m_llPayloadLength))
                << path << " at " << unit.m_llOffset;
        }
        EXPECT_FALSE(walker.Failed()) << path;
        EXPECT_EQ(offsets, Offsets(reference)) << path;
    }
}

TEST(UnitWalker, AFailedReadIsToldApartFromTheEnd) {
    CTempDir dir;
    const Bytes bytes = LargePackets();
    const auto size = static_cast<int64_t>(bytes.size());
    WriteFile(dir.File("a.mpg"), bytes);
    constexpr int64_t kFaultAt = 300000;
    struct CCase {
        const char* m_szWhat;
        bool m_bFailRead;
        bool m_bFailSeek;
        std::optional<int64_t> m_size;
        bool m_bFailed;
        bool m_bSeekFailed;
    };
    for (const CCase& c : {
             CCase{"the end of the file", false, false, std::nullopt, false, false},
             CCase{"the end of a file of known size", false, false, size, false, false},
             CCase{"a failed read", true, false, std::nullopt, true, false},
             CCase{"a refused seek", false, true, size, true, true},
             CCase{"a file shorter than its size", false, false, size + 100, true, false},
         }) {
        CFaultyFileSystem faulty;
        faulty.m_limitRead = [&c](const std::string&, int64_t position, size_t count) {
            return c.m_bFailRead && position > kFaultAt ? int64_t{-1} : static_cast<int64_t>(count);
        };
        faulty.m_failSeek = [&c](const std::string&, int64_t distance, SeekOrigin) {
            return c.m_bFailSeek && distance > kFaultAt;
        };
        auto file = faulty.OpenRead(dir.File("a.mpg"));
        CUnitWalker walker(*file, kSmallWindow, c.m_size);
        int64_t last = -1;
        const bool read = walker.Walk(0, size + 100, false, CUnitWalker::ENoise::Resync,
                                      [&last](const CPsUnit& unit) {
                                          last = unit.m_llOffset;
                                          return true;
                                      });
        EXPECT_EQ(read, !c.m_bFailed) << c.m_szWhat;
        EXPECT_EQ(walker.Failed(), c.m_bFailed) << c.m_szWhat;
        EXPECT_EQ(walker.SeekFailed(), c.m_bSeekFailed) << c.m_szWhat;
        // Up to a fault, the units before it; else every unit.
        if (c.m_bFailRead || c.m_bFailSeek) {
            EXPECT_GT(last, kFaultAt - kSmallWindow) << c.m_szWhat;
            EXPECT_LT(last, kFaultAt + kSmallWindow) << c.m_szWhat;
        } else {
            EXPECT_GT(last, size - 70000) << c.m_szWhat;
        }
    }
}

TEST(UnitWalker, TheUnitAfterNoiseComesWithAGap) {
    CTempDir dir;
    CPsBuilder builder;
    builder.Pack(1000).Packet(0xE0, 100, 5000);
    builder.Raw(MakeStream(3000, {1000}));
    builder.Pack(2000).Packet(0xE0, 100, 9000);
    WriteFile(dir.File("a.mpg"), builder.Data());
    auto file = PosixFileSystem().OpenRead(dir.File("a.mpg"));
    CUnitWalker walker(*file);
    walker.Start(0, builder.Size(), false);
    std::vector<bool> gaps;
    CPsUnit unit;
    while (walker.Next(unit)) {
        gaps.push_back(walker.Gap());
    }
    EXPECT_EQ(gaps, (std::vector<bool>{false, false, true, false}));
}
