// The graph's video output on Qt: pictures from the streaming threads to a CVideoWidget on
// the GUI thread, and the video window calls applied to that widget.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <mutex>

#include "media/gstfiltergraphfactory.h"
#include "media/qt/videowidget.h"
#include "media/videooutput.h"

// Created and destroyed on the GUI thread (by the graph, which must be created and released
// there). The widget belongs to the output: it is made a child of the owner the graph is
// given, and deleted with the output unless its owner has deleted it first.
class CVideoWidgetOutput final : public IVideoOutput {
public:
    CVideoWidgetOutput();
    ~CVideoWidgetOutput() override;
    CVideoWidgetOutput(const CVideoWidgetOutput&) = delete;
    CVideoWidgetOutput& operator=(const CVideoWidgetOutput&) = delete;

    // Any thread. Keeps only the newest picture not yet shown, and asks the GUI thread to
    // show it with at most one queued call at a time: pictures the GUI has no time for are
    // dropped, never queued.
    void PresentFrame(std::shared_ptr<const CVideoFrame> frame) override;
    // GUI thread.
    void ApplyWindowState(const CVideoWindowState& state) override;

    // Null once the owner has deleted the widget.
    CVideoWidget* Widget() const { return m_pWidget; }
    int FramesDropped() const;

private:
    void ShowPendingFrame();

    QPointer<CVideoWidget> m_pWidget;
    // Receives the queued calls; deleting it discards those not yet run.
    std::unique_ptr<QObject> m_pRelay;

    mutable std::mutex m_mutex;
    std::shared_ptr<const CVideoFrame> m_pPending;
    bool m_bCallQueued = false;
    int m_nDropped = 0;
};

// Graph options whose graphs paint into a CVideoWidgetOutput.
CGraphOptions WidgetGraphOptions(CGraphOptions options = {});
