// The Start commands of the three modes: the clip cut, equal pieces and pieces by length. The
// window checks its own preconditions and reads its fields; the split engine does the rest off
// the GUI thread (clipdlg_job.cpp) and reports through the window's message boxes and busy
// cursor.
#include <QLineEdit>

#include "app/clipapp.h"
#include "mpeg/cutplan.h"
#include "mpeg/splitengine.h"
#include "preview/previewplayer.h"
#include "ui/clipdlg.h"
#include "ui/controlids.h"
#include "ui/cutlistdlg.h"
#include "ui/joindlg.h"
#include "ui/windowreporter.h"

using namespace Qt::Literals::StringLiterals;

std::string CClipDlg::TakeOutputFolderText() {
    m_strOutputFolder = m_pOutputFolderEdit->text();
    return ToFileSystemPath(m_strOutputFolder);
}

void CClipDlg::OnCutStart() {
    if (m_bBusy) {
        return;
    }
    if (m_strInfoLine.isEmpty()) {
        ShowMessage(u"Error"_s, u"Please open an MPEG file first!"_s);
        return;
    }
    // A field that holds no number has been reported; cutting with the old values would
    // write a clip the user did not ask for.
    if (!DoDataExchange(true)) {
        return;
    }
    const std::string output = ToFileSystemPath(m_strOutputFile);
    // While the cut list holds segments, Start writes them.
    if (m_pCutListDlg != nullptr && !m_pCutListDlg->Segments().empty()) {
        const CCutList list = m_pCutListDlg->List();
        const bool separate = m_pCutListDlg->OneFilePerSegment();
        RunSplit([list, output, separate](CSplitEngine& engine, CMpegSource& source) {
            return engine.CutList(source, list, output, separate);
        });
        return;
    }
    const CClipTime start = FieldTime(false);
    const CClipTime end = FieldTime(true);
    RunSplit([start, end, output](CSplitEngine& engine, CMpegSource& source) {
        return engine.CutClip(source, start, end, output);
    });
}

void CClipDlg::OnCutList() {
    if (m_pCutListDlg == nullptr) {
        auto times = [this]() -> std::optional<std::pair<int64_t, int64_t>> {
            if (!DoDataExchange(true)) {
                return std::nullopt;
            }
            return std::pair{ClipTimeToMilliseconds(FieldTime(false)),
                             ClipTimeToMilliseconds(FieldTime(true))};
        };
        auto seek = [](int64_t milliseconds) {
            if (g_pPreview != nullptr) {
                g_pPreview->SeekTo(milliseconds * 10'000);
            }
        };
        auto error = [this](const QString& text) { ShowMessage(u"Error"_s, text); };
        m_pCutListDlg = new CCutListDlg(this, m_shell.fileDialogs, times, seek, error);
    }
    m_pCutListDlg->show();
    m_pCutListDlg->raise();
    m_pCutListDlg->activateWindow();
}

void CClipDlg::OnJoinFiles() {
    if (m_pJoinDlg == nullptr) {
        auto join = [this](const std::vector<QString>& files, const QString& strOutput) {
            std::vector<std::string> paths;
            for (const QString& file : files) {
                paths.push_back(ToFileSystemPath(file));
            }
            const std::string output = ToFileSystemPath(strOutput);
            RunSplit([paths, output](CSplitEngine& engine, CMpegSource&) {
                return engine.Join(paths, output);
            });
        };
        auto error = [this](const QString& text) { ShowMessage(u"Error"_s, text); };
        m_pJoinDlg = new CJoinDlg(this, m_shell.fileDialogs, join, error);
    }
    m_pJoinDlg->show();
    m_pJoinDlg->raise();
    m_pJoinDlg->activateWindow();
}

void CClipDlg::OnSplitBySizeStart() {
    if (m_bBusy || m_strInfoLine.isEmpty()) {
        return;
    }
    if (!DoDataExchange(true)) {
        return;
    }
    if (m_nPieceCount < 1) {
        return;
    }
    const int32_t count = m_nPieceCount;
    const std::string folder = TakeOutputFolderText();
    RunSplit([count, folder](CSplitEngine& engine, CMpegSource& source) {
        return engine.SplitBySize(source, count, folder);
    });
}

void CClipDlg::OnSplitByTimeStart() {
    if (m_bBusy || m_source.m_nTotalSeconds == 0 || !m_source.HasSourcePath()) {
        return;
    }
    // Read straight from the field: this command runs no exchange, so a time field holding
    // no number does not stop it.
    const QString text = m_pPieceSecondsEdit->text().left(static_cast<int>(kPieceLengthTextMax));
    m_nPieceSeconds = ParsePieceLength(text.toStdString());
    const int32_t seconds = m_nPieceSeconds;
    const std::string folder = TakeOutputFolderText();
    RunSplit([seconds, folder](CSplitEngine& engine, CMpegSource& source) {
        return engine.SplitByTime(source, seconds, folder);
    });
}
