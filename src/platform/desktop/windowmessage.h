// Messages posted between the program's windows, kept under their message numbers and
// delivered through the receiver's event queue, after the events already waiting there.
#pragma once

#include <QEvent>

class QObject;

inline constexpr unsigned WM_COMMAND = 0x0111;
inline constexpr unsigned WM_USER = 0x0400;

// The preview has refreshed its positions (posted once a second, both parameters 0).
inline constexpr unsigned WM_PREVIEW_POSITION = WM_USER + 3;

// The main window's close-source command, posted as WM_COMMAND with this identifier when the
// preview window is asked to close.
inline constexpr int IDC_CLOSE_SOURCE = 1053;

class CWindowMessageEvent final : public QEvent {
public:
    CWindowMessageEvent(unsigned nMessage, quintptr wParam, qintptr lParam);

    // The event type all window messages share; registered once per process.
    static QEvent::Type EventType();

    unsigned Message() const { return m_nMessage; }
    quintptr WParam() const { return m_wParam; }
    qintptr LParam() const { return m_lParam; }

private:
    unsigned m_nMessage;
    quintptr m_wParam;
    qintptr m_lParam;
};

// Queues the message for pReceiver and returns at once; the receiver handles it in its
// customEvent on its own thread.
void PostWindowMessage(QObject* pReceiver, unsigned nMessage, quintptr wParam = 0,
                       qintptr lParam = 0);
