#include "platform/desktop/dialogunits.h"

#include <QFontMetrics>

using namespace Qt::StringLiterals;

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the alphabet, rounded to the nearest pixel, as dialog templates
    // have always measured it.
    const int nAlphabet =
        metrics.horizontalAdvance(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_s);
    m_nBaseX = (nAlphabet / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

QFont CDialogUnits::DialogFont() {
    QFont font(u"DejaVu Sans"_s);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QRect CDialogUnits::ToPixels(int x, int y, int cx, int cy) const {
    // Edges are converted, not sizes, so controls that touch in units touch in pixels.
    const int nLeft = ToPixelsX(x);
    const int nTop = ToPixelsY(y);
    return {nLeft, nTop, ToPixelsX(x + cx) - nLeft, ToPixelsY(y + cy) - nTop};
}
