#include "platform/UserDefaults.h"

#include "platform/PlatformLog.h"

#include <QStandardPaths>

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults defaults(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/zwirl/zwirl.conf"));
    return defaults;
}

UserDefaults::UserDefaults(const QString& fileName) : m_settings(fileName, QSettings::IniFormat) {}

QVariant UserDefaults::objectForKey(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_settings.value(key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_settings.value(key).toBool();
}

void UserDefaults::setObject(const QVariant& value, const QString& key) {
    QMutexLocker lock(&m_mutex);
    m_settings.setValue(key, value);
}

void UserDefaults::removeObjectForKey(const QString& key) {
    QMutexLocker lock(&m_mutex);
    m_settings.remove(key);
}

bool UserDefaults::synchronize() {
    QMutexLocker lock(&m_mutex);
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError) {
        qCWarning(lcPlatform) << "could not write the user defaults to" << m_settings.fileName();
        return false;
    }
    return true;
}
