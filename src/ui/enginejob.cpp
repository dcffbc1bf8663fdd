// The worker thread of the main window's long work, and the relay that carries its reporter
// calls to the GUI thread.
#include "ui/enginejob.h"

// What the work sees: each reporter call is carried to the GUI thread; the stop request and
// the progress are shared state.
class CEngineJob::CRelay final : public IReporter, public IStopRequest, public IProgress {
public:
    explicit CRelay(CEngineJob& job) : m_job(job) {}

    void ShowMessage(const std::string& text, const std::string& caption) override {
        m_job.CallOnGuiThread([&] { m_job.m_guiReporter.ShowMessage(text, caption); }, true);
    }
    void ShowAppMessage(const std::string& text) override {
        m_job.CallOnGuiThread([&] { m_job.m_guiReporter.ShowAppMessage(text); }, true);
    }
    bool AskReplace(const std::string& text) override {
        bool bYes = false;
        m_job.CallOnGuiThread([&] { bYes = m_job.m_guiReporter.AskReplace(text); }, true);
        return bYes;
    }
    void BeginWaitCursor() override {
        m_job.CallOnGuiThread([&] { m_job.m_guiReporter.BeginWaitCursor(); }, false);
    }
    void EndWaitCursor() override {
        m_job.CallOnGuiThread([&] { m_job.m_guiReporter.EndWaitCursor(); }, false);
    }

    bool IsStopRequested() const override { return m_job.m_bStop; }

    void BeginOutput(const CProgressOutput& output) override {
        std::lock_guard lock(m_job.m_mutex);
        m_job.m_progress.m_bBegun = true;
        m_job.m_progress.m_output = output;
        m_job.m_progress.m_llWritten = 0;
    }
    void Advance(int64_t written) override {
        std::lock_guard lock(m_job.m_mutex);
        m_job.m_progress.m_llWritten = written;
    }

private:
    CEngineJob& m_job;
};

CEngineJob::CEngineJob(IReporter& guiReporter, QObject* pParent)
    : QObject(pParent), m_guiReporter(guiReporter), m_pRelay(std::make_unique<CRelay>(*this)) {}

CEngineJob::~CEngineJob() {
    if (m_thread.joinable()) {
        m_bStop = true;
        {
            std::lock_guard lock(m_mutex);
            m_bAbandoned = true;
        }
        m_callDone.notify_all();
        m_thread.join();
    }
    // Calls posted but not yet made go with this object, unmade.
}

bool CEngineJob::Start(CWork work) {
    if (m_bRunning) {
        return false;
    }
    m_bRunning = true;
    m_bStop = false;
    {
        std::lock_guard lock(m_mutex);
        m_progress = CSnapshot{};
    }
    m_thread = std::thread([this, work = std::move(work)] {
        work(*m_pRelay, *m_pRelay, *m_pRelay);
        QMetaObject::invokeMethod(
            this, [this] { OnWorkReturned(); }, Qt::QueuedConnection);
    });
    return true;
}

CEngineJob::CSnapshot CEngineJob::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

void CEngineJob::CallOnGuiThread(const std::function<void()>& call, bool bMessage) {
    // The call refers to the worker's own variables: it is made while the worker waits here,
    // or never.
    auto bDone = std::make_shared<bool>(false);
    {
        std::lock_guard lock(m_mutex);
        if (m_bAbandoned) {
            return;
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, &call, bDone, bMessage] {
            if (bMessage) {
                Q_EMIT AboutToShowMessage();
            }
            call();
            {
                std::lock_guard lock(m_mutex);
                *bDone = true;
            }
            m_callDone.notify_all();
            if (bMessage) {
                Q_EMIT MessageShown();
            }
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_callDone.wait(lock, [&] { return *bDone || m_bAbandoned; });
}

void CEngineJob::OnWorkReturned() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_bRunning = false;
    Q_EMIT Finished();
}
