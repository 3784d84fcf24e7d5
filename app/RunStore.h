// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QDateTime>
#include <QMutex>

#include <vector>

namespace zwirl {

class Settings;

// A finished tracking run: its clicks and the dates it began and ended.
struct RecordedRun {
    Samples samples;
    QDateTime start;
    QDateTime end;
    bool operator==(const RecordedRun&) const = default;
};

// The runs kept in the settings file across processes: the oldest under the quit keys (where
// earlier versions keep their one run), later ones after it. Each change is one locked
// read-modify-write: an export ending on the worker and a quit cannot undo each other.
class RunStore {
public:
    explicit RunStore(Settings& settings) : m_settings(settings) {}

    // The stored runs, oldest first; one without a valid sample is forgotten.
    std::vector<RecordedRun> runs();
    // These are false when the settings could not be written.
    bool add(const RecordedRun& run);
    // Forgets the first run equal to `run`; false also when none is.
    bool remove(const RecordedRun& run);

private:
    std::vector<RecordedRun> read(bool* whole = nullptr) const;
    bool write(const std::vector<RecordedRun>& runs);

    Settings& m_settings;
    QMutex m_mutex;
    bool m_toldWriteFailure = false;
};

} // namespace zwirl
