// The open-file dialog, the save dialog and the folder browser. Each answers the chosen path,
// or nothing when the user cancels or the dialog fails.
#pragma once

#include <optional>
#include <vector>

#include <QString>

class QWidget;

// One file-type filter: the text the user sees and its patterns separated by ';'
// (for example "MPEG File(*.mpg;*.mpeg)" and "*.mpg;*.mpeg").
struct CFileFilter {
    QString strText;
    QString strPattern;
};

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;

    // Asks for a file to open, starting at strInitialFile (its folder and name; empty for
    // none), offering the filters in their order with the first one selected. The chosen
    // file need not exist.
    virtual std::optional<QString> GetOpenFileName(QWidget* pOwner, const QString& strTitle,
                                                   const std::vector<CFileFilter>& filters,
                                                   const QString& strInitialFile) = 0;

    // Asks for files to open, several at once, starting in strInitialFolder; in the order the
    // user chose them, none when cancelled.
    virtual std::vector<QString> GetOpenFileNames(QWidget* pOwner, const QString& strTitle,
                                                  const std::vector<CFileFilter>& filters,
                                                  const QString& strInitialFolder) = 0;

    // Asks for a file to write, starting in strInitialFolder. Never asks before replacing a
    // file and adds no extension.
    virtual std::optional<QString> GetSaveFileName(QWidget* pOwner, const QString& strTitle,
                                                   const CFileFilter& filter,
                                                   const QString& strInitialFolder) = 0;

    // Asks for a file-system folder, starting in strInitialFolder.
    virtual std::optional<QString> BrowseForFolder(QWidget* pOwner, const QString& strTitle,
                                                   const QString& strInitialFolder) = 0;
};
