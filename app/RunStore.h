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
// earlier versions keep their one run), later ones after it. Each change is one
// read-modify-write under a lock, so an export ending on the worker and a quit on the main
// thread cannot undo each other.
class RunStore {
public:
    explicit RunStore(Settings& settings) : m_settings(settings) {}

    // The stored runs, oldest first; one without a valid sample is forgotten.
    std::vector<RecordedRun> runs();
    // False when the settings could not be written.
    bool add(const RecordedRun& run);
    // Forgets the first run equal to `run`; false when none is, or when the settings could not
    // be written.
    bool remove(const RecordedRun& run);

private:
    std::vector<RecordedRun> read(bool* whole = nullptr) const;
    bool write(const std::vector<RecordedRun>& runs);

    Settings& m_settings;
    QMutex m_mutex;
    bool m_toldWriteFailure = false;
};

} // namespace zwirl
