// File and folder dialogs shown with QFileDialog.
#pragma once

#include "platform/desktop/filedialogs.h"

class QFileDialog;

class CQtFileDialogs final : public IFileDialogs {
public:
    std::optional<QString> GetOpenFileName(QWidget* pOwner, const QString& strTitle,
                                           const std::vector<CFileFilter>& filters,
                                           const QString& strInitialFile) override;
    std::vector<QString> GetOpenFileNames(QWidget* pOwner, const QString& strTitle,
                                          const std::vector<CFileFilter>& filters,
                                          const QString& strInitialFolder) override;
    std::optional<QString> GetSaveFileName(QWidget* pOwner, const QString& strTitle,
                                           const CFileFilter& filter,
                                           const QString& strInitialFolder) override;
    std::optional<QString> BrowseForFolder(QWidget* pOwner, const QString& strTitle,
                                           const QString& strInitialFolder) override;

    // The filter in QFileDialog's form: the text before its parenthesis, then the patterns
    // separated by blanks, so "MPEG File(*.mpg;*.mpeg)" becomes "MPEG File(*.mpg *.mpeg)".
    static QString NameFilter(const CFileFilter& filter);
    // Offers the filters in their order and selects the first.
    static void SetNameFilters(QFileDialog& dialog, const std::vector<CFileFilter>& filters);
};
