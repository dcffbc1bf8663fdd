// The window's long work off the GUI thread: the Start commands' splits and the Open command's
// probes run as a job; meanwhile the window paints, takes no input, shows the progress dialog
// of a split after a moment, and obeys a close request by stopping the work first.
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <string>

#include "ui/clipdlg.h"
#include "ui/enginejob.h"
#include "ui/inputblocker.h"
#include "ui/progressdlg.h"
#include "ui/windowreporter.h"

void CClipDlg::RunSplit(CSplitCommand command) {
    if (m_bBusy) {
        return;
    }
    // The work's own copy of the source: the window's may change meanwhile (the preview's
    // close-source command empties it), the copy stays the file the work cuts.
    auto source = std::make_shared<CMpegSource>(m_source);
    IFileSystem& fileSystem = *m_pFileSystem;
    const CSplitOptions options{m_bCleanCuts};
    // What a clean series that wrote fewer pieces than asked tells after "Splitting is done!";
    // written by the work, read once its thread has ended.
    auto merged = std::make_shared<std::string>();
    BeginBusy();
    m_bShowsProgress = true;
    m_onJobFinished = [this, source, merged] {
        // The commands measure the source again.
        if (m_source.SourcePath() == source->SourcePath()) {
            m_source.m_llFileSize = source->m_llFileSize;
        }
        // A window that is closing shows nothing more.
        const bool closing = m_bCloseWhenIdle;
        EndBusy();
        if (!merged->empty() && !closing) {
            ShowMessage(QStringLiteral("Message"), QString::fromStdString(*merged));
        }
    };
    m_pJob->Start([source, command, options, merged, &fileSystem](
                      IReporter& reporter, const IStopRequest& stop, IProgress& progress) {
        CSplitEngine engine(reporter, fileSystem, stop, progress);
        engine.SetOptions(options);
        if (command(engine, *source) == SplitStatus::Done) {
            *merged = engine.Merged().Text();
        }
    });
    m_pProgressDelay->start(kProgressDelayMs);
}

void CClipDlg::BeginBusy() {
    m_bBusy = true;
    m_pInputBlocker = std::make_unique<CInputBlocker>(this);
}

void CClipDlg::EndBusy() {
    if (!m_bBusy) {
        return;
    }
    m_bBusy = false;
    m_bShowsProgress = false;
    HideProgressDialog();
    m_pInputBlocker.reset();
    LowerOpenCursor();
    if (m_bCloseWhenIdle) {
        m_bCloseWhenIdle = false;
        // After this call's caller has finished with the window.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void CClipDlg::OnJobFinished() {
    std::function<void()> onFinished = std::move(m_onJobFinished);
    m_onJobFinished = nullptr;
    if (onFinished) {
        onFinished();
    }
}

void CClipDlg::ShowProgressDialog() {
    if (!m_pJob->IsRunning() || !m_bShowsProgress) {
        return;
    }
    if (m_pProgressDlg == nullptr) {
        m_pProgressDlg = new CProgressDlg(this);
        connect(m_pProgressDlg, &CProgressDlg::CancelRequested, this,
                [this] { m_pJob->RequestStop(); });
    }
    if (!m_pProgressDlg->isVisible()) {
        m_pProgressDlg->Reset();
        m_pProgressDlg->CancelButton()->setEnabled(!m_pJob->IsStopRequested());
        RefreshProgressDialog();
        m_pProgressDlg->show();
        m_pProgressDlg->raise();
        m_pProgressDlg->activateWindow();
    }
    m_pProgressRefresh->start(kProgressRefreshMs);
}

void CClipDlg::RefreshProgressDialog() {
    if (m_pProgressDlg == nullptr) {
        return;
    }
    const CEngineJob::CSnapshot progress = m_pJob->Progress();
    if (progress.m_bBegun) {
        m_pProgressDlg->ShowProgress(progress.m_output, progress.m_llWritten);
    }
}

void CClipDlg::HideProgressDialog() {
    m_pProgressDelay->stop();
    m_pProgressRefresh->stop();
    if (m_pProgressDlg != nullptr && m_pProgressDlg->isVisible()) {
        m_pProgressDlg->hide();
    }
}

void CClipDlg::LowerOpenCursor() {
    if (m_bBusyCursorRaised) {
        m_bBusyCursorRaised = false;
        m_shell.busyCursor.Lower();
    }
}

void CClipDlg::OnJobMessage() {
    // A message is not shown under the progress dialog, nor with the busy cursor of Open.
    HideProgressDialog();
    LowerOpenCursor();
}

void CClipDlg::OnJobMessageShown() {
    // After the replace question the copy begins: its dialog comes after the usual moment.
    if (m_pJob->IsRunning() && m_bShowsProgress) {
        m_pProgressDelay->start(kProgressDelayMs);
    }
}
