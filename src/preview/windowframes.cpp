#include "preview/windowframes.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t InternAtom(xcb_connection_t* pConnection, const char* pszName) {
    xcb_intern_atom_reply_t* pReply = xcb_intern_atom_reply(
        pConnection,
        xcb_intern_atom(pConnection, 0, static_cast<uint16_t>(std::strlen(pszName)), pszName),
        nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (pReply != nullptr) {
        atom = pReply->atom;
    }
    std::free(pReply);
    return atom;
}

// The window's _NET_FRAME_EXTENTS: left, right, top, bottom.
std::optional<QMargins> ReadFrameExtents(xcb_connection_t* pConnection, xcb_window_t window,
                                         xcb_atom_t extents) {
    xcb_get_property_reply_t* pReply = xcb_get_property_reply(
        pConnection, xcb_get_property(pConnection, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4),
        nullptr);
    std::optional<QMargins> margins;
    if (pReply != nullptr && pReply->format == 32 &&
        xcb_get_property_value_length(pReply) >= static_cast<int>(4 * sizeof(uint32_t))) {
        const auto* pValues = static_cast<const uint32_t*>(xcb_get_property_value(pReply));
        // Anything larger is no frame but garbage.
        constexpr uint32_t kLargest = 1000;
        if (pValues[0] < kLargest && pValues[1] < kLargest && pValues[2] < kLargest &&
            pValues[3] < kLargest) {
            margins = QMargins(static_cast<int>(pValues[0]), static_cast<int>(pValues[2]),
                               static_cast<int>(pValues[1]), static_cast<int>(pValues[3]));
        }
    }
    std::free(pReply);
    return margins;
}

std::optional<QMargins> X11FrameMargins(QWidget* pWindow, int nWaitMs) {
    auto* pX11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                    : nullptr;
    xcb_connection_t* pConnection = pX11 != nullptr ? pX11->connection() : nullptr;
    if (pConnection == nullptr) {
        return std::nullopt;
    }
    const auto window = static_cast<xcb_window_t>(pWindow->winId());
    const xcb_atom_t extents = InternAtom(pConnection, "_NET_FRAME_EXTENTS");
    const xcb_atom_t request = InternAtom(pConnection, "_NET_REQUEST_FRAME_EXTENTS");
    if (window == 0 || extents == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    if (std::optional<QMargins> margins = ReadFrameExtents(pConnection, window, extents)) {
        return margins;
    }
    const xcb_setup_t* pSetup = xcb_get_setup(pConnection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(pSetup);
    if (request == XCB_ATOM_NONE || screens.rem == 0) {
        return std::nullopt;
    }
    // The window manager sets the property on the window in answer; the property is read
    // straight from the server, so no event needs to be handled meanwhile.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = request;
    xcb_send_event(pConnection, 0, screens.data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(pConnection);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < nWaitMs) {
        QThread::msleep(10);
        if (std::optional<QMargins> margins = ReadFrameExtents(pConnection, window, extents)) {
            return margins;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<QMargins> WindowFrameMargins(QWidget* pWindow, int nWaitMs) {
    if (pWindow == nullptr) {
        return std::nullopt;
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (std::optional<QMargins> margins = X11FrameMargins(pWindow, nWaitMs)) {
            return margins;
        }
    }
    if (!pWindow->isVisible()) {
        return std::nullopt;
    }
    const QRect outer = pWindow->frameGeometry();
    const QRect inner = pWindow->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}
