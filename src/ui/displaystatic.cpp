#include "ui/displaystatic.h"

CDisplayStatic::CDisplayStatic(const QString& strName, QWidget* pParent)
    : QLabel(pParent), m_strName(strName) {
    setTextFormat(Qt::PlainText);
    setAccessibleName(m_strName);
}

void CDisplayStatic::SetWindowText(const QString& strText) {
    // The position display is set again at every paint of the window: setting the text it
    // already shows must not ask for another paint.
    if (strText != text()) {
        setText(strText);
    }
    // Every new name is announced to assistive technology (a name-change event), even one equal
    // to the last; the position display is set again at every refresh and every paint, and a
    // screen reader must hear only what changes.
    const QString strAccessibleName = strText.isEmpty() ? m_strName : strText;
    if (strAccessibleName != accessibleName()) {
        setAccessibleName(strAccessibleName);
    }
}
