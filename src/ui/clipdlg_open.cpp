// The Open MPEG command: the only way a source enters the window. The new file is probed into
// a copy of the source, which replaces the opened one only when every probe has succeeded, so
// the file the information line names is always the file the Start commands cut.
#include "app/clipapp.h"
#include "mpeg/outputpaths.h"
#include "platform/io/fileio.h"
#include "ui/clipdlg.h"
#include "ui/windowreporter.h"

using namespace Qt::Literals::StringLiterals;

void CClipDlg::OnOpenMpeg() {
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
    CMpegSource candidate = m_source;
    if (!candidate.SetSourcePath(ToFileSystemPath(*chosen))) {
        // Longer than the system's path limit: no file by that name can be opened.
        ShowMessage(u"Error"_s, u"Can not open the mpeg file!"_s);
        return;
    }

    CWindowReporter reporter(this, m_app.ApplicationName(), m_shell);
    if (!candidate.ProbeHeader(reporter)) {
        return;
    }
    if (!candidate.ProbeDuration(m_queryStopPosition)) {
        ShowAppMessage(u"Can not open the mpeg total time!"_s);
        return;
    }
    // The size once more, as the Start commands will measure it.
    std::unique_ptr<IFile> file = OpenAndMeasureSource(candidate, reporter, PosixFileSystem());
    if (!file) {
        return;
    }
    file->Close();

    m_source = candidate;
    const std::string fileName = ExtractFileName(m_source.SourcePath());
    m_strInfoLine = FromFileSystemPath(FormatSourceInfoLine(fileName, m_source.m_nTotalSeconds));
    DoDataExchange(false);

    ClosePreview();
    OpenPreview(m_source);
}
