#include "platform/desktop/dialogunits.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Where no desktop setting is found (a bare window manager, no display at all), Qt's Unix
// themes report the generic "Sans Serif" at 9 points: the toolkit's guess, not the desktop's.
bool IsToolkitGuess(const QFont& font) {
    return font.family() == u"Sans Serif"_s && font.pointSizeF() == 9.0;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width over the alphabet, rounded to the nearest pixel, as dialog templates
    // have always measured it.
    const int nAlphabet =
        metrics.horizontalAdvance(u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"_s);
    m_nBaseX = (nAlphabet / 26 + 1) / 2;
    // The height a line of text takes when drawn: the rounded metrics can be a pixel short.
    m_nBaseY = static_cast<int>(std::ceil(QFontMetricsF(font).height()));
}

QFont CDialogUnits::DialogFont() {
    const QFont desktop = QGuiApplication::font();
    return IsToolkitGuess(desktop) ? FallbackFont() : desktop;
}

QFont CDialogUnits::FallbackFont() {
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
