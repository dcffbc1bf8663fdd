#include "ui/latestjob.h"

class CLatestJob::CStop final : public IStopRequest {
public:
    CStop(const std::atomic<uint64_t>& current, uint64_t mine)
        : m_current(current), m_nMine(mine) {}
    bool IsStopRequested() const override { return m_current.load() != m_nMine; }

private:
    const std::atomic<uint64_t>& m_current;
    uint64_t m_nMine;
};

CLatestJob::CLatestJob(QObject* pParent) : QObject(pParent) {
    m_thread = std::thread([this] { Run(); });
}

CLatestJob::~CLatestJob() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
        m_next.reset();
        ++m_nGeneration;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CLatestJob::Post(CWork work) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = std::move(work);
        ++m_nGeneration;
    }
    m_wake.notify_all();
}

void CLatestJob::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_next.reset();
    m_nDelivered = ++m_nGeneration;
}

bool CLatestJob::IsIdle() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_next && !m_bRunning && m_nDelivered == m_nGeneration.load();
}

void CLatestJob::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_bQuit || m_next; });
        if (m_bQuit) {
            return;
        }
        CWork work = std::move(*m_next);
        m_next.reset();
        const uint64_t generation = m_nGeneration.load();
        m_bRunning = true;
        lock.unlock();
        const CStop stop(m_nGeneration, generation);
        CResult result = work(stop);
        if (!stop.IsStopRequested()) {
            // Queued to this object: a job destroyed first drops it.
            QMetaObject::invokeMethod(
                this,
                [this, generation, result = std::move(result)] {
                    if (generation != m_nGeneration.load()) {
                        return;
                    }
                    if (result) {
                        result();
                    }
                    {
                        std::lock_guard<std::mutex> guard(m_mutex);
                        m_nDelivered = generation;
                    }
                    Q_EMIT ResultApplied();
                },
                Qt::QueuedConnection);
        }
        lock.lock();
        m_bRunning = false;
    }
}
