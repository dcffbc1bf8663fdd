// Rendering threads of the preview.
#include "preview/backgroundrenderer.h"

#include <algorithm>

CBackgroundRenderer::CBackgroundRenderer(QObject* pParent) : QObject(pParent) {}

CBackgroundRenderer::~CBackgroundRenderer() {
    for (CTask& task : m_tasks) {
        task.thread.join();
        task.pGB->Release();
    }
}

void CBackgroundRenderer::Render(IGraphBuilder* pGB, const std::string& strPath,
                                 std::function<void(HRESULT)> done) {
    pGB->AddRef();
    CTask& task = m_tasks.emplace_back();
    task.pGB = pGB;
    CTask* pTask = &task;
    task.thread = std::thread([this, pTask, pGB, strPath, done = std::move(done)] {
        const HRESULT hr = pGB->RenderFile(strPath.c_str(), nullptr);
        QMetaObject::invokeMethod(
            this, [this, pTask, hr, done] { Finish(pTask, hr, done); }, Qt::QueuedConnection);
    });
}

void CBackgroundRenderer::Finish(CTask* pTask, HRESULT hr,
                                 const std::function<void(HRESULT)>& done) {
    pTask->thread.join();
    IGraphBuilder* pGB = pTask->pGB;
    m_tasks.remove_if([pTask](const CTask& task) { return &task == pTask; });
    done(hr);
    pGB->Release();
}

CRenderFile CBackgroundRenderer::AsRenderFile() {
    return [this](IGraphBuilder* pGB, const std::string& strPath,
                  std::function<void(HRESULT)> done) { Render(pGB, strPath, std::move(done)); };
}
