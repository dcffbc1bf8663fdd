// The input blocker: an application-wide event filter.
#include "ui/inputblocker.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

CInputBlocker::CInputBlocker(QWidget* pWindow) : m_pWindow(pWindow) {
    QCoreApplication::instance()->installEventFilter(this);
}

CInputBlocker::~CInputBlocker() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool CInputBlocker::IsUserInput(const QEvent& event) {
    switch (event.type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

bool CInputBlocker::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (m_pWindow == nullptr || !pWatched->isWidgetType() || !IsUserInput(*pEvent)) {
        return false;
    }
    const auto* pWidget = static_cast<QWidget*>(pWatched);
    if (pWidget->window() != m_pWindow) {
        return false;
    }
    // A key that would start a shortcut is taken here, so no shortcut of the window fires.
    if (pEvent->type() == QEvent::ShortcutOverride) {
        pEvent->accept();
    }
    return true;
}
