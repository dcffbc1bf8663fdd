// Dialog units: control positions given in quarters of the dialog font's average character
// width and eighths of its height, so a dialog laid out in them scales with its font.
#pragma once

#include <QFont>
#include <QRect>

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    // The font dialogs are laid out with: the desktop's (the application font), so the layout
    // follows the desktop's font and scale; where the desktop names none, FallbackFont().
    static QFont DialogFont();
    // DejaVu Sans at 8 points, whose proportions let the controls' texts fit the sizes they
    // were given.
    static QFont FallbackFont();

    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

    int ToPixelsX(int nUnits) const { return nUnits * m_nBaseX / 4; }
    int ToPixelsY(int nUnits) const { return nUnits * m_nBaseY / 8; }
    QRect ToPixels(int x, int y, int cx, int cy) const;

private:
    int m_nBaseX;
    int m_nBaseY;
};
