#include "ui/displaystatic.h"

CDisplayStatic::CDisplayStatic(const QString& strName, QWidget* pParent)
    : QLabel(pParent), m_strName(strName) {
    setTextFormat(Qt::PlainText);
    setAccessibleName(m_strName);
}

void CDisplayStatic::SetWindowText(const QString& strText) {
    setText(strText);
    // A new name is announced to assistive technology (a name-change event) by the toolkit.
    setAccessibleName(strText.isEmpty() ? m_strName : strText);
}
