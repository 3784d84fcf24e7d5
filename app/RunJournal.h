#pragma once

#include "app/RunStore.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
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
    // Makes the names in the folder at `path` durable (after a file is made or renamed there).
    static void syncFolder(const QString& path);

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

    // A run found in a journal that its process left behind.
    struct Found {
        QString path;
        RecordedRun run;
    };
    // The journals in the folder that no running process holds, oldest first, with the clicks
    // up to the first record that is torn or damaged (the end date is the last write). A
    // journal without clicks is removed; one that cannot be read (a bad header, a newer format)
    // is renamed aside to "<name>.unreadable" and counted in `setAside`.
    static std::vector<Found> leftBehind(int& setAside);
    // Writes `run` as complete journals of at most `limit` clicks each, made durable, which
    // leftBehind() finds in order; false (and none written) on a failure.
    static bool keep(const RecordedRun& run, std::size_t limit);

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
