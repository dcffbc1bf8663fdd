// Short work of the main window that follows what the user types: the plan of the cut and the
// list of key pictures. Unlike CEngineJob it blocks nothing and asks nothing: a new request
// stops the one before, whose result is dropped, and only the latest result reaches the GUI
// thread. What the work would tell the user is kept as a note instead (CNoteReporter).
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "mpeg/reporter.h"
#include "mpeg/stoprequest.h"

// Keeps the first message instead of showing it; answers No, shows no cursor.
class CNoteReporter final : public IReporter {
public:
    void ShowMessage(const std::string& text, const std::string&) override { Note(text); }
    void ShowAppMessage(const std::string& text) override { Note(text); }
    bool AskReplace(const std::string&) override { return false; }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    const std::string& FirstMessage() const { return m_strFirst; }

private:
    void Note(const std::string& text) {
        if (m_strFirst.empty()) {
            m_strFirst = text;
        }
    }
    std::string m_strFirst;
};

class CLatestJob final : public QObject {
    Q_OBJECT

public:
    // What the work hands back: run on the GUI thread, unless a later request came meanwhile.
    using CResult = std::function<void()>;
    // Runs on the worker thread; polls the stop request, which is set by a later request.
    using CWork = std::function<CResult(const IStopRequest& stop)>;

    explicit CLatestJob(QObject* pParent = nullptr);
    // Stops the work under way and waits for it.
    ~CLatestJob() override;
    CLatestJob(const CLatestJob&) = delete;
    CLatestJob& operator=(const CLatestJob&) = delete;

    // GUI thread. Replaces any work not yet begun, stops the one running.
    void Post(CWork work);
    // GUI thread. Stops and drops everything asked so far.
    void Cancel();
    // GUI thread. No work waits, runs, or has a result on its way.
    bool IsIdle() const;

Q_SIGNALS:
    // GUI thread, after a result has been applied.
    void ResultApplied();

private:
    class CStop;
    void Run();

    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<CWork> m_next;
    bool m_bQuit = false;
    bool m_bRunning = false;
    std::atomic<uint64_t> m_nGeneration{0};
    uint64_t m_nDelivered = 0;  // GUI thread: the generation whose result was applied last
};
