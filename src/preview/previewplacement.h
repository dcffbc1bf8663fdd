// Where the preview window and its video go: pure arithmetic on rectangles, so it can be
// checked for any screen without one.
#pragma once

#include <QRect>

// The preview window's first place: the strip of the work area above the owner (main) window,
// 100 pixels in from the work area's left edge and 5 below its top, ending at the owner's top
// edge, with a width of 4/3 of the strip's height less 100. Degenerate when the owner sits at
// the top of the work area; a video file resizes the window at once.
QRect PreviewWindowRect(const QRect& workArea, const QRect& ownerRect);

// The video's rectangle on a full-screen window of cx by cy pixels for a native size of w by h:
// enlarged by the smallest of 10, cx / w and cy / h, keeping its aspect ratio, centred. Never
// more than ten times the native size. A video without a size fills the window.
QRect FullScreenVideoRect(int cx, int cy, int w, int h);
