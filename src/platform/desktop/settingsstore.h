// The per-user settings store: string values addressed by section and value name, kept apart
// per company key and application name.
#pragma once

#include <QString>

// Where one application's settings live. A renamed executable has a different application name
// and therefore settings of its own.
struct CSettingsScope {
    QString strCompany;
    QString strApplication;
};

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;

    // The stored string, or strDefault when the section or the value is missing or the store
    // cannot be read. Reading never creates the value.
    virtual QString ReadString(const CSettingsScope& scope, const QString& strSection,
                               const QString& strName, const QString& strDefault) = 0;

    // Stores the string, creating the section as needed. False when the store cannot be
    // opened or the value cannot be written.
    virtual bool WriteString(const CSettingsScope& scope, const QString& strSection,
                             const QString& strName, const QString& strValue) = 0;
};
