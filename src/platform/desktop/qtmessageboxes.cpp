#include "platform/desktop/qtmessageboxes.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// The active window, or, while it is hidden (a progress dialog just put away, before the
// desktop has made its owner active again), the first of its owners that shows.
QWidget* ShownActiveWindow() {
    QWidget* pWindow = QApplication::activeWindow();
    while (pWindow != nullptr && !pWindow->isVisible()) {
        QWidget* pOwner = pWindow->parentWidget();
        pWindow = pOwner != nullptr ? pOwner->window() : nullptr;
    }
    return pWindow;
}

}  // namespace

std::unique_ptr<QMessageBox> CQtMessageBoxes::Build(const CMessageBoxRequest& request) {
    QWidget* pOwner =
        request.kind == EMessageBoxKind::Application ? ShownActiveWindow() : request.pOwner;
    auto box = std::make_unique<QMessageBox>(pOwner);
    box->setWindowTitle(request.strCaption);
    box->setTextFormat(Qt::PlainText);
    box->setText(request.strText);
    box->setIcon(request.icon == EMessageBoxIcon::Exclamation ? QMessageBox::Warning
                                                              : QMessageBox::NoIcon);
    if (request.buttons == EMessageBoxButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
    }
    return box;
}

EMessageBoxAnswer CQtMessageBoxes::Show(const CMessageBoxRequest& request) {
    const std::unique_ptr<QMessageBox> box = Build(request);
    box->exec();
    if (request.buttons == EMessageBoxButtons::Ok) {
        return EMessageBoxAnswer::Ok;
    }
    return box->clickedButton() == box->button(QMessageBox::Yes) ? EMessageBoxAnswer::Yes
                                                                 : EMessageBoxAnswer::No;
}
