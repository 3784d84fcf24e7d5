// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QDateTime>
#include <QMutex>
#include <QSettings>
#include <QVariantList>

#include <optional>

namespace zwirl {

// ~/.config/zwirl/zwirl.conf, from any thread; a value of the wrong form reads as absent.
class Settings {
public:
    static QString defaultFileName();
    explicit Settings(const QString& fileName = defaultFileName())
        : m_settings(fileName, QSettings::IniFormat) {}

    // The run kept at quit for the next launch; absent when no sample is valid. `whole` tells
    // whether the quit keys hold nothing invalid.
    std::optional<Samples> quitSamples(bool* whole = nullptr) const;
    QDateTime quitStartDate() const { return date(kQuitStart); }
    QDateTime quitEndDate() const { return date(kQuitEnd); }
    bool hasQuitRun() const;
    void setQuitRun(const Samples& samples, const QDateTime& start, const QDateTime& end);
    void removeQuitRun();
    // Runs kept after the one under the quit keys, each a map of "samples", "start", "end".
    QVariantList laterRuns() const { return value(kLaterRuns).toList(); }
    void setLaterRuns(const QVariantList& runs) {
        setValue(kLaterRuns, runs.isEmpty() ? QVariant() : QVariant(runs));
    }

    // Whether zwirl starts at login; absent until set.
    std::optional<bool> startAtLogin() const;
    void setStartAtLogin(bool start) { setValue(kStartup, start); }

    // False when the file could not be written.
    bool sync();
    QString fileName() const { return m_settings.fileName(); }

    // The entries that are three numbers from 0 to 1, absent when none is; `whole` tells
    // whether every entry was.
    static std::optional<Samples> validSamples(const QVariant& stored, bool* whole = nullptr);
    static QVariantList toVariant(const Samples& samples);

private:
    static inline const QString kQuitSamples = "de.tolvarek.zwirl.quit-key-samples",
                                kQuitStart = "de.tolvarek.zwirl.quit-key-startdate",
                                kQuitEnd = "de.tolvarek.zwirl.quit-key-enddate",
                                kStartup = "de.tolvarek.zwirl.startup-key",
                                kLaterRuns = "de.tolvarek.zwirl.later-runs";
    QVariant value(const QString& key) const;
    QDateTime date(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);

    mutable QMutex m_mutex;
    QSettings m_settings;
};

} // namespace zwirl
