// The Open MPEG command: the only way a source enters the window, whether chosen in its
// dialog, named on the command line or dropped on the window. The new file is probed into
// a copy of the source, which replaces the opened one only when every probe has succeeded, so
// the file the information line names is always the file the Start commands cut. The probes
// and the preview's start run off the GUI thread, under the busy cursor (clipdlg_job.cpp).
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <utility>

#include "app/clipapp.h"
#include "mpeg/outputpaths.h"
#include "platform/io/fileio.h"
#include "ui/clipdlg.h"
#include "ui/enginejob.h"
#include "ui/windowreporter.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// How the probes of a chosen file went.
enum EOpenOutcome { kOpened, kHeaderFailed, kDurationFailed, kSizeFailed, kStopped };

}  // namespace

void CClipDlg::OnOpenMpeg() {
    if (m_bBusy) {
        return;
    }
    // DVD-style .vob files are program streams too; the MPEG filter stays first and selected.
    const std::vector<CFileFilter> filters{
        {u"MPEG File(*.mpg;*.mpeg)"_s, u"*.mpg;*.mpeg"_s},
        {u"DVD video (*.vob)"_s, u"*.vob"_s},
        {u"All files (*)"_s, u"*"_s},
    };
    const std::optional<QString> chosen = m_shell.fileDialogs.GetOpenFileName(
        this, u"Select an MPEG file"_s, filters, FromFileSystemPath(m_source.SourcePath()));
    if (!chosen) {
        return;
    }
    OpenMpegFile(*chosen);
}

void CClipDlg::OpenMpegFile(const QString& strPath) {
    if (m_bBusy) {
        return;
    }
    auto candidate = std::make_shared<CMpegSource>(m_source);
    if (!candidate->SetSourcePath(ToFileSystemPath(strPath))) {
        // Longer than the system's path limit: no file by that name can be opened.
        ShowMessage(u"Error"_s, u"Can not open the mpeg file!"_s);
        return;
    }

    BeginBusy();
    m_shell.busyCursor.Raise();
    m_bBusyCursorRaised = true;
    auto outcome = std::make_shared<int>(kStopped);
    const StopPositionQuery query = m_queryStopPosition;
    IFileSystem& fileSystem = *m_pFileSystem;
    m_onJobFinished = [this, candidate, outcome] { FinishOpen(*candidate, *outcome); };
    m_pJob->Start([candidate, outcome, query, &fileSystem](IReporter& reporter,
                                                           const IStopRequest& stop, IProgress&) {
        if (!candidate->ProbeHeader(reporter, fileSystem)) {
            *outcome = kHeaderFailed;
            return;
        }
        if (stop.IsStopRequested()) {
            return;
        }
        if (!candidate->ProbeDuration(query, fileSystem)) {
            *outcome = kDurationFailed;
            return;
        }
        if (stop.IsStopRequested()) {
            return;
        }
        // The size once more, as the Start commands will measure it.
        std::unique_ptr<IFile> file = OpenAndMeasureSource(*candidate, reporter, fileSystem);
        if (!file) {
            *outcome = kSizeFailed;
            return;
        }
        file->Close();
        *outcome = kOpened;
    });
}

void CClipDlg::FinishOpen(const CMpegSource& candidate, int nOutcome) {
    if (nOutcome == kDurationFailed) {
        LowerOpenCursor();
        ShowAppMessage(u"Can not open the mpeg total time!"_s);
    }
    // A window closing meanwhile keeps the file it had.
    if (nOutcome != kOpened || m_bCloseWhenIdle) {
        EndBusy();
        return;
    }
    m_source = candidate;
    const std::string fileName = ExtractFileName(m_source.SourcePath());
    m_strInfoLine = FromFileSystemPath(FormatSourceInfoLine(fileName, m_source.m_nTotalSeconds));
    DoDataExchange(false);

    ClosePreview();
    OpenPreviewInBackground([this](int) { EndBusy(); });
    OnSourceChanged();
}

void CClipDlg::SetStartFile(const QString& strPath, int nIgnoredFiles) {
    m_strStartFile = strPath;
    m_nStartIgnoredFiles = nIgnoredFiles;
}

void CClipDlg::OpenStartFile() {
    if (m_strStartFile.isEmpty()) {
        return;
    }
    const QString strPath = std::exchange(m_strStartFile, QString());
    if (m_nStartIgnoredFiles > 0) {
        ShowAppMessage(OnlyFirstFileText(strPath));
    }
    OpenMpegFile(strPath);
}

QString CClipDlg::OnlyFirstFileText(const QString& strPath) {
    return u"Only one file can be opened at a time. %1 is opened."_s.arg(
        FromFileSystemPath(ExtractFileName(ToFileSystemPath(strPath))));
}

void CClipDlg::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (!m_bBusy && !LocalFiles(pEvent->mimeData()).isEmpty()) {
        pEvent->acceptProposedAction();
    }
}

void CClipDlg::dropEvent(QDropEvent* pEvent) {
    const QStringList files = LocalFiles(pEvent->mimeData());
    if (m_bBusy || files.isEmpty()) {
        return;
    }
    pEvent->acceptProposedAction();
    // Opened once the drop has ended, so the source's drag is not held up by the probes or a
    // message.
    QMetaObject::invokeMethod(
        this,
        [this, files] {
            if (files.size() > 1) {
                ShowAppMessage(OnlyFirstFileText(files.front()));
            }
            OpenMpegFile(files.front());
        },
        Qt::QueuedConnection);
}

QStringList CClipDlg::LocalFiles(const QMimeData* pData) {
    QStringList files;
    if (pData == nullptr) {
        return files;
    }
    for (const QUrl& url : pData->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files << url.toLocalFile();
        }
    }
    return files;
}
