// The preview's popup menu (menu resource 130, popup "PREVIEW") and its command numbers.
#pragma once

class QAction;
class QMenu;
class QWidget;

inline constexpr int IDR_PREVIEW_MENU = 130;

inline constexpr int ID_PREVIEW_PLAY = 32771;
inline constexpr int ID_PREVIEW_PAUSE = 32772;
inline constexpr int ID_PREVIEW_STOP = 32773;
inline constexpr int ID_PREVIEW_CLOSE = 32774;
inline constexpr int ID_PREVIEW_FULLSCREEN = 32775;
inline constexpr int ID_PREVIEW_NORMALSIZE = 32776;
inline constexpr int ID_PREVIEW_NEXTPICTURE = 32777;
inline constexpr int ID_PREVIEW_PREVPICTURE = 32778;
inline constexpr int ID_PREVIEW_NEXTKEYPICTURE = 32779;
inline constexpr int ID_PREVIEW_PREVKEYPICTURE = 32780;

// A new popup with every item enabled and unchecked, owned by pParent. Each item's data and
// object name carry its command number; the picture commands show their keys, which the
// preview window handles (the menu's own shortcuts act only while it is open).
QMenu* LoadPreviewMenu(QWidget* pParent);

// The item of a command, or null.
QAction* PreviewMenuItem(const QMenu* pMenu, int nCommand);
