// The preview's top-level window (class "PreviewWindow"): a black window with its own taskbar
// entry that hands its events to the player, as a window procedure would, and keeps the
// player's two timers.
#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <set>

class CPreviewPlayer;

class CPreviewWindow final : public QWidget {
    Q_OBJECT

public:
    // Hidden, captioned "Video Window", with the given icon. No parent: the window stands on
    // its own beside the main window. The player must outlive the window.
    CPreviewWindow(CPreviewPlayer& player, const QIcon& icon);

    // Starts (or restarts) timer IDT_CURSOR or IDT_POSITION; its ticks go to the player's
    // OnTimer with that id. Killing a timer that does not run does nothing.
    void SetTimer(int nId, int nElapseMs);
    void KillTimer(int nId);
    bool IsTimerActive(int nId) const;
    int TimerInterval(int nId) const;

protected:
    bool event(QEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;

private:
    QBasicTimer* Timer(int nId);
    const QBasicTimer* Timer(int nId) const;

    CPreviewPlayer& m_player;
    QBasicTimer m_cursorTimer;
    QBasicTimer m_positionTimer;
    int m_nCursorInterval = 0;
    int m_nPositionInterval = 0;
    // Keys pressed while this window had the keyboard and not yet released. A release whose
    // press went elsewhere (the Escape that closed the popup menu) is not this window's.
    std::set<int> m_keysDown;
};
