// The system layer read unit by unit: pack headers of both versions, time stamps of both
// packet syntaxes, start codes in a window.
#include "mpeg/packscanner.h"

#include <gtest/gtest.h>

#include <vector>

#include "testsupport.h"

using namespace testing_support;

TEST(PackHeader, BothVersionsGiveClockMuxRateAndLength) {
    constexpr int64_t kScr = (int64_t{1} << 32) + 123456789;  // all 33 bits in use
    CPackHeader header;
    CPsBuilder mpeg2;
    mpeg2.Pack(kScr, true, 0x2ABCDE & 0x3FFFFF, 5);
    ASSERT_TRUE(ParsePackHeader(mpeg2.Data().data(), mpeg2.Data().size(), header));
    EXPECT_TRUE(header.m_bMpeg2);
    EXPECT_EQ(header.m_llScr, kScr);
    EXPECT_EQ(header.m_nMuxRate, 0x2ABCDEu & 0x3FFFFF);
    EXPECT_EQ(header.m_nLength, 19u);
    // Its stuffing must be there to be read.
    EXPECT_FALSE(ParsePackHeader(mpeg2.Data().data(), 18, header));

    CPsBuilder mpeg1;
    mpeg1.Pack(kScr, false, 2352);
    ASSERT_TRUE(ParsePackHeader(mpeg1.Data().data(), mpeg1.Data().size(), header));
    EXPECT_FALSE(header.m_bMpeg2);
    EXPECT_EQ(header.m_llScr, kScr);
    EXPECT_EQ(header.m_nMuxRate, 2352u);
    EXPECT_EQ(header.m_nLength, 12u);
}

TEST(PackHeader, WrongMarkersOrPrefixAreNoPack) {
    CPsBuilder builder;
    builder.Pack(90000);
    for (const auto& [index, mask] : std::vector<std::pair<size_t, unsigned char>>{
             {4, 0x04}, {6, 0x04}, {8, 0x04}, {9, 0x01}}) {
        Bytes bytes = builder.Data();
        bytes[index] &= static_cast<unsigned char>(~mask);
        CPackHeader header;
        EXPECT_FALSE(ParsePackHeader(bytes.data(), bytes.size(), header)) << index;
    }
    // The filler of the synthetic streams after 00 00 01 BA: neither version.
    const Bytes filler = MakeStream(64, {0});
    CPackHeader header;
    EXPECT_FALSE(ParsePackHeader(filler.data(), filler.size(), header));
}

TEST(ClockDifference, TakesTheShortWayRoundTheWrap) {
    EXPECT_EQ(ClockDifference(100, 40), 60);
    EXPECT_EQ(ClockDifference(40, 100), -60);
    EXPECT_EQ(ClockDifference(5, kClockWrap - 5), 10);
    EXPECT_EQ(ClockDifference(kClockWrap - 5, 5), -10);
}

TEST(PackScanner, UnitsWithTheirTimeStampsInBothPacketSyntaxes) {
    CTempDir dir;
    CPsBuilder builder;
    builder.Pack(1000, false)
        .SystemHeader()
        .Packet(0xE0, 100, 5000, 4000, false)
        .Packet(0xC0, 100, 6000, {}, false)
        .Packet(0xE0, 100, {}, {}, false)
        .Pack(2000)
        .StreamMap()
        .Packet(0xE0, 100, 7000, 6500)
        .Packet(0xBD, 50, 8000, {}, true, 0x81)
        .Packet(0xBE, 30)
        .Packet(0xBF, 30)
        // A camera's audio packet with no PES header: what follows its length is G.711 that
        // MPEG-1 syntax would read as a time stamp.
        .Raw({0x00, 0x00, 0x01, 0xC0, 0x00, 0x0A, 0x37, 0x4F, 0xFD, 0x4C, 0x85, 0xD5, 0xD5, 0xD5,
              0xD5, 0xD5})
        .Packet(0xC0, 20, 9000)
        .EndCode();
    // The last packet's time stamp without its last marker bit: no time stamp.
    Bytes bytes = builder.Data();
    bytes[static_cast<size_t>(builder.UnitOffsets()[11]) + 9 + 4] &= 0xFE;
    std::vector<int64_t> offsets = builder.UnitOffsets();
    offsets.insert(offsets.begin() + 11, offsets[11] - 16);  // the raw packet's
    WriteFile(dir.File("a.mpg"), bytes);
    const CWalked walked = WalkFile(dir.File("a.mpg"), 0, builder.Size(), false);
    ASSERT_TRUE(walked.m_bRead);
    ASSERT_EQ(Offsets(walked), offsets);
    const std::vector<CPsUnit>& u = walked.m_units;
    EXPECT_EQ(u[0].m_kind, EPsUnit::Pack);
    EXPECT_EQ(u[0].m_pack.m_llScr, 1000);
    EXPECT_EQ(u[1].m_kind, EPsUnit::SystemHeader);
    EXPECT_EQ(u[2].m_pts, 5000);
    EXPECT_EQ(u[2].m_dts, 4000);
    // MPEG-1: two bytes of stuffing, two of STD buffer size, ten of time stamps.
    EXPECT_EQ(u[2].m_llPayloadOffset, u[2].m_llOffset + 6 + 14);
    EXPECT_EQ(u[2].m_llPayloadLength, 100);
    EXPECT_EQ(u[3].m_pts, 6000);
    EXPECT_FALSE(u[3].m_dts);
    EXPECT_FALSE(u[4].m_pts);
    EXPECT_EQ(u[4].m_llPayloadLength, 100);
    EXPECT_EQ(u[6].m_kind, EPsUnit::StreamMap);
    EXPECT_EQ(u[7].m_pts, 7000);
    EXPECT_EQ(u[7].m_dts, 6500);
    EXPECT_EQ(u[7].m_llPayloadOffset, u[7].m_llOffset + 9 + 10);
    EXPECT_EQ(u[8].m_nStreamId, 0xBD);
    EXPECT_EQ(u[8].m_nSubStreamId, 0x81);
    EXPECT_EQ(u[9].m_nStreamId, kPaddingId);
    EXPECT_EQ(u[9].m_llPayloadLength, 30);
    EXPECT_EQ(u[10].m_llPayloadOffset, u[10].m_llOffset + 6);
    EXPECT_FALSE(u[11].m_pts);
    EXPECT_EQ(u[11].m_llPayloadOffset, u[11].m_llOffset + 6);
    EXPECT_EQ(u[11].m_llPayloadLength, 10);
    EXPECT_FALSE(u[12].m_pts);
    EXPECT_EQ(u[12].m_llPayloadLength, 20);
    EXPECT_EQ(u[13].m_kind, EPsUnit::EndCode);
}

TEST(PackScanner, FindsStartCodesInTheWindow) {
    CTempDir dir;
    CPsBuilder builder;
    builder.Pack(1000).SystemHeader().Packet(0xE0, 100, 5000).Pack(2000);
    WriteFile(dir.File("a.mpg"), builder.Data());
    auto file = PosixFileSystem().OpenRead(dir.File("a.mpg"));
    CPackScanner scanner(*file);
    ASSERT_TRUE(scanner.ReadWindow(0, 1 << 20));
    EXPECT_EQ(scanner.WindowEnd(), builder.Size());
    EXPECT_EQ(scanner.FindStartCode(0, kPackId), 0);
    EXPECT_EQ(scanner.FindStartCode(1, kPackId), builder.UnitOffsets()[3]);
    EXPECT_EQ(scanner.FindStartCode(0, 0xE0), builder.UnitOffsets()[2]);
    EXPECT_FALSE(scanner.FindStartCode(0, 0xC0));
}
