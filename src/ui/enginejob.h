// Long work of the main window off the GUI thread: a Start command's split, or the probes of
// the Open command, run on a worker thread of their own, on copies of what they need, while
// the GUI thread goes on painting.
//
// Contracts:
// - Everything the work tells the user goes through the reporter it is handed. Each of its
//   calls is carried to the GUI thread, where the window's reporter makes it, in the order the
//   work made them, and the worker waits there until it is done: a message box is shown by
//   the GUI thread, with its owner, and the answer to the replace question goes back.
// - Progress and the stop request pass through shared state: the work reports and polls
//   without waiting, the window reads a snapshot when it likes.
// - One work at a time. The job lives on the GUI thread; only the work runs on the worker.
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "mpeg/progress.h"
#include "mpeg/reporter.h"
#include "mpeg/stoprequest.h"

class CEngineJob final : public QObject {
    Q_OBJECT

public:
    // The work, run on the worker thread with the reporter, stop request and progress it must
    // use. Whatever it needs beyond them it takes by value.
    using CWork =
        std::function<void(IReporter& reporter, const IStopRequest& stop, IProgress& progress)>;

    // What the work has told of its progress so far.
    struct CSnapshot {
        bool m_bBegun = false;  // an output has been begun
        CProgressOutput m_output;
        int64_t m_llWritten = 0;  // bytes of that output written
    };

    // guiReporter makes, on the GUI thread, every call the work makes; it must outlive the job.
    explicit CEngineJob(IReporter& guiReporter, QObject* pParent = nullptr);
    // Asks a running work to stop and waits for it to end. A reporter call it is still waiting
    // for is given up: no message is shown any more, and the replace question is answered No.
    ~CEngineJob() override;
    CEngineJob(const CEngineJob&) = delete;
    CEngineJob& operator=(const CEngineJob&) = delete;

    // GUI thread. Starts the work on a new thread; false, and nothing started, while another
    // runs.
    bool Start(CWork work);
    // From Start until Finished is emitted.
    bool IsRunning() const { return m_bRunning; }
    // Any thread. The work's stop request answers true from now on.
    void RequestStop() { m_bStop = true; }
    bool IsStopRequested() const { return m_bStop; }
    // Any thread.
    CSnapshot Progress() const;

Q_SIGNALS:
    // GUI thread, just before the work's message or question is shown, and just after it has
    // been answered: a progress dialog makes way for it.
    void AboutToShowMessage();
    void MessageShown();
    // GUI thread, once the work has returned and its thread has ended.
    void Finished();

private:
    class CRelay;
    friend class CRelay;

    // Worker thread: makes the call on the GUI thread and waits until it is made, or until the
    // job gives up waiting (it is being destroyed).
    void CallOnGuiThread(const std::function<void()>& call, bool bMessage);
    void OnWorkReturned();

    IReporter& m_guiReporter;
    std::unique_ptr<CRelay> m_pRelay;
    std::thread m_thread;
    bool m_bRunning = false;  // GUI thread
    std::atomic<bool> m_bStop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_callDone;
    bool m_bAbandoned = false;  // the GUI thread takes no more calls
    CSnapshot m_progress;
};
