// Each call opens the store afresh, so two copies of the program running at once see each
// other's writes at their next read, as they would with the registry.
#include "platform/desktop/qtsettingsstore.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

QString CQtSettingsStore::ReadString(const CSettingsScope& scope, const QString& strSection,
                                     const QString& strName, const QString& strDefault) {
    QSettings settings(scope.strCompany, scope.strApplication);
    if (settings.status() != QSettings::NoError) {
        return strDefault;
    }
    settings.beginGroup(strSection);
    const QVariant value = settings.value(strName);
    if (!value.isValid()) {
        return strDefault;
    }
    // A value edited by hand into the form a, b comes back as a list; it is still one string.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u',');
    }
    return value.toString();
}

bool CQtSettingsStore::WriteString(const CSettingsScope& scope, const QString& strSection,
                                   const QString& strName, const QString& strValue) {
    QSettings settings(scope.strCompany, scope.strApplication);
    if (!settings.isWritable()) {
        return false;
    }
    settings.beginGroup(strSection);
    settings.setValue(strName, strValue);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}
