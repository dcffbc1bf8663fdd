// The preview's placement arithmetic, in the integer and single-precision steps the window has
// always used, so a given screen gives the same pixels.
#include "preview/previewplacement.h"

#include <cstdint>

namespace {

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
    const int h = ownerRect.top() - workArea.top() - 5;
    const int left = workArea.left() + 100;
    const int top = workArea.top() + 5;
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
