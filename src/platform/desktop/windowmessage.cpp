#include "platform/desktop/windowmessage.h"

#include <QCoreApplication>

CWindowMessageEvent::CWindowMessageEvent(unsigned nMessage, quintptr wParam, qintptr lParam)
    : QEvent(EventType()), m_nMessage(nMessage), m_wParam(wParam), m_lParam(lParam) {}

QEvent::Type CWindowMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostWindowMessage(QObject* pReceiver, unsigned nMessage, quintptr wParam, qintptr lParam) {
    QCoreApplication::postEvent(pReceiver, new CWindowMessageEvent(nMessage, wParam, lParam));
}
