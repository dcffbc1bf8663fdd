// Window style bits as the video window's style calls carry them. The numbers are those of
// the desktop's window styles, so a style read, changed and written back means what it says.
#pragma once

constexpr long WS_OVERLAPPED = 0x00000000L;
constexpr long WS_POPUP = 0x80000000L;
constexpr long WS_CHILD = 0x40000000L;
constexpr long WS_MINIMIZE = 0x20000000L;
constexpr long WS_VISIBLE = 0x10000000L;
constexpr long WS_DISABLED = 0x08000000L;
constexpr long WS_CLIPSIBLINGS = 0x04000000L;
constexpr long WS_CLIPCHILDREN = 0x02000000L;
constexpr long WS_MAXIMIZE = 0x01000000L;
constexpr long WS_BORDER = 0x00800000L;
constexpr long WS_DLGFRAME = 0x00400000L;
constexpr long WS_CAPTION = WS_BORDER | WS_DLGFRAME;
constexpr long WS_SYSMENU = 0x00080000L;
constexpr long WS_THICKFRAME = 0x00040000L;
constexpr long WS_MINIMIZEBOX = 0x00020000L;
constexpr long WS_MAXIMIZEBOX = 0x00010000L;
constexpr long WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
