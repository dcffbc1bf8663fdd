// Where the split commands write: the output file of the clip cut and the output folder of
// the series, each chosen with its Browse button and kept in the settings.
#include <QFileInfo>
#include <QLineEdit>

#include <climits>

#include "app/clipapp.h"
#include "app/pathparts.h"
#include "ui/clipdlg.h"

using namespace Qt::StringLiterals;

namespace {

// Beyond the platform's path limit a path cannot be created; such a choice is refused whole
// rather than shortened into some other file's name.
bool FitsPathLimit(const QString& strPath) {
    return strPath.toUtf8().size() < PATH_MAX;
}

}  // namespace

void CClipDlg::OnBrowseOutputFile() {
    // The dialog starts in the folder of the stored output file, not of text typed since.
    const qsizetype nLast = m_strOutputFile.lastIndexOf(kPathSeparator);
    QString strInitialFolder = u"."_s;
    if (nLast == 0) {
        strInitialFolder = QString(kPathSeparator);
    } else if (nLast > 0) {
        strInitialFolder = m_strOutputFile.left(nLast);
    }
    const std::optional<QString> chosen = m_shell.fileDialogs.GetSaveFileName(
        this, u"Select Output"_s, {u"MPEG file(*.mpg)"_s, u"*.mpg"_s}, strInitialFolder);
    if (!chosen) {
        return;
    }
    // Whatever extension was typed or chosen, the clip is an .mpg file.
    const QString strPath = RemoveFileExtension(*chosen) + u".mpg"_s;
    if (!FitsPathLimit(strPath)) {
        return;
    }
    m_strOutputFile = strPath;
    m_app.WriteSetting(u"Option"_s, u"output_cut_file"_s, m_strOutputFile);
    m_pOutputFileEdit->setText(m_strOutputFile);
}

void CClipDlg::OnBrowseFolder() {
    BrowseForFolder(this, m_strOutputFolder);
    // Piece names are put directly after the folder, so it needs its final separator; the
    // root folder has one already. This runs when the browser was cancelled too, so the field
    // always shows the value that is stored.
    if (m_strOutputFolder.size() > 1 && !m_strOutputFolder.endsWith(kPathSeparator)) {
        m_strOutputFolder += kPathSeparator;
    }
    m_app.WriteSetting(u"Option"_s, u"output_folder"_s, m_strOutputFolder);
    m_pOutputFolderEdit->setText(m_strOutputFolder);
}

bool CClipDlg::BrowseForFolder(QWidget* pOwner, QString& strFolder) {
    // The browser opens at the current folder; where that is gone (or was never made), at the
    // top of the user's own folders.
    const QString strStart =
        !strFolder.isEmpty() && QFileInfo(strFolder).isDir()
            ? strFolder
            : m_shell.shellFolders.GetFolderPath(CSIDL_DESKTOP).value_or(QString());
    const std::optional<QString> chosen =
        m_shell.fileDialogs.BrowseForFolder(pOwner, u"Choose a folder"_s, strStart);
    // A folder whose piece paths could never be created is refused like a cancel.
    if (!chosen || !FitsPathLimit(*chosen + kPathSeparator)) {
        return false;
    }
    strFolder = *chosen;
    return true;
}
