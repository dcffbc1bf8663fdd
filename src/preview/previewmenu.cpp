#include "preview/previewmenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

using namespace Qt::StringLiterals;

namespace {

struct CMenuItem {
    int nCommand;  // 0: a separator
    const char16_t* pszText;
    // The key shown beside the text; 0: none.
    int nKey = 0;
};

constexpr CMenuItem kPreviewMenu[] = {
    {ID_PREVIEW_FULLSCREEN, u"Full screen"},
    {ID_PREVIEW_NORMALSIZE, u"Normal size"},
    {0, nullptr},
    {ID_PREVIEW_PLAY, u"Play"},
    {ID_PREVIEW_PAUSE, u"pause"},
    {ID_PREVIEW_STOP, u"Stop"},
    {0, nullptr},
    {ID_PREVIEW_NEXTPICTURE, u"Next picture", Qt::Key_Period},
    {ID_PREVIEW_PREVPICTURE, u"Previous picture", Qt::Key_Comma},
    {ID_PREVIEW_NEXTKEYPICTURE, u"Next key picture", Qt::Key_PageDown},
    {ID_PREVIEW_PREVKEYPICTURE, u"Previous key picture", Qt::Key_PageUp},
    {0, nullptr},
    {ID_PREVIEW_CLOSE, u"Close"},
};

}  // namespace

QMenu* LoadPreviewMenu(QWidget* pParent) {
    auto* pMenu = new QMenu(u"PREVIEW"_s, pParent);
    pMenu->setObjectName(QString::number(IDR_PREVIEW_MENU));
    for (const CMenuItem& item : kPreviewMenu) {
        if (item.nCommand == 0) {
            pMenu->addSeparator();
            continue;
        }
        QAction* pAction = pMenu->addAction(QString::fromUtf16(item.pszText));
        pAction->setData(item.nCommand);
        pAction->setObjectName(QString::number(item.nCommand));
        if (item.nCommand == ID_PREVIEW_FULLSCREEN) {
            pAction->setCheckable(true);
        }
        if (item.nKey != 0) {
            // Screen readers announce it as the item's key.
            pAction->setShortcut(QKeySequence(item.nKey));
        }
    }
    return pMenu;
}

QAction* PreviewMenuItem(const QMenu* pMenu, int nCommand) {
    for (QAction* pAction : pMenu->actions()) {
        if (!pAction->isSeparator() && pAction->data().toInt() == nCommand) {
            return pAction;
        }
    }
    return nullptr;
}
