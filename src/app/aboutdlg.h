// The About box (template IDD_ABOUTBOX): the icon, the version and the maker, and OK.
#pragma once

#include <QDialog>

class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};
