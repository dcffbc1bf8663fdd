// A static text that shows a value rather than a caption: the information line, the position
// display and the each-size display. Screen readers hear the value itself.
#pragma once

#include <QLabel>

class CDisplayStatic final : public QLabel {
    Q_OBJECT

public:
    // strName names the control while it shows nothing.
    CDisplayStatic(const QString& strName, QWidget* pParent);

    // Shows the text, and makes it the control's accessible name, announcing the change to
    // assistive technology; an empty text gives the control its name back.
    void SetWindowText(const QString& strText);

private:
    QString m_strName;
};
