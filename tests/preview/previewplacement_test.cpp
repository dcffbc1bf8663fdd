// The preview's placement arithmetic: the first window rectangle and the video on a full
// screen, for the screens and videos that tell the rules apart.
#include <gtest/gtest.h>

#include "preview/previewplacement.h"

namespace {

struct CFullScreenCase {
    const char* name;
    int cx, cy, w, h;
    QRect expected;
};

class FullScreenVideoRectTest : public ::testing::TestWithParam<CFullScreenCase> {};

TEST_P(FullScreenVideoRectTest, PlacesVideo) {
    const CFullScreenCase& c = GetParam();
    EXPECT_EQ(FullScreenVideoRect(c.cx, c.cy, c.w, c.h), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullScreenVideoRectTest,
    ::testing::Values(
        // Small enough in both directions: exactly ten times, centred, not stretched.
        CFullScreenCase{"TenTimesCentred", 1024, 768, 64, 48, QRect(192, 144, 640, 480)},
        CFullScreenCase{"TenTimesAtTheEdge", 1024, 768, 102, 76, QRect(2, 4, 1020, 760)},
        // A 352 by 288 video on 1024 by 768 fills the height: 938 wide at left 43.
        CFullScreenCase{"CifFillsHeight", 1024, 768, 352, 288, QRect(43, 0, 938, 768)},
        // Too wide only: full width, height from the aspect ratio.
        CFullScreenCase{"WideOnly", 1024, 768, 200, 20, QRect(0, 333, 1024, 102)},
        // Too tall only: full height, width from the aspect ratio.
        CFullScreenCase{"TallOnly", 1024, 768, 20, 200, QRect(474, 0, 76, 768)},
        // Too large both ways: the tighter direction decides.
        CFullScreenCase{"WideScreenVideo", 1024, 768, 1920, 800, QRect(0, 171, 1024, 426)},
        CFullScreenCase{"PalOnWideScreen", 1280, 720, 720, 576, QRect(190, 0, 900, 720)},
        // A tie takes the full height.
        CFullScreenCase{"TieTakesHeight", 500, 500, 100, 100, QRect(0, 0, 500, 500)},
        // Without a size the video fills the screen rather than dividing by zero.
        CFullScreenCase{"NoSize", 800, 600, 0, 0, QRect(0, 0, 800, 600)}),
    [](const ::testing::TestParamInfo<CFullScreenCase>& info) { return info.param.name; });

TEST(PreviewWindowRect, FillsStripAboveOwner) {
    // Strip height 495: 100 in from the left, 5 below the top, 4/3 of the height wide less 100.
    EXPECT_EQ(PreviewWindowRect(QRect(0, 0, 1280, 1024), QRect(300, 500, 420, 380)),
              QRect(100, 5, 560, 495));
}

TEST(PreviewWindowRect, FollowsWorkAreaOffset) {
    // A panel above the work area; the right edge counts from the work area's left, so the
    // window is 4/3 of 565 less 100 wide.
    EXPECT_EQ(PreviewWindowRect(QRect(50, 30, 1230, 994), QRect(400, 600, 420, 380)),
              QRect(150, 35, 653, 565));
}

TEST(PreviewWindowRect, TruncatesWidthTowardZero) {
    // h = 100: 4 * 100 / 3 = 133.
    EXPECT_EQ(PreviewWindowRect(QRect(0, 0, 800, 600), QRect(0, 105, 100, 100)).width(), 33);
}

}  // namespace
