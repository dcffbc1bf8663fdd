// The real filter graph: the interfaces of media/mediainterfaces.h over a GStreamer playbin.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "media/mediainterfaces.h"
#include "media/videooutput.h"

struct CGraphOptions {
    // The audio sink, as a GStreamer launch description: "autoaudiosink" plays on the sound
    // device and falls back to a silent sink without one; tests pass "fakesink sync=true".
    std::string m_strAudioSink = "autoaudiosink";
    // False: pictures are decoded but not converted or delivered (the duration probe).
    bool m_bDeliverFrames = true;
    // Makes the video output of each graph, on the factory's thread; null: pictures are
    // dropped. Called once per graph, at creation.
    std::function<std::unique_ptr<IVideoOutput>()> m_makeVideoOutput;
    // How long RenderFile waits for the graph to cue the first picture.
    int m_nRenderTimeoutMs = 10000;
    // How long a seek waits for the graph to settle at the new position.
    int m_nSeekTimeoutMs = 5000;
};

class CGstFilterGraphFactory final : public IFilterGraphFactory {
public:
    explicit CGstFilterGraphFactory(CGraphOptions options = {});
    HRESULT CreateFilterGraph(IGraphBuilder** ppGraph) override;

private:
    CGraphOptions m_options;
};
