#pragma once

#include <QMutex>
#include <QSettings>
#include <QVariant>

// The user's defaults: one INI file under the XDG configuration folder
// (~/.config/zwirl/zwirl.conf). Safe to use from any thread.
class UserDefaults {
public:
    static UserDefaults& standardUserDefaults();

    explicit UserDefaults(const QString& fileName);

    QVariant objectForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    void setObject(const QVariant& value, const QString& key);
    void removeObjectForKey(const QString& key);
    // Writes pending changes to disk and picks up changes made by others; false when the
    // file could not be written.
    bool synchronize();

private:
    mutable QMutex m_mutex;
    QSettings m_settings;
};
