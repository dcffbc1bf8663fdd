// Renders preview graphs off the GUI thread: IGraphBuilder::RenderFile waits until the first
// picture is cued (up to its time-out for a file it cannot play), and the window must keep
// painting meanwhile. Gives a player's context its renderFile.
#pragma once

#include <QObject>

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "media/mediainterfaces.h"
#include "preview/previewplayer.h"

class CBackgroundRenderer final : public QObject {
    Q_OBJECT

public:
    explicit CBackgroundRenderer(QObject* pParent = nullptr);
    // Waits for the renders under way and releases their graphs; their done is not called.
    ~CBackgroundRenderer() override;
    CBackgroundRenderer(const CBackgroundRenderer&) = delete;
    CBackgroundRenderer& operator=(const CBackgroundRenderer&) = delete;

    // GUI thread. Renders the file on a thread of its own, holding a reference on the graph
    // until done has run on the GUI thread with RenderFile's status; the graph is released on
    // the GUI thread, where it was made.
    void Render(IGraphBuilder* pGB, const std::string& strPath, std::function<void(HRESULT)> done);

    // Render, as a player's context takes it. The renderer must outlive its players.
    CRenderFile AsRenderFile();

private:
    struct CTask {
        std::thread thread;
        IGraphBuilder* pGB = nullptr;
    };
    void Finish(CTask* pTask, HRESULT hr, const std::function<void(HRESULT)>& done);

    std::list<CTask> m_tasks;
};
