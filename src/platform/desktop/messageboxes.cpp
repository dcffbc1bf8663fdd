// The fixed parts of each kind of message box.
#include "platform/desktop/messageboxes.h"

using namespace Qt::StringLiterals;

CMessageBoxRequest OwnedMessage(QWidget* pOwner, const QString& strCaption,
                                const QString& strText) {
    return {EMessageBoxKind::Owned, pOwner, strCaption, strText, EMessageBoxButtons::Ok,
            EMessageBoxIcon::None};
}

CMessageBoxRequest ApplicationMessage(const QString& strApplicationName, const QString& strText) {
    return {EMessageBoxKind::Application, nullptr,
            strApplicationName,           strText,
            EMessageBoxButtons::Ok,       EMessageBoxIcon::Exclamation};
}

CMessageBoxRequest ReplaceQuestion(const QString& strText) {
    return {
        EMessageBoxKind::ReplaceQuestion, nullptr, u"Warning"_s, strText, EMessageBoxButtons::YesNo,
        EMessageBoxIcon::Exclamation};
}

CMessageBoxRequest PreviewMessage(const QString& strCaption, const QString& strText) {
    return {EMessageBoxKind::Preview, nullptr, strCaption, strText, EMessageBoxButtons::Ok,
            EMessageBoxIcon::None};
}
