// The cut list: segments of the open recording to keep, made from the main window's Start and
// End fields, in a window of its own. While it holds segments, the By frame Start command
// writes them, into one file or one file a segment. It can be saved to and loaded from a CSV
// file of "start,end[,name]" lines.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "mpeg/cutlist.h"

class COrderedList;
class IFileDialogs;
class QCheckBox;
class QLineEdit;

class CCutListDlg : public QDialog {
    Q_OBJECT

public:
    // The main window's current Start and End in milliseconds; nothing when a field holds no
    // number (the main window has said so).
    using CurrentTimes = std::function<std::optional<std::pair<int64_t, int64_t>>()>;
    using SeekTo = std::function<void(int64_t milliseconds)>;
    using ShowError = std::function<void(const QString& text)>;

    CCutListDlg(QWidget* pParent, IFileDialogs& fileDialogs, CurrentTimes currentTimes,
                SeekTo seekTo, ShowError showError);

    const std::vector<CCutSegment>& Segments() const { return m_segments; }
    CCutList List() const;
    bool OneFilePerSegment() const;

    // The buttons' commands.
    void OnAdd();
    void OnClear();
    void OnApplyEdit();
    void OnSeek();
    void OnSave();
    void OnLoad();

    bool SaveCsv(const QString& strPath);
    bool LoadCsv(const QString& strPath);

private:
    void Refill(int nSelect);
    int Selected() const;
    void OnSelectionChanged();

    IFileDialogs& m_fileDialogs;
    CurrentTimes m_currentTimes;
    SeekTo m_seekTo;
    ShowError m_showError;
    std::vector<CCutSegment> m_segments;

    COrderedList* m_pList = nullptr;
    QLineEdit* m_pEdit = nullptr;
    QCheckBox* m_pSeparate = nullptr;
};
