// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunStore.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <future>
#include <vector>

namespace zwirl {

// The clicks of the open run, kept in a file as they come, so that a run outlives a crash, a
// kill or a power cut. One file per run: a header with the run's start, then a checksummed
// record per click; the file's date is the run's end. Threads of its own sync the file, at
// most once a second and at the close, so a click never waits for the disk.
class RunJournal {
public:
    // The most records read from one journal, so a file of any size costs no more.
    static constexpr quint32 kMaxRecords = 1000000;

    // $XDG_STATE_HOME/zwirl, ~/.local/state/zwirl without it.
    static QString folderPath();

    RunJournal();
    ~RunJournal() { close(); }

    // Closes the open journal first; false, with a log line, when it cannot be written.
    bool open(const QDateTime& start);
    bool append(const ClickSample& sample);
    // The closed journal's path; empty when none was open.
    QString close();

    // A run in a journal that its process left behind.
    struct Found {
        QString path;
        RecordedRun run;
        bool damaged = false; // records were left out: once saved, the file is set aside
        int savedAs = 0;      // see markSaved(); 0 when not noted
    };
    struct Scan {
        std::vector<Found> found;
        int setAside = 0; // journals that could not be read at all
    };
    // The journals no running process holds, with every valid click whose record is intact.
    // An empty journal is removed; one that cannot be read at all (a link, a FIFO, no
    // permission, a bad header, a newer format, no valid click) becomes "<name>.unreadable".
    static Scan leftBehind();
    // Writes `run` as a complete, durable journal; its path, empty on a failure.
    static QString write(const RecordedRun& run);
    // Replaces a journal of more than `limit` clicks by journals of `limit` clicks each;
    // `found` alone otherwise, also when that fails.
    static std::vector<Found> split(Found found, std::size_t limit);
    // Notes that the run's files get their names with `suffix` (from 1: none) next, and dates
    // the journal `end`, which the names hold; 0 takes the note back.
    static bool markSaved(const QString& path, int suffix, const QDateTime& end = {});
    // Removes a journal whose run is saved, or renames it to "<name>.damaged".
    static bool retire(const QString& path, bool damaged);

private:
    int m_fd = -1;
    QString m_path;
    quint32 m_count = 0;
    bool m_dirty = false; // appended since the last sync
    QTimer m_syncTimer;
    // Runs `work` on a thread of its own once the sync queued before has ended: a journal's
    // syncs run in order, its close last. Joined threads, unlike a pool's, are gone when the
    // journal is, together with what the C++ and Qt runtimes kept for them.
    void sync(std::function<void()> work);
    std::future<void> m_lastSync; // it ends after every sync before it
};

} // namespace zwirl
