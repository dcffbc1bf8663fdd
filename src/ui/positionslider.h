// The position slider: a horizontal slider that tells the application while the left mouse
// button holds it, and reports when it lets the mouse go.
#pragma once

#include <QSlider>

class CClipApp;

class CPositionSlider final : public QSlider {
    Q_OBJECT

public:
    explicit CPositionSlider(CClipApp& app, QWidget* pParent = nullptr);

Q_SIGNALS:
    // The released-capture notification: the left button has come up after a click or a drag
    // on the slider. Moving the thumb with the keyboard sends none.
    void ReleasedCapture();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    CClipApp& m_app;
};
