#include "platform/desktop/qtfiledialogs.h"

#include <QFileDialog>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> RunForOnePath(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) {
        return std::nullopt;
    }
    return files.first();
}

}  // namespace

QString CQtFileDialogs::NameFilter(const CFileFilter& filter) {
    QString patterns = filter.strPattern;
    patterns.replace(u';', u' ');
    const qsizetype open = filter.strText.indexOf(u'(');
    const QString text = open < 0 ? filter.strText + u' ' : filter.strText.left(open);
    return text + u'(' + patterns + u')';
}

void CQtFileDialogs::SetNameFilters(QFileDialog& dialog, const std::vector<CFileFilter>& filters) {
    QStringList names;
    for (const CFileFilter& filter : filters) {
        names << NameFilter(filter);
    }
    dialog.setNameFilters(names);
    if (!names.isEmpty()) {
        dialog.selectNameFilter(names.first());
    }
}

std::vector<QString> CQtFileDialogs::GetOpenFileNames(QWidget* pOwner, const QString& strTitle,
                                                      const std::vector<CFileFilter>& filters,
                                                      const QString& strInitialFolder) {
    QFileDialog dialog(pOwner, strTitle, strInitialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    SetNameFilters(dialog, filters);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return {chosen.begin(), chosen.end()};
}

std::optional<QString> CQtFileDialogs::GetOpenFileName(QWidget* pOwner, const QString& strTitle,
                                                       const std::vector<CFileFilter>& filters,
                                                       const QString& strInitialFile) {
    QFileDialog dialog(pOwner, strTitle);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A missing file is the caller's to report, so the dialog takes any name.
    dialog.setFileMode(QFileDialog::AnyFile);
    SetNameFilters(dialog, filters);
    if (!strInitialFile.isEmpty()) {
        const QFileInfo initial(strInitialFile);
        dialog.setDirectory(initial.absolutePath());
        dialog.selectFile(initial.fileName());
    }
    return RunForOnePath(dialog);
}

std::optional<QString> CQtFileDialogs::GetSaveFileName(QWidget* pOwner, const QString& strTitle,
                                                       const CFileFilter& filter,
                                                       const QString& strInitialFolder) {
    QFileDialog dialog(pOwner, strTitle, strInitialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The clip cut asks before it replaces a file; the dialog does not.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(NameFilter(filter));
    return RunForOnePath(dialog);
}

std::optional<QString> CQtFileDialogs::BrowseForFolder(QWidget* pOwner, const QString& strTitle,
                                                       const QString& strInitialFolder) {
    QFileDialog dialog(pOwner, strTitle, strInitialFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return RunForOnePath(dialog);
}
