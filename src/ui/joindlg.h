// "Join MPEG files...": the recordings to join, in the order shown and changeable, and the
// output file; Join hands them to the main window, which writes them with the same progress
// and Cancel as a split.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class COrderedList;
class IFileDialogs;
class QLineEdit;

class CJoinDlg : public QDialog {
    Q_OBJECT

public:
    using StartJoin =
        std::function<void(const std::vector<QString>& files, const QString& strOutput)>;
    using ShowError = std::function<void(const QString& text)>;

    CJoinDlg(QWidget* pParent, IFileDialogs& fileDialogs, StartJoin startJoin, ShowError showError);

    std::vector<QString> Files() const;
    void AddFiles(const std::vector<QString>& files);

    void OnAddFiles();
    void OnBrowseOutput();
    void OnJoin();

    QLineEdit* OutputEdit() const { return m_pOutput; }

private:
    IFileDialogs& m_fileDialogs;
    StartJoin m_startJoin;
    ShowError m_showError;
    COrderedList* m_pFiles = nullptr;
    QLineEdit* m_pOutput = nullptr;
};
