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

// Decorations as a window manager draws them: a caption and thin borders.
const QMargins kFrame(1, 24, 1, 1);
// The main window's outer rectangle, centred on a 1280 by 1024 screen.
const QRect kCentredOwner(431, 326, 417, 371);
const QRect kSxga(0, 0, 1280, 1024);

// The preview's outer rectangle as the layout places it.
QRect PreviewFrame(const CPreviewLayout& layout) {
    return QRect(layout.ptPreview, layout.sizeVideo.grownBy(kFrame));
}

QRect OwnerFrame(const CPreviewLayout& layout, const QRect& rcOwner) {
    return QRect(layout.ptOwner, rcOwner.size());
}

TEST(PreviewBesideOwner, DvdVideoMovesMainWindowDownBelowIt) {
    // A 720x576 recording would cover the centred main window: it moves down instead.
    const CPreviewLayout layout =
        PreviewBesideOwner(kSxga, kCentredOwner, kFrame, QSize(720, 576), true);
    EXPECT_EQ(layout.sizeVideo, QSize(720, 576));
    EXPECT_EQ(layout.ptPreview, QPoint(100, 5));
    EXPECT_EQ(layout.ptOwner, QPoint(431, 5 + 24 + 576 + 1));
    EXPECT_FALSE(PreviewFrame(layout).intersects(OwnerFrame(layout, kCentredOwner)));
    EXPECT_TRUE(kSxga.contains(OwnerFrame(layout, kCentredOwner)));
}

TEST(PreviewBesideOwner, VideoThatFitsTheStripMovesNothing) {
    const CPreviewLayout layout =
        PreviewBesideOwner(kSxga, kCentredOwner, kFrame, QSize(352, 288), true);
    EXPECT_EQ(layout.ptOwner, kCentredOwner.topLeft());
    EXPECT_EQ(layout.ptPreview, QPoint(100, 5));
    EXPECT_EQ(layout.sizeVideo, QSize(352, 288));
}

TEST(PreviewBesideOwner, MainWindowNeverMovesUp) {
    const QRect rcLow(431, 700, 417, 371);  // partly below the work area already
    const CPreviewLayout layout = PreviewBesideOwner(kSxga, rcLow, kFrame, QSize(720, 576), true);
    EXPECT_EQ(layout.ptOwner, rcLow.topLeft());
    EXPECT_EQ(layout.sizeVideo, QSize(720, 576));
}

TEST(PreviewBesideOwner, LowScreenScalesVideoIntoStripKeepingAspect) {
    // A laptop with a panel on top: the main window goes to the bottom, and the strip above it
    // holds 335 lines; 720x576 becomes 418x335.
    const QRect workArea(0, 32, 1366, 736);
    const QRect rcOwner(474, 230, 417, 371);
    const CPreviewLayout layout =
        PreviewBesideOwner(workArea, rcOwner, kFrame, QSize(720, 576), true);
    EXPECT_EQ(layout.ptOwner, QPoint(474, 32 + 736 - 371));
    EXPECT_EQ(layout.ptPreview, QPoint(100, 37));
    EXPECT_EQ(layout.sizeVideo, QSize(418, 335));
    EXPECT_FALSE(PreviewFrame(layout).intersects(OwnerFrame(layout, rcOwner)));
}

TEST(PreviewBesideOwner, WideVideoFitsWorkAreaWidth) {
    // Wider than the screen: scaled to its width and moved left from the usual 100.
    const CPreviewLayout layout =
        PreviewBesideOwner(kSxga, kCentredOwner, kFrame, QSize(2560, 400), true);
    EXPECT_EQ(layout.sizeVideo, QSize(1278, 199));
    EXPECT_EQ(layout.ptPreview, QPoint(0, 5));
    EXPECT_EQ(layout.ptOwner, kCentredOwner.topLeft());
    // Only a little too wide: moved left, not scaled.
    const CPreviewLayout nearly =
        PreviewBesideOwner(kSxga, kCentredOwner, kFrame, QSize(1200, 240), true);
    EXPECT_EQ(nearly.sizeVideo, QSize(1200, 240));
    EXPECT_EQ(nearly.ptPreview, QPoint(1280 - 1202, 5));
}

TEST(PreviewBesideOwner, WithoutSelfPlacementOnlyScales) {
    // Nothing can be moved; the video shrinks so that both windows fit the work area together.
    const QRect workArea(0, 32, 1366, 736);
    const QRect rcOwner(474, 230, 417, 371);
    const CPreviewLayout layout =
        PreviewBesideOwner(workArea, rcOwner, kFrame, QSize(720, 576), false);
    EXPECT_EQ(layout.ptOwner, rcOwner.topLeft());
    EXPECT_EQ(layout.sizeVideo, QSize(418, 335));
    // Where there is room, the native size.
    EXPECT_EQ(PreviewBesideOwner(kSxga, kCentredOwner, kFrame, QSize(720, 576), false).sizeVideo,
              QSize(720, 576));
}

TEST(PreviewBesideOwner, NoRoomKeepsAUsableSize) {
    // A main window nearly as tall as the work area leaves no strip: the video stays watchable
    // and the windows overlap, as the screen gives no other choice.
    const QRect workArea(0, 0, 800, 600);
    const QRect rcOwner(100, 20, 560, 560);
    const CPreviewLayout layout =
        PreviewBesideOwner(workArea, rcOwner, kFrame, QSize(720, 576), true);
    EXPECT_EQ(layout.ptOwner, QPoint(100, 40));
    EXPECT_EQ(layout.sizeVideo, QSize(150, 120));
    // A video smaller than that keeps its own size.
    EXPECT_EQ(PreviewBesideOwner(workArea, rcOwner, kFrame, QSize(160, 100), true).sizeVideo,
              QSize(160, 100));
    // A video without a size moves nothing.
    const CPreviewLayout none = PreviewBesideOwner(workArea, rcOwner, kFrame, QSize(), true);
    EXPECT_EQ(none.ptOwner, rcOwner.topLeft());
}

}  // namespace
