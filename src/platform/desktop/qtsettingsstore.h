// The settings store on QSettings: ~/.config/<company>/<application>.conf, one group per
// section, string values.
#pragma once

#include "platform/desktop/settingsstore.h"

class CQtSettingsStore final : public ISettingsStore {
public:
    QString ReadString(const CSettingsScope& scope, const QString& strSection,
                       const QString& strName, const QString& strDefault) override;
    bool WriteString(const CSettingsScope& scope, const QString& strSection, const QString& strName,
                     const QString& strValue) override;
};
