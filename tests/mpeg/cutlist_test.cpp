// Cut lists as users write them, their refusals, and the clock shift of packs and packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mpeg/clockshifter.h"
#include "mpeg/cutlist.h"
#include "mpeg/packscanner.h"

namespace {

TEST(CutListTest, TimesAsListsWriteThem) {
    const struct {
        const char* text;
        std::optional<int64_t> ms;
    } rows[] = {
        {"83.25", 83'250},
        {"83.2506", 83'251},  // rounded to the millisecond
        {"0", 0},
        {"1:02:03.5", 3'723'500},
        {"2:03.5", 123'500},
        {" 7 ", 7'000},
        {"1:2:3:4", std::nullopt},
        {"-3", std::nullopt},
        {"3.", std::nullopt},
        {"1e3", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseListTime(row.text), row.ms) << row.text;
    }
    EXPECT_EQ(FormatListTime(3'723'500), "1:02:03.500");
}

// The segments a list keeps of a 30 s recording, or the refusal, in the words of each form.
TEST(CutListTest, FormsAndRefusals) {
    enum class Form { Segments, Csv, Edl };
    const struct {
        Form form;
        const char* text;
        std::vector<std::pair<int64_t, int64_t>> kept;
        const char* refusal;  // a part of it
    } rows[] = {
        {Form::Segments, "0:00:01-0:00:02.5, 10-20", {{1000, 2500}, {10000, 20000}}, nullptr},
        {Form::Segments, "1-2,x-3", {}, "Segment 2 ('x-3')"},
        {Form::Segments, "10-20,5-8", {}, "Segment 2 (0:00:05.000-0:00:08.000) starts before"},
        {Form::Segments, "1-5,4-8", {}, "Segment 2 (0:00:04.000-0:00:08.000) starts before"},
        {Form::Segments, "25-31", {}, "Segment 1 (0:00:25.000-0:00:31.000) ends past the end"},
        {Form::Segments, "5-5", {}, "Segment 1 (0:00:05.000-0:00:05.000) does not end after"},
        {Form::Csv,
         "# made by hand\n1.5,4,intro\r\n\n20,,rest\n",
         {{1500, 4000}, {20000, 30000}},
         nullptr},
        {Form::Csv, "1,2\n3;4\n", {}, "Line 2 of the cut list does not parse"},
        {Form::Csv, "1,2\n3,4\nfoo,5\n", {}, "Line 3 of the cut list does not parse"},
        {Form::Edl,
         "5 10 0\n12.5\t15 1\n20 25 0\n",
         {{0, 5000}, {10000, 20000}, {25000, 30000}},
         nullptr},
        {Form::Edl, "0 5 0\n25 40 0\n", {{5000, 25000}}, nullptr},
        {Form::Edl, "0 5 0\n7 x 0\n", {}, "Line 2 of the cut list does not parse"},
        {Form::Edl, "0 30 0\n", {}, "drops the whole recording"},
        {Form::Edl, "1 2 1\n", {}, "drops nothing"},
    };
    for (const auto& row : rows) {
        CCutList list;
        std::optional<CSpanRefusal> refusal = row.form == Form::Segments
                                                  ? list.ParseSegments(row.text)
                                              : row.form == Form::Csv ? list.ParseCsv(row.text)
                                                                      : list.ParseEdl(row.text);
        if (!refusal) {
            refusal = list.Fit(30'000);
        }
        if (row.refusal != nullptr) {
            ASSERT_TRUE(refusal) << row.text;
            EXPECT_NE(refusal->m_strText.find(row.refusal), std::string::npos)
                << row.text << ": " << refusal->m_strText;
            continue;
        }
        ASSERT_FALSE(refusal) << row.text << ": " << refusal->m_strText;
        std::vector<std::pair<int64_t, int64_t>> kept;
        for (const CCutSegment& segment : list.Segments()) {
            kept.emplace_back(segment.m_llStartMs, segment.m_llEndMs);
        }
        EXPECT_EQ(kept, row.kept) << row.text;
    }
}

TEST(CutListTest, CsvRoundTripAndFileKind) {
    CCutList list;
    ASSERT_FALSE(list.ParseFile("cuts.csv", "1.5,4,intro\n20,,rest\n"));
    EXPECT_EQ(list.ToCsv(), "1.500,4.000,intro\n20.000,,rest\n");
    CCutList again;
    ASSERT_FALSE(again.ParseCsv(list.ToCsv()));
    EXPECT_EQ(again.ToCsv(), list.ToCsv());
    ASSERT_FALSE(list.ParseFile("show.EDL", "1 2 0\n"));
    ASSERT_FALSE(list.Fit(10'000));
    EXPECT_EQ(list.Segments().size(), 2u);
}

// An MPEG-2 pack, an MPEG-2 packet with PTS and DTS, an MPEG-1 pack and an MPEG-1 packet with
// stuffing, buffer size and PTS, padding: only the clocks move, in any split of the bytes.
TEST(ClockShifterTest, MovesEveryClockInAnySplit) {
    std::vector<unsigned char> stream;
    auto stamp = [](unsigned char prefix, int64_t value) {
        std::vector<unsigned char> b(5);
        b[0] = static_cast<unsigned char>(prefix << 4 | 1);
        b[2] = 1;
        b[4] = 1;
        WriteStamp(b.data(), value);
        return b;
    };
    auto append = [&stream](const std::vector<unsigned char>& bytes) {
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    };
    // MPEG-2 pack header, SCR 0x1'2345'6789 with extension 5, one byte of stuffing.
    const int64_t scr2 = 0x123456789;
    append({0, 0, 1, 0xBA,
            static_cast<unsigned char>(0x44 | ((scr2 >> 30) & 7) << 3 | ((scr2 >> 28) & 3)),
            static_cast<unsigned char>(scr2 >> 20),
            static_cast<unsigned char>(0x04 | ((scr2 >> 15) & 0x1F) << 3 | ((scr2 >> 13) & 3)),
            static_cast<unsigned char>(scr2 >> 5),
            static_cast<unsigned char>(0x04 | (scr2 & 0x1F) << 3 | 0), 0x0B, 0x01, 0x89, 0xC3, 0xF9,
            0xFF});
    // MPEG-2 video packet with PTS 1000 and DTS 900, 2 payload bytes.
    append({0, 0, 1, 0xE0, 0, 15, 0x81, 0xC0, 10});
    append(stamp(3, 1000));
    append(stamp(1, 900));
    append({0xAB, 0xCD});
    // MPEG-1 pack with SCR 5000, then an MPEG-1 audio packet: stuffing, buffer size, PTS 7000.
    append({0, 0, 1, 0xBA});
    append(stamp(2, 5000));
    append({0x80, 0x00, 0x01});
    append({0, 0, 1, 0xC0, 0, 9, 0xFF, 0x40, 0x20});
    append(stamp(2, 7000));
    append({0x12});
    // Padding whose bytes look like a time stamp: they stay.
    append({0, 0, 1, 0xBE, 0, 5, 0x21, 0, 1, 0, 1});

    const int64_t shift = -2000;
    for (size_t split = 1; split < stream.size(); split += 3) {
        CClockShifter shifter(shift);
        std::vector<unsigned char> out;
        shifter.Feed({stream.data(), split}, out);
        shifter.Feed({stream.data() + split, stream.size() - split}, out);
        shifter.Finish(out);
        ASSERT_EQ(out.size(), stream.size()) << split;
        EXPECT_EQ(PackHeaderScr(out), scr2 - 2000) << split;
        EXPECT_EQ(out[8] & 0x07, stream[8] & 0x07) << "the SCR extension stays";
        EXPECT_EQ(out[9], stream[9]);
        EXPECT_EQ(ReadStamp(out.data() + 15 + 9), kClockWrap - 1000) << "wraps";
        EXPECT_EQ(ReadStamp(out.data() + 15 + 14), kClockWrap - 1100);
        EXPECT_EQ(PackHeaderScr({out.data() + 36, out.size() - 36}), 3000);
        EXPECT_EQ(ReadStamp(out.data() + 48 + 9), 5000);
        EXPECT_EQ(out[48 + 9] >> 4, 2) << "the stamp's prefix stays";
        EXPECT_TRUE(std::equal(out.end() - 11, out.end(), stream.end() - 11));
        EXPECT_EQ(out[15 + 19], 0xAB);
    }
    EXPECT_EQ(ClockDifference(10, kClockWrap - 10), 20);
}

}  // namespace
