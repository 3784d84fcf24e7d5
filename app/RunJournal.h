// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunStore.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zwirl {

// The clicks of the open run, kept in a file as they come, so that a run outlives a process
// that does not end in order (a crash, kill -9, the OOM killer, a power cut). One file per run
// in folderPath(): a header with the format version and the run's start time, then one
// fixed-size record with a checksum per click. An append is one write on the caller's thread;
// a thread of the journal's own makes the file durable at most once a second and when the run
// is closed, so the click path never waits for the disk. A journal stays until its run is in
// the files or in the run store; the caller removes it then.
class RunJournal {
public:
    static constexpr quint32 kVersion = 1;

    // $XDG_STATE_HOME/zwirl, ~/.local/state/zwirl without it.
    static QString folderPath();

    RunJournal();
    // Makes what was appended durable.
    ~RunJournal();
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Starts the journal of a run begun at `start`; false (with a log line) when it cannot be
    // written. A journal still open is closed first.
    bool open(const QDateTime& start);
    // Appends one click; false when it could not be written.
    bool append(const ClickSample& sample);
    // Ends the open journal (its last sync runs on the journal's thread) and gives its path;
    // empty when none was open.
    QString close();

    // The most records a journal is read for: a hundred times a run's limit, so a run kept in
    // one journal by an earlier version is read whole, and a file of any size costs no more.
    static constexpr quint32 kMaxRecords = 1000000;

    // A run found in a journal that its process left behind.
    struct Found {
        QString path;
        RecordedRun run;
        // Records were left out (damaged, not valid clicks, beyond kMaxRecords): once the run
        // is saved the file is set aside instead of removed.
        bool damaged = false;
        // The run was being saved under this name suffix (1: none) when the journal was last
        // written: see markSaved().
        std::optional<int> savedAs;
    };
    struct Scan {
        std::vector<Found> found; // oldest first
        int setAside = 0;         // journals that could not be read at all, renamed aside
    };
    // The journals in the folder that no running process holds, with every record whose
    // checksum holds and whose click is valid (the end date is the last write). Only regular
    // files are opened, never through a link, the header first, and no more than kMaxRecords.
    // An empty journal (a start on a full disk) is removed; anything else that cannot be read
    // (a link, a FIFO, a folder, no permission, a bad header, a newer format, no valid click)
    // is renamed aside to "<name>.unreadable" and counted.
    static Scan leftBehind();
    // Writes `run` as complete journals of at most `limit` clicks each, made durable, under
    // names that were free, which leftBehind() finds in order; none (and none left) on a
    // failure.
    static std::vector<Found> keep(const RecordedRun& run, std::size_t limit);
    // Notes in the journal at `path` that its run's files are given their names with the
    // suffix `suffix` (from 1: none) next; 0 takes the note back. The journal is dated `end`
    // (the run's end, which the names hold), unless that is not valid. False when it cannot be
    // written.
    static bool markSaved(const QString& path, int suffix, const QDateTime& end = {});
    // A journal without clicks that says the run begun at `start` and ended at `end` is being
    // saved with the suffix `suffix`, for a run kept elsewhere (the run store); its path, empty
    // when it cannot be written.
    static QString writeSavedMark(const QDateTime& start, const QDateTime& end, int suffix);
    // Takes a journal whose run is saved out of the folder: removed, or renamed aside to
    // "<name>.damaged" when some of it could not be read. False when neither could be done.
    static bool retire(const QString& path, bool damaged);

private:
    void syncLoop();

    int m_fd = -1;
    QString m_path;
    quint32 m_count = 0;
    std::atomic<bool> m_dirty = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<int> m_closing; // ended journals, synced and closed by the thread
    bool m_created = false;     // a journal was made since the last sync of the folder
    bool m_stop = false;
    std::thread m_syncer;
};

} // namespace zwirl
