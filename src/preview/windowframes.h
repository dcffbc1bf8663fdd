// The frame (title bar and borders) a window manager puts around a top-level window. Qt learns
// it only some time after the window is mapped, and not at all before; the placement of the
// preview needs it before either window has settled.
#pragma once

#include <QMargins>

#include <optional>

class QWidget;

// The frame of pWindow, mapped or not yet: on X11 the window manager's _NET_FRAME_EXTENTS,
// asked for with _NET_REQUEST_FRAME_EXTENTS where the window has none yet and waited for up to
// nWaitMs; elsewhere, or where the window manager does not answer, what Qt knows
// (frameGeometry against geometry) once the window is on screen. Empty when nothing is known.
std::optional<QMargins> WindowFrameMargins(QWidget* pWindow, int nWaitMs);
