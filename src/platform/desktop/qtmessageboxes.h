// Message boxes shown with QMessageBox.
#pragma once

#include <memory>

#include "platform/desktop/messageboxes.h"

class QMessageBox;

class CQtMessageBoxes final : public IMessageBoxes {
public:
    EMessageBoxAnswer Show(const CMessageBoxRequest& request) override;

    // The box Show would run, not yet shown; exposed so its owner, caption, buttons and icon
    // can be checked without a modal loop.
    static std::unique_ptr<QMessageBox> Build(const CMessageBoxRequest& request);
};
