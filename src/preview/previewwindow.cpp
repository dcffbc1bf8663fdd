// The preview window's events, dispatched to the player.
#include "preview/previewwindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

#include "media/qt/graphnotifytarget.h"
#include "preview/previewplayer.h"

using namespace Qt::StringLiterals;

CPreviewWindow::CPreviewWindow(CPreviewPlayer& player, const QIcon& icon)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_player(player) {
    setObjectName(u"PreviewWindow"_s);
    setWindowTitle(u"Video Window"_s);
    setWindowIcon(icon);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setCursor(Qt::ArrowCursor);
    // Plain moves count as activity in full screen; keys reach the window, not the video.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // The menu comes on the release of the right button, not with the platform's own event.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

QBasicTimer* CPreviewWindow::Timer(int nId) {
    return nId == IDT_CURSOR ? &m_cursorTimer : nId == IDT_POSITION ? &m_positionTimer : nullptr;
}

const QBasicTimer* CPreviewWindow::Timer(int nId) const {
    return nId == IDT_CURSOR ? &m_cursorTimer : nId == IDT_POSITION ? &m_positionTimer : nullptr;
}

void CPreviewWindow::SetTimer(int nId, int nElapseMs) {
    if (QBasicTimer* pTimer = Timer(nId)) {
        pTimer->start(nElapseMs, this);
        (nId == IDT_CURSOR ? m_nCursorInterval : m_nPositionInterval) = nElapseMs;
    }
}

void CPreviewWindow::KillTimer(int nId) {
    if (QBasicTimer* pTimer = Timer(nId)) {
        pTimer->stop();
    }
}

bool CPreviewWindow::IsTimerActive(int nId) const {
    const QBasicTimer* pTimer = Timer(nId);
    return pTimer != nullptr && pTimer->isActive();
}

int CPreviewWindow::TimerInterval(int nId) const {
    return IsTimerActive(nId) ? (nId == IDT_CURSOR ? m_nCursorInterval : m_nPositionInterval) : 0;
}

bool CPreviewWindow::event(QEvent* pEvent) {
    if (pEvent->type() == CGraphNotifyEvent::EventType()) {
        m_player.HandleGraphEvents();
        return true;
    }
    return QWidget::event(pEvent);
}

void CPreviewWindow::moveEvent(QMoveEvent*) {
    m_player.OnMoveOrSize();
}

void CPreviewWindow::resizeEvent(QResizeEvent*) {
    m_player.OnMoveOrSize();
}

void CPreviewWindow::closeEvent(QCloseEvent* pEvent) {
    // The main window decides: it closes the source, and the player then destroys this window.
    pEvent->ignore();
    m_player.OnCloseRequest();
}

void CPreviewWindow::keyPressEvent(QKeyEvent* pEvent) {
    if (!pEvent->isAutoRepeat()) {
        m_keysDown.insert(pEvent->key());
    }
    // A held key acts once.
    if (pEvent->isAutoRepeat() ||
        !m_player.OnKeyDown(pEvent->key(), pEvent->modifiers() & ~Qt::KeypadModifier)) {
        QWidget::keyPressEvent(pEvent);
    }
}

void CPreviewWindow::keyReleaseEvent(QKeyEvent* pEvent) {
    if (pEvent->isAutoRepeat() || m_keysDown.erase(pEvent->key()) == 0) {
        pEvent->ignore();
        return;
    }
    m_player.OnKeyUp(pEvent->key());
}

void CPreviewWindow::focusOutEvent(QFocusEvent* pEvent) {
    // Keys released while another window or a popup menu has the keyboard never come here.
    m_keysDown.clear();
    QWidget::focusOutEvent(pEvent);
}

void CPreviewWindow::mouseMoveEvent(QMouseEvent* pEvent) {
    m_player.OnMouse(QEvent::MouseMove, Qt::NoButton, pEvent->globalPosition().toPoint());
}

void CPreviewWindow::mouseReleaseEvent(QMouseEvent* pEvent) {
    m_player.OnMouse(QEvent::MouseButtonRelease, pEvent->button(),
                     pEvent->globalPosition().toPoint());
}

void CPreviewWindow::paintEvent(QPaintEvent*) {
    // Black wherever the video does not cover the window.
    QPainter(this).fillRect(rect(), Qt::black);
}

void CPreviewWindow::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_cursorTimer.timerId()) {
        m_player.OnTimer(IDT_CURSOR);
    } else if (pEvent->timerId() == m_positionTimer.timerId()) {
        m_player.OnTimer(IDT_POSITION);
    } else {
        QWidget::timerEvent(pEvent);
    }
}
