// The preview's placement arithmetic, in the integer and single-precision steps the window has
// always used, so a given screen gives the same pixels.
#include "preview/previewplacement.h"

#include <algorithm>
#include <cstdint>

namespace {

// The preview's first place: 5 below the work area's top, 100 in from its left.
constexpr int kPreviewTop = 5;
constexpr int kPreviewLeft = 100;
// Below this height a scaled video would show too little; the windows overlap instead.
constexpr int kMinimumVideoHeight = 120;

// The video shrunk to fit the room, its aspect ratio kept; never enlarged.
QSize FitVideo(const QSize& video, int nRoomWidth, int nRoomHeight) {
    if (video.isEmpty() || (video.width() <= nRoomWidth && video.height() <= nRoomHeight)) {
        return video;
    }
    const std::int64_t w = video.width();
    const std::int64_t h = video.height();
    nRoomWidth = std::max(nRoomWidth, 1);
    nRoomHeight = std::max(nRoomHeight, 1);
    // The tighter direction decides.
    if (w * nRoomHeight <= h * nRoomWidth) {
        return QSize(std::max<int>(static_cast<int>(w * nRoomHeight / h), 1), nRoomHeight);
    }
    return QSize(nRoomWidth, std::max<int>(static_cast<int>(h * nRoomWidth / w), 1));
}

// Full width: the height follows from the aspect ratio, centred vertically.
QRect FullWidth(int cx, int cy, float aspect) {
    const int t = static_cast<int>(static_cast<float>(cx) / aspect);
    const int top = (cy - t) / 2;
    return QRect(0, top, cx, cy - 2 * top);
}

// Full height: the width follows from the aspect ratio, centred horizontally.
QRect FullHeight(int cx, int cy, float aspect) {
    const int t = static_cast<int>(static_cast<float>(cy) * aspect);
    const int left = (cx - t) / 2;
    return QRect(left, 0, cx - 2 * left, cy);
}

}  // namespace

QRect PreviewWindowRect(const QRect& workArea, const QRect& ownerRect) {
    const int h = ownerRect.top() - workArea.top() - kPreviewTop;
    const int left = workArea.left() + kPreviewLeft;
    const int top = workArea.top() + kPreviewTop;
    const int right = workArea.left() + 4 * h / 3;
    const int bottom = ownerRect.top();
    return QRect(left, top, right - left, bottom - top);
}

QRect FullScreenVideoRect(int cx, int cy, int w, int h) {
    if (w <= 0 || h <= 0) {
        return QRect(0, 0, cx, cy);
    }
    const std::int64_t W = std::int64_t{10} * w;
    const std::int64_t H = std::int64_t{10} * h;
    const float aspect = static_cast<float>(W) / static_cast<float>(H);
    const bool wide = W > cx;
    const bool tall = H > cy;
    if (!wide && !tall) {
        const int width = static_cast<int>(W);
        const int height = static_cast<int>(H);
        return QRect((cx - width) / 2, (cy - height) / 2, width, height);
    }
    if (wide && !tall) {
        return FullWidth(cx, cy, aspect);
    }
    if (!wide && tall) {
        return FullHeight(cx, cy, aspect);
    }
    // Both too large: the tighter direction decides; a tie takes the full height.
    const float fx = static_cast<float>(cx) / static_cast<float>(W);
    const float fy = static_cast<float>(cy) / static_cast<float>(H);
    return fx < fy ? FullWidth(cx, cy, aspect) : FullHeight(cx, cy, aspect);
}

CPreviewLayout PreviewBesideOwner(const QRect& workArea, const QRect& rcOwner,
                                  const QMargins& frame, const QSize& video, bool bSelfPlacing) {
    const int nStripTop = workArea.top() + kPreviewTop;
    if (video.isEmpty()) {
        return {rcOwner.topLeft(), QPoint(workArea.left() + kPreviewLeft, nStripTop), video};
    }
    const int nFrameWidth = frame.left() + frame.right();
    const int nFrameHeight = frame.top() + frame.bottom();
    const int nRoomWidth = workArea.width() - nFrameWidth;
    // The main window's top edge that leaves the strip room for the video (as wide as the work
    // area allows), and the lowest one that keeps the main window inside the work area.
    const QSize widest = FitVideo(video, nRoomWidth, video.height());
    const int nWantedTop = nStripTop + nFrameHeight + widest.height();
    const int nLowestTop = workArea.top() + workArea.height() - rcOwner.height();

    int nOwnerTop = rcOwner.top();
    int nStripBottom = nOwnerTop;
    if (!bSelfPlacing) {
        nStripBottom = std::max(nOwnerTop, nLowestTop);
    } else if (nOwnerTop < nWantedTop) {
        // Down, and only as far as need be; never up.
        nOwnerTop = std::max(nOwnerTop, std::min(nWantedTop, nLowestTop));
        nStripBottom = nOwnerTop;
    }

    QSize size = FitVideo(video, nRoomWidth, nStripBottom - nStripTop - nFrameHeight);
    const int nMinimumHeight = std::min(widest.height(), kMinimumVideoHeight);
    if (size.height() < nMinimumHeight) {
        size = FitVideo(video, nRoomWidth, nMinimumHeight);
    }

    // 100 in from the left as before, unless that would push a wide video off the right edge.
    const int nRightmost = workArea.left() + workArea.width() - size.width() - nFrameWidth;
    const int nLeft =
        std::max(workArea.left(), std::min(workArea.left() + kPreviewLeft, nRightmost));
    return {QPoint(rcOwner.left(), nOwnerTop), QPoint(nLeft, nStripTop), size};
}
