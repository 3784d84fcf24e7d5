// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunStore.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace zwirl {

// The clicks of the open run, kept in a file as they come, so that a run outlives a process
// that does not end in order (a crash, kill -9, a power cut). One file per run in folderPath():
// a header with the format version and the run's start, then a fixed-size record with a
// checksum per click; the file's date is the run's end. An append is one write on the caller's
// thread; a thread of the journal's own makes the file durable at most once a second and when
// the run is closed, so the click path never waits for the disk.
class RunJournal {
public:
    // The most records read from one journal, so a file of any size costs no more.
    static constexpr quint32 kMaxRecords = 1000000;

    // $XDG_STATE_HOME/zwirl, ~/.local/state/zwirl without it.
    static QString folderPath();

    RunJournal();
    ~RunJournal(); // makes what was appended durable
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // Starts the journal of a run begun at `start` (closing one still open); false, with a log
    // line, when it cannot be written.
    bool open(const QDateTime& start);
    bool append(const ClickSample& sample);
    // Ends the open journal and gives its path; empty when none was open.
    QString close();

    // A run in a journal that its process left behind.
    struct Found {
        QString path;
        RecordedRun run;
        // Records were left out: once the run is saved the file is set aside, not removed.
        bool damaged = false;
        // The name suffix (1: none) its files were being given: see markSaved().
        std::optional<int> savedAs = {};
    };
    struct Scan {
        std::vector<Found> found;
        int setAside = 0; // journals that could not be read at all, renamed aside
    };
    // The journals in the folder that no running process holds, with every record whose
    // checksum holds and whose click is valid. An empty journal (a start on a full disk) is
    // removed; anything else that cannot be read (a link, a FIFO, a folder, no permission, a
    // bad header, a newer format, no valid click) is renamed to "<name>.unreadable".
    static Scan leftBehind();
    // Writes `run` as a complete, durable journal, under the name a journal of its start gets
    // in this process; its path, empty on a failure.
    static QString write(const RecordedRun& run);
    // A journal of more than `limit` clicks becomes durable journals of `limit` clicks each,
    // named after it, and goes; `found` alone otherwise, also when that fails.
    static std::vector<Found> split(Found found, std::size_t limit);
    // Notes in the journal that its run's files get their names with `suffix` (from 1: none)
    // next, and dates it `end`, which the names hold; 0 takes the note back.
    static bool markSaved(const QString& path, int suffix, const QDateTime& end = {});
    // Removes a journal whose run is saved, or renames it to "<name>.damaged" when some of it
    // could not be read.
    static bool retire(const QString& path, bool damaged);

private:
    void syncLoop(std::stop_token stop);

    int m_fd = -1;
    QString m_path;
    quint32 m_count = 0;
    std::atomic<bool> m_dirty = false;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::vector<int> m_closing; // ended journals, synced and closed by the thread
    bool m_created = false;     // a journal was made since the last sync of the folder
    std::jthread m_syncer;
};

} // namespace zwirl
