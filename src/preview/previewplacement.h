// Where the preview window and its video go: pure arithmetic on rectangles, so it can be
// checked for any screen without one.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

// The preview window's first place: the strip of the work area above the owner (main) window,
// 100 pixels in from the work area's left edge and 5 below its top, ending at the owner's top
// edge, with a width of 4/3 of the strip's height less 100. Degenerate when the owner sits at
// the top of the work area; a video file resizes the window at once.
QRect PreviewWindowRect(const QRect& workArea, const QRect& ownerRect);

// The video's rectangle on a full-screen window of cx by cy pixels for a native size of w by h:
// enlarged by the smallest of 10, cx / w and cy / h, keeping its aspect ratio, centred. Never
// more than ten times the native size. A video without a size fills the window.
QRect FullScreenVideoRect(int cx, int cy, int w, int h);

// Where the two windows go when a preview with video opens, so that neither hides the other.
struct CPreviewLayout {
    QPoint ptOwner;    // the main window's outer top-left corner; where it was unless it moves
    QPoint ptPreview;  // the preview window's outer top-left corner
    QSize sizeVideo;   // the preview's client area: the video, scaled down where need be
};

// The preview keeps the place PreviewWindowRect gives it, at the top of the work area. Where the
// strip above the main window is too low for the video at its native size, the main window moves
// down, as far as the work area's bottom allows; where even that strip is too low, or the work
// area too narrow, the video is scaled down to fit, its aspect ratio kept (never below a usable
// size, where the windows then overlap). rcOwner is the main window's outer rectangle, and
// frame the decorations a top-level window gets (the preview's are taken to be the same).
// Without bSelfPlacing (the windowing system places every window itself, as under Wayland)
// nothing moves, and the video is only scaled so that it and the main window fit in the work
// area together.
CPreviewLayout PreviewBesideOwner(const QRect& workArea, const QRect& rcOwner,
                                  const QMargins& frame, const QSize& video, bool bSelfPlacing);
