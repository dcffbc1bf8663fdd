// Pack headers written: a clock set into a copied header parses back with every other field
// kept, and a header made from a parsed one parses back to it.
#include "mpeg/packheaderwriter.h"

#include <gtest/gtest.h>

#include "testsupport.h"

using namespace testing_support;

TEST(PackHeaderWriter, AWrittenClockParsesBackAndKeepsTheRestOfTheHeader) {
    struct CCase {
        const char* m_szWhat;
        bool m_bMpeg2;
        int64_t m_llClock27;
        int64_t m_llScr;
        uint32_t m_nExtension;
    };
    for (const CCase& c : {
             CCase{"every bit set", true, (kClockWrap - 1) * 300 + 299, kClockWrap - 1, 299},
             CCase{"before zero, round the wrap", true, -1, kClockWrap - 1, 299},
             CCase{"past the wrap", true, kClockWrap * 300 + 301, 1, 1},
             CCase{"MPEG-1, every bit set", false, (kClockWrap - 1) * 300, kClockWrap - 1, 0},
             CCase{"MPEG-1 keeps the 90 kHz part", false, 12345 * 300 + 299, 12345, 0},
             CCase{"MPEG-1 before zero", false, -300, kClockWrap - 1, 0},
         }) {
        CPsBuilder builder;
        builder.Pack(0x123456789, c.m_bMpeg2, 0x2ABCDE & 0x3FFFFF, c.m_bMpeg2 ? 5 : 0);
        Bytes bytes = builder.Data();
        CPackHeader before;
        ASSERT_TRUE(ParsePackHeader(bytes.data(), bytes.size(), before)) << c.m_szWhat;
        WritePackClock(bytes.data(), c.m_bMpeg2, c.m_llClock27);
        CPackHeader after;
        ASSERT_TRUE(ParsePackHeader(bytes.data(), bytes.size(), after)) << c.m_szWhat;
        EXPECT_EQ(after.m_llScr, c.m_llScr) << c.m_szWhat;
        EXPECT_EQ(after.m_nScrExtension, c.m_nExtension) << c.m_szWhat;
        EXPECT_EQ(after.m_nMuxRate, before.m_nMuxRate) << c.m_szWhat;
        EXPECT_EQ(after.m_nLength, before.m_nLength) << c.m_szWhat;
        EXPECT_EQ(Clock27(after), c.m_llScr * 300 + c.m_nExtension) << c.m_szWhat;
        // The stuffing, and whatever follows the clock's bytes, as they were.
        EXPECT_TRUE(std::equal(bytes.begin() + 10, bytes.end(), builder.Data().begin() + 10))
            << c.m_szWhat;
    }
}

TEST(PackHeaderWriter, AMadeHeaderParsesBackToTheOneItWasMadeFrom) {
    for (const bool mpeg2 : {true, false}) {
        CPackHeader pack;
        pack.m_bMpeg2 = mpeg2;
        pack.m_nLength = mpeg2 ? 14 : 12;
        pack.m_llScr = kClockWrap - 12345;
        pack.m_nScrExtension = mpeg2 ? 211 : 0;
        pack.m_nMuxRate = 0x3FFFFF - 17;
        const Bytes bytes = MakePackHeader(pack);
        CPackHeader parsed;
        ASSERT_TRUE(ParsePackHeader(bytes.data(), bytes.size(), parsed)) << mpeg2;
        EXPECT_EQ(bytes.size(), pack.m_nLength) << mpeg2;
        EXPECT_EQ(parsed.m_bMpeg2, mpeg2);
        EXPECT_EQ(parsed.m_nLength, pack.m_nLength) << mpeg2;
        EXPECT_EQ(parsed.m_llScr, pack.m_llScr) << mpeg2;
        EXPECT_EQ(parsed.m_nScrExtension, pack.m_nScrExtension) << mpeg2;
        EXPECT_EQ(parsed.m_nMuxRate, pack.m_nMuxRate) << mpeg2;
    }
}
