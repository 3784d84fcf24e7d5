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

// The runs kept across processes: a run open at quit, and a run whose export failed. The
// oldest lives under the quit keys (where earlier versions of zwirl keep their one run), any
// later ones after it. The only writer of stored runs; each change is one read-modify-write
// under a lock, so an export ending on the worker and a quit on the main thread cannot undo
// each other. Safe to use from any thread.
class RunStore {
public:
    explicit RunStore(Settings& settings) : m_settings(settings) {}

    // The stored runs, oldest first. A stored run without a valid sample is forgotten.
    std::vector<RecordedRun> runs();
    // Keeps a run after those already kept; false when the settings could not be written.
    bool add(const RecordedRun& run);
    // Forgets the first kept run equal to `run`; false when none is, or when the settings could
    // not be written (the run is then forgotten by this process only).
    bool remove(const RecordedRun& run);

private:
    // `whole` tells whether every stored value was valid.
    std::vector<RecordedRun> read(bool* whole = nullptr) const;
    bool write(const std::vector<RecordedRun>& runs);

    Settings& m_settings;
    QMutex m_mutex;
    bool m_toldWriteFailure = false;
};

} // namespace zwirl
