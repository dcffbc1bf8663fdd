// Keeps the user's input from one window while it waits for long work: the mouse buttons, the
// wheel, the keys and their shortcuts do nothing there, while the window keeps painting and its
// other windows (message boxes, the progress dialog, the preview) work as usual.
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

class CInputBlocker final : public QObject {
    Q_OBJECT

public:
    // Blocks input to pWindow and its controls from now until the blocker is destroyed.
    explicit CInputBlocker(QWidget* pWindow);
    ~CInputBlocker() override;
    CInputBlocker(const CInputBlocker&) = delete;
    CInputBlocker& operator=(const CInputBlocker&) = delete;

    // True for the events a user gives with the mouse, the wheel, the keyboard or a touch.
    static bool IsUserInput(const QEvent& event);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QPointer<QWidget> m_pWindow;
};
