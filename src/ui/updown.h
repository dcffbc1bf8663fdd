// A small up-down control beside a free-text field: it steps the number the field holds and
// writes the result back, while the field itself keeps whatever text the user types.
#pragma once

#include <QBasicTimer>
#include <QWidget>

class QLineEdit;

class CUpDown final : public QWidget {
    Q_OBJECT

public:
    explicit CUpDown(QWidget* pParent = nullptr);

    // Attaches the field: the up-down takes the right end of the field's place (the field
    // narrows by the up-down's width), the field's Up and Down keys step it, and each new
    // position is written into the field as a plain decimal number without digit grouping.
    void SetBuddy(QLineEdit* pBuddy);
    QLineEdit* Buddy() const { return m_pBuddy; }

    void SetRange(int nLower, int nUpper);
    int Lower() const { return m_nLower; }
    int Upper() const { return m_nUpper; }
    int Pos() const { return m_nPos; }

    // One step, +1 up or -1 down, as a click on an arrow does. The step starts from the number
    // the field holds when it holds exactly one within the range, else from the last position.
    void Step(int nDelta);

Q_SIGNALS:
    // The position-change notification, sent before every step is applied, even one that the
    // range then stops: the position the step starts from and the step itself.
    void DeltaPos(int nOldPos, int nDelta);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    QSize sizeHint() const override;

private:
    void SyncFromBuddy();
    int DeltaAt(const QPoint& point) const;

    QLineEdit* m_pBuddy = nullptr;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
    int m_nPressedDelta = 0;  // the arrow held down: +1, -1, or 0 for none
    QBasicTimer m_repeat;
};
