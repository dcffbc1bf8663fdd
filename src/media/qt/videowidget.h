// The video window: a child widget of the player's window that paints the latest picture of
// the graph, stretched to its own rectangle, and hands its mouse and keyboard input on.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "media/videooutput.h"

class CVideoWidget final : public QWidget {
    Q_OBJECT

public:
    explicit CVideoWidget(QWidget* parent = nullptr);

    // GUI thread. Shows the picture at the next paint; null shows black.
    void SetFrame(std::shared_ptr<const CVideoFrame> frame);
    const std::shared_ptr<const CVideoFrame>& Frame() const { return m_pFrame; }
    int FramesShown() const { return m_nFramesShown; }

    // The widget that receives this one's mouse and keyboard events, in this widget's
    // coordinates; null keeps them here.
    void SetMessageDrain(QWidget* drain);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const CVideoFrame> m_pFrame;
    QPointer<QWidget> m_pDrain;
    int m_nFramesShown = 0;
};
