// The duration probe: create a graph, render the file, read the stop position, release.
#include "media/querystopposition.h"

#include "media/gstfiltergraphfactory.h"
#include "media/mediainterfaces.h"

namespace {

CGraphOptions ProbeOptions() {
    CGraphOptions options;
    options.m_strAudioSink = "fakesink";
    options.m_bDeliverFrames = false;
    return options;
}

}  // namespace

bool QueryStopPosition(const std::string& path, int64_t* stop100ns) {
    CGstFilterGraphFactory factory(ProbeOptions());
    return QueryStopPositionWith(factory, path, stop100ns);
}

bool QueryStopPositionWith(IFilterGraphFactory& factory, const std::string& path,
                           int64_t* stop100ns) {
    // A NUL inside the path would silently name another file.
    if (stop100ns == nullptr || path.empty() || path.find('\0') != std::string::npos) {
        return false;
    }
    IGraphBuilder* pGB = nullptr;
    if (FAILED(factory.CreateFilterGraph(&pGB)) || pGB == nullptr) {
        return false;
    }
    bool known = false;
    if (SUCCEEDED(pGB->RenderFile(path.c_str(), nullptr))) {
        IMediaSeeking* pMS = nullptr;
        if (SUCCEEDED(pGB->QueryInterface(&pMS)) && pMS != nullptr) {
            LONGLONG stop = 0;
            if (SUCCEEDED(pMS->GetStopPosition(&stop)) && stop > 0) {
                *stop100ns = stop;
                known = true;
            }
            pMS->Release();
        }
    }
    pGB->Release();
    return known;
}
