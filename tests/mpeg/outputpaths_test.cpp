// Piece names, stems and file names.
#include "mpeg/outputpaths.h"

#include <gtest/gtest.h>

TEST(PieceNamePattern, WidthFollowsTheCountNotTheHighestIndex) {
    EXPECT_EQ(MakePieceNamePattern(1), "%s_%01d.mpg");
    EXPECT_EQ(MakePieceNamePattern(2), "%s_%01d.mpg");
    EXPECT_EQ(MakePieceNamePattern(9), "%s_%01d.mpg");
    EXPECT_EQ(MakePieceNamePattern(10), "%s_%02d.mpg");
    EXPECT_EQ(MakePieceNamePattern(12), "%s_%02d.mpg");
    EXPECT_EQ(MakePieceNamePattern(3600), "%s_%04d.mpg");
    EXPECT_EQ(MakePieceNamePattern(10000), "%s_%05d.mpg");
}

TEST(PiecePath, NamesForCommonCounts) {
    const std::string source = "/rec/show.mpg";
    EXPECT_EQ(MakePiecePath(source, 1, 0, "/out/"), "/out/show_0.mpg");
    EXPECT_EQ(MakePiecePath(source, 2, 1, "/out/"), "/out/show_1.mpg");
    EXPECT_EQ(MakePiecePath(source, 10, 0, "/out/"), "/out/show_00.mpg");
    EXPECT_EQ(MakePiecePath(source, 10, 9, "/out/"), "/out/show_09.mpg");
    EXPECT_EQ(MakePiecePath(source, 12, 11, "/out/"), "/out/show_11.mpg");
    EXPECT_EQ(MakePiecePath(source, 3600, 0, "/out/"), "/out/show_0000.mpg");
    EXPECT_EQ(MakePiecePath(source, 3600, 3599, "/out/"), "/out/show_3599.mpg");
}

TEST(PiecePath, StemIsCutAtTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(MakePiecePath("/rec/show.part1.mpg", 12, 0, "/o/"), "/o/show.part1_00.mpg");
    EXPECT_EQ(MakePiecePath("/rec/show.mpeg", 2, 0, "/o/"), "/o/show_0.mpg");
    EXPECT_EQ(MakePiecePath("/rec/show.vob", 2, 1, "/o/"), "/o/show_1.mpg");
    // A full stop in a folder name is no extension.
    EXPECT_EQ(MakePiecePath("/my.clips/movie", 2, 0, "/o/"), "/o/movie_0.mpg");
    EXPECT_EQ(PieceStem("/my.clips/movie"), "/my.clips/movie");
    // A backslash separates nothing: this file name's extension is ".clips\movie".
    EXPECT_EQ(PieceStem("C:\\my.clips\\movie"), "C:\\my");
    EXPECT_EQ(PieceStem("show.mpg"), "show");
}

TEST(PiecePath, ABackslashStaysInTheName) {
    EXPECT_EQ(MakePiecePath("/rec/a\\b.mpg", 2, 0, "/o/"), "/o/a\\b_0.mpg");
}

TEST(PiecePath, NamesOfASeriesAreRecognisedByFolderPrefixAndWidth) {
    const PieceNameParts parts = SplitPiecePaths("/rec/show.mpg", 12, "/out");
    EXPECT_EQ(parts.m_strFolder, "/");
    EXPECT_EQ(parts.m_strPrefix, "outshow_");
    EXPECT_EQ(parts.m_nWidth, 2);
    EXPECT_EQ(PieceIndexOfName("outshow_07.mpg", parts), 7);
    EXPECT_EQ(PieceIndexOfName("outshow_99.mpg", parts), 99);
    for (const char* other : {"outshow_7.mpg", "outshow_007.mpg", "outshow_0x.mpg", "show_07.mpg",
                              "outshow_07.mpeg", "outshow_-7.mpg", ""}) {
        EXPECT_EQ(PieceIndexOfName(other, parts), -1) << other;
    }
    const PieceNameParts bare = SplitPiecePaths("show", 1, "");
    EXPECT_EQ(bare.m_strFolder, "");
    EXPECT_EQ(PieceIndexOfName("show_0.mpg", bare), 0);
}

TEST(PiecePath, FolderTextIsJoinedWithoutASeparator) {
    EXPECT_EQ(MakePiecePath("/rec/show.mpg", 2, 0, "/out"), "/outshow_0.mpg");
    EXPECT_EQ(MakePiecePath("/rec/show.mpg", 2, 0, ""), "show_0.mpg");
}

TEST(ExtractFileName, OnlySlashSeparates) {
    EXPECT_EQ(ExtractFileName("C:/a/b.mpg"), "b.mpg");
    EXPECT_EQ(ExtractFileName("C:\\a\\b.mpg"), "C:\\a\\b.mpg");
    EXPECT_EQ(ExtractFileName("/rec/a\\b.mpg"), "a\\b.mpg");
    EXPECT_EQ(ExtractFileName("b.mpg"), "b.mpg");
    EXPECT_EQ(ExtractFileName("C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(ExtractFileName("/a/"), "");
    EXPECT_EQ(ExtractFileName(""), "");
}
