// The four kinds of modal message box the program shows, and the service that shows them.
// Each kind fixes its owner, caption, buttons and icon; callers give only what varies.
#pragma once

#include <QString>

class QWidget;

enum class EMessageBoxKind {
    Owned,            // 1: owned by the main window, explicit caption, OK, no icon
    Application,      // 2: caption = application name, OK, exclamation, owned by the active window
    ReplaceQuestion,  // 3: no owner, caption "Warning", Yes and No, exclamation
    Preview,          // 4: no owner, caption "Message" or "Error", OK, no icon
};

enum class EMessageBoxButtons { Ok, YesNo };
enum class EMessageBoxIcon { None, Exclamation };
enum class EMessageBoxAnswer { Ok, Yes, No };

struct CMessageBoxRequest {
    EMessageBoxKind kind = EMessageBoxKind::Owned;
    // The owning window; null for no owner. For the application kind it stays null here and
    // the box is owned by whatever window is active when it is shown.
    QWidget* pOwner = nullptr;
    QString strCaption;
    QString strText;
    EMessageBoxButtons buttons = EMessageBoxButtons::Ok;
    EMessageBoxIcon icon = EMessageBoxIcon::None;
};

CMessageBoxRequest OwnedMessage(QWidget* pOwner, const QString& strCaption, const QString& strText);
CMessageBoxRequest ApplicationMessage(const QString& strApplicationName, const QString& strText);
CMessageBoxRequest ReplaceQuestion(const QString& strText);
CMessageBoxRequest PreviewMessage(const QString& strCaption, const QString& strText);

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;

    // Shows the box modally and returns the button pressed. A Yes/No box closed without an
    // answer counts as No; an OK box always answers Ok.
    virtual EMessageBoxAnswer Show(const CMessageBoxRequest& request) = 0;
};
