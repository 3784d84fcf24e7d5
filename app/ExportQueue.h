// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RunStore.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>

namespace zwirl {

// One run to save, and what comes with its saving.
struct ExportRequest {
    // How the user learns that the files are saved; a failure is always told.
    enum class Tell {
        Nothing,
        Notify,              // the notification with its "Open Folder" button
        NotifyAndOpenFolder, // the notification, and the folder opens
    };

    RecordedRun run = {};
    Tell tell = Tell::Nothing;
    // The run is in the run store too, which forgets it once it is saved; where it cannot, the
    // run's journal stays, marked as saved. A run that is not stored and cannot be saved is
    // stored for the next launch.
    bool stored = false;
    // The journal holding the run, if any: removed once the run is in the files or the store.
    QString journal = {};
    // Records of the journal could not be read: it is set aside instead of removed.
    bool damaged = false;
    // Runs on the main thread after the export.
    std::function<void()> done = {};
};

// Saves finished runs into the zwirl folder on the Desktop: the audio file with its icon and
// the PNG. One export at a time, in order, on a worker thread; what follows an export (opening
// the folder, the caller's completion) runs on the main thread. File names never collide: an
// export that would reuse an existing name gets a suffix.
class ExportQueue : public QObject {
    Q_OBJECT
public:
    explicit ExportQueue(RunStore& store, QObject* parent = nullptr);
    ~ExportQueue() override;

    // The key of the "Open Folder" button on the notification of saved clicks.
    static inline const QString kOpenFolderAction = QStringLiteral("open-folder");
    // The notifications of saving an earlier session's runs: each replaces the one before.
    static inline const QString kRestoreNotifications = QStringLiteral("restore");

    // The user's Desktop (as xdg-user-dirs names it, ~/Desktop otherwise) + "/zwirl".
    static QString outputFolderPath();
    // The output folder; made, with its icon, when nothing is at its place.
    QString makeFolder() const;

    // Saves the request's run after the exports asked for before. A run without clicks saves
    // nothing, and its `done` does not run.
    void enqueue(ExportRequest request);
    // Saves the runs of earlier processes after the exports asked for before, as enqueue()
    // does, and tells the user once when the last is written: one notification, the folder
    // opened once. `done` runs on the main thread then; the runs' own are not used.
    void restore(std::vector<ExportRequest> runs, std::function<void()> done);
    // Whether the files of `run` were given their names with the suffix `suffix` (1: none).
    bool isSaved(const RecordedRun& run, int suffix) const;
    bool isBusy() const { return m_pending > 0; }
    // How much of the sound of the export being written is done, 0 to 1; 0 when none is.
    double progress() const { return m_progress; }
    // Blocks until every export asked for has written its files, except those not begun yet
    // of runs kept elsewhere: they stay in the store or their journal for the next launch.
    void finish();

Q_SIGNALS:
    // On the main thread.
    void busyChanged(bool busy);
    void progressChanged();

private:
    struct Batch;
    struct Job {
        ExportRequest request;
        std::shared_ptr<Batch> batch; // the restore it is part of, shared by its jobs
    };
    void add(Job job);
    void run(const Job& job); // on the worker
    // Runs on the worker; false when the files could not be written. Each file is written
    // under a hidden temporary name, synced, and renamed to its name only when complete;
    // `naming` is told the suffix of the names (1: none) just before.
    bool save(const RecordedRun& run, const std::function<void(int)>& naming);
    // The files' path without its extension.
    QString basePath(const RecordedRun& run, int suffix) const;
    void reportProgress(double done); // from the worker
    // Back on the main thread once an export has ended; `open` opens the folder.
    void finished(bool open, std::function<void()> done);

    RunStore& m_store;
    const QString m_folder = outputFolderPath();
    QThreadPool m_pool;
    int m_pending = 0;
    double m_progress = 0.0;
    std::atomic<bool> m_finishing = false;
    bool m_partsCleared = false;      // on the worker
    bool m_toldRetireFailure = false; // on the worker
};

} // namespace zwirl
