// A settings store in memory that records every write and can be told to fail them.
#pragma once

#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/desktop/settingsstore.h"

class CFakeSettingsStore final : public ISettingsStore {
public:
    struct CWrite {
        CSettingsScope scope;
        QString strSection;
        QString strName;
        QString strValue;
    };

    QString ReadString(const CSettingsScope& scope, const QString& strSection,
                       const QString& strName, const QString& strDefault) override {
        const auto it = m_values.find(Key(scope, strSection, strName));
        return it == m_values.end() ? strDefault : it->second;
    }

    bool WriteString(const CSettingsScope& scope, const QString& strSection, const QString& strName,
                     const QString& strValue) override {
        m_writes.push_back({scope, strSection, strName, strValue});
        if (m_bFailWrites) {
            return false;
        }
        m_values[Key(scope, strSection, strName)] = strValue;
        return true;
    }

    // Puts a value in place as if an earlier run had stored it; not recorded as a write.
    void Preset(const CSettingsScope& scope, const QString& strSection, const QString& strName,
                const QString& strValue) {
        m_values[Key(scope, strSection, strName)] = strValue;
    }

    std::optional<QString> Value(const CSettingsScope& scope, const QString& strSection,
                                 const QString& strName) const {
        const auto it = m_values.find(Key(scope, strSection, strName));
        return it == m_values.end() ? std::nullopt : std::optional<QString>(it->second);
    }

    const std::vector<CWrite>& Writes() const { return m_writes; }
    void ClearWrites() { m_writes.clear(); }
    void SetFailWrites(bool bFail) { m_bFailWrites = bFail; }

private:
    using CKey = std::tuple<QString, QString, QString, QString>;
    static CKey Key(const CSettingsScope& scope, const QString& strSection,
                    const QString& strName) {
        return {scope.strCompany, scope.strApplication, strSection, strName};
    }

    std::map<CKey, QString> m_values;
    std::vector<CWrite> m_writes;
    bool m_bFailWrites = false;
};
