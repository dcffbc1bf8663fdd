// The Open MPEG command: the only way a source enters the window. The new file is probed into
// a copy of the source, which replaces the opened one only when every probe has succeeded, so
// the file the information line names is always the file the Start commands cut. The probes
// and the preview's start run off the GUI thread, under the busy cursor (clipdlg_job.cpp).
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
    auto candidate = std::make_shared<CMpegSource>(m_source);
    if (!candidate->SetSourcePath(ToFileSystemPath(*chosen))) {
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
