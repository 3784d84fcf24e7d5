// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RunStore.h"

#include "services/DROVHelper.h"
#include "services/Settings.h"

#include <QVariantMap>

#include <algorithm>

namespace zwirl {

std::vector<RecordedRun> RunStore::runs() {
    QMutexLocker lock(&m_mutex);
    bool whole = true;
    std::vector<RecordedRun> found = read(&whole);
    if (!whole) // what is not valid goes from the file
        write(found);
    return found;
}

bool RunStore::add(const RecordedRun& run) {
    QMutexLocker lock(&m_mutex);
    std::vector<RecordedRun> kept = read();
    kept.push_back(run);
    return write(kept);
}

bool RunStore::remove(const RecordedRun& run) {
    QMutexLocker lock(&m_mutex);
    std::vector<RecordedRun> kept = read();
    const auto found = std::ranges::find(kept, run);
    if (found == kept.end())
        return false;
    kept.erase(found);
    return write(kept);
}

std::vector<RecordedRun> RunStore::read(bool* whole) const {
    std::vector<RecordedRun> found;
    bool valid = true;
    const auto samples = m_settings.quitSamples(&valid);
    if (samples)
        found.push_back({*samples, m_settings.quitStartDate(), m_settings.quitEndDate()});
    for (const QVariant& entry : m_settings.laterRuns()) {
        const QVariantMap map = entry.toMap();
        bool whole = true;
        const auto later = Settings::validSamples(map.value(QStringLiteral("samples")), &whole);
        valid = valid && whole;
        if (later)
            found.push_back({*later, map.value(QStringLiteral("start")).toDateTime(),
                             map.value(QStringLiteral("end")).toDateTime()});
    }
    if (whole)
        *whole = valid;
    return found;
}

bool RunStore::write(const std::vector<RecordedRun>& runs) {
    if (runs.empty())
        m_settings.removeQuitRun();
    else
        m_settings.setQuitRun(runs.front().samples, runs.front().start, runs.front().end);
    QVariantList later;
    for (std::size_t i = 1; i < runs.size(); ++i)
        later.append(QVariantMap{{QStringLiteral("samples"), Settings::toVariant(runs[i].samples)},
                                 {QStringLiteral("start"), runs[i].start},
                                 {QStringLiteral("end"), runs[i].end}});
    m_settings.setLaterRuns(later);
    if (m_settings.sync())
        return true;
    // Once: each later write would fail alike.
    if (!std::exchange(m_toldWriteFailure, true))
        DROVHelper::notify(QStringLiteral("zwirl could not write its settings file (%1): a run "
                                          "kept for the next launch may not be there.")
                               .arg(m_settings.fileName()));
    return false;
}

} // namespace zwirl
