// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/Settings.h"

#include "services/ServicesLog.h"

#include <QStandardPaths>

namespace zwirl {

QDateTime Settings::date(const QString& key) const {
    const QVariant stored = value(key);
    return stored.typeId() == QMetaType::QDateTime ? stored.toDateTime() : QDateTime();
}

QString Settings::defaultFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zwirl/zwirl.conf");
}

QVariant Settings::value(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_settings.value(key);
}

// A null value removes the key.
void Settings::setValue(const QString& key, const QVariant& value) {
    QMutexLocker lock(&m_mutex);
    if (value.isNull())
        m_settings.remove(key);
    else
        m_settings.setValue(key, value);
}

// The stored list is read once: for a long run it is the slow part of a launch.
std::optional<Samples> Settings::quitSamples(bool* whole) const {
    const QVariant stored = value(kQuitSamples);
    if (stored.isValid())
        return validSamples(stored, whole);
    if (whole)
        *whole = !hasQuitRun(); // dates without samples
    return std::nullopt;
}

bool Settings::hasQuitRun() const {
    return value(kQuitSamples).isValid() || value(kQuitStart).isValid() ||
           value(kQuitEnd).isValid();
}

void Settings::setQuitRun(const Samples& samples, const QDateTime& start, const QDateTime& end) {
    setValue(kQuitSamples, toVariant(samples));
    setValue(kQuitStart, start);
    setValue(kQuitEnd, end);
}

void Settings::removeQuitRun() {
    for (const QString& key : {kQuitSamples, kQuitStart, kQuitEnd})
        setValue(key, {});
}

std::optional<bool> Settings::startAtLogin() const {
    // The file gives a boolean back as the word it wrote.
    const QVariant stored = value(kStartup);
    const QString word = stored.toString();
    if (word == QLatin1String("true") || word == QLatin1String("false"))
        return word == QLatin1String("true");
    if (stored.isValid())
        qCWarning(lcServices) << "ignoring a startup setting that is not a boolean:" << stored;
    return std::nullopt;
}

bool Settings::sync() {
    QMutexLocker lock(&m_mutex);
    m_settings.sync();
    QSettings::Status status = m_settings.status();
    // Qt keeps reporting a line it could not read even once the file is written anew without
    // it: a fresh read tells.
    if (status == QSettings::FormatError) {
        const QSettings fresh(m_settings.fileName(), QSettings::IniFormat);
        fresh.contains(kStartup);
        status = fresh.status();
    }
    if (status == QSettings::NoError)
        return true;
    qCWarning(lcServices) << "could not write the settings to" << m_settings.fileName();
    return false;
}

std::optional<Samples> Settings::validSamples(const QVariant& stored, bool* whole) {
    const QVariantList entries = stored.toList();
    Samples valid;
    valid.reserve(std::size_t(entries.size()));
    qsizetype dropped = 0, firstDropped = -1;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QVariantList components = entries[i].toList();
        ClickSample sample{};
        bool ok = components.size() >= 3;
        for (int c = 0; ok && c < 3; ++c)
            sample[c] = components[c].toDouble(&ok);
        if (ok && isValidSample(sample))
            valid.push_back(sample);
        else if (dropped++ == 0)
            firstDropped = i;
    }
    // One line however many there are: an entry may be huge.
    if (dropped > 0)
        qCWarning(lcServices).nospace()
            << "dropping stored click samples that are not three numbers from 0 to 1: " << dropped
            << " of " << entries.size() << ", the first at " << firstDropped;
    if (valid.empty())
        qCWarning(lcServices) << "the stored clicks hold no valid sample";
    if (whole)
        *whole = dropped == 0 && !valid.empty();
    return valid.empty() ? std::nullopt : std::optional(std::move(valid));
}

QVariantList Settings::toVariant(const Samples& samples) {
    QVariantList list;
    for (const ClickSample& s : samples)
        list.append(QVariant(QVariantList{s[0], s[1], s[2]}));
    return list;
}

} // namespace zwirl
