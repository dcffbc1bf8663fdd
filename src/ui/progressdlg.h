// The progress of a long command, shown when it takes more than a moment: the file being
// written ("piece 3 of 10: show_2.mpg", or the clip's name), a bar over all the bytes the
// command writes, and Cancel. In front of the main window, which keeps painting behind it and
// takes no input meanwhile.
#pragma once

#include <QDialog>

#include <cstdint>

#include "mpeg/progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressDlg final : public QDialog {
    Q_OBJECT

public:
    // Steps of the bar.
    static constexpr int kBarSteps = 1000;

    explicit CProgressDlg(QWidget* pOwner);

    // What the dialog says of an output: "piece 3 of 10: show_2.mpg" in a series, the file's
    // name alone for a command that writes one file.
    static QString DescribeOutput(const CProgressOutput& output);

    // Shows the output and the share of the whole command written. The bar never goes back.
    void ShowProgress(const CProgressOutput& output, int64_t written);
    // Empties the text and the bar, for the next command.
    void Reset();

    QString Text() const;
    int BarValue() const;
    QPushButton* CancelButton() const { return m_pCancel; }

Q_SIGNALS:
    // Cancel was pressed (or Escape, or the close box); the button is then disabled.
    void CancelRequested();

protected:
    void reject() override;

private:
    QLabel* m_pText;
    QProgressBar* m_pBar;
    QPushButton* m_pCancel;
    QString m_strFullText;
};
