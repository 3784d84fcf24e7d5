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
    // In the run store too, which forgets it once saved; a run not stored that cannot be saved
    // is stored.
    bool stored = false;
    // Removed once the run is in the files or the store; set aside instead when `damaged`.
    QString journal = {};
    bool damaged = false;
    std::function<void()> done = {}; // on the main thread after the export
};

// Saves finished runs into the zwirl folder on the Desktop: the audio file with its icon and
// the PNG. One export at a time, in order, on a worker thread; what follows it runs on the main
// thread. An export that would reuse an existing name gets a suffix.
class ExportQueue : public QObject {
    Q_OBJECT
public:
    explicit ExportQueue(RunStore& store, QObject* parent = nullptr);
    ~ExportQueue() override { m_pool.waitForDone(); }

    // The key of the "Open Folder" button on the notification of saved clicks.
    static inline const QString kOpenFolderAction = QStringLiteral("open-folder");

    // The user's Desktop (as xdg-user-dirs names it, ~/Desktop otherwise) + "/zwirl".
    static QString outputFolderPath();
    // The output folder; made, with its icon, when nothing is at its place.
    QString makeFolder() const;

    // A run without clicks saves nothing, and its `done` does not run.
    void enqueue(ExportRequest request) {
        add(std::move(request), std::make_shared<Batch>(1, QString()));
    }
    // Runs told of together, once the last is written, in notifications of `group`; as above,
    // one without clicks saves nothing.
    void enqueue(std::vector<ExportRequest> requests, const QString& group);
    // Whether the files of a run that ended at `end` are there under the names with `suffix`.
    bool isSaved(const QDateTime& end, int suffix) const;
    bool isBusy() const { return m_pending > 0; }
    // How much of the sound of the export being written is done, 0 to 1; 0 when none is.
    double progress() const { return m_progress; }
    // Blocks until every export asked for has written its files, except those not begun of runs
    // kept elsewhere: they stay in the store or their journal for the next launch.
    void finish() {
        m_finishing = true;
        m_pool.waitForDone();
        m_finishing = false; // a cancelled logout: later exports run as before
    }

Q_SIGNALS:
    // On the main thread.
    void busyChanged(bool busy);
    void progressChanged();

private:
    // Exports told of together once the last is written: a restore's, or one alone.
    struct Batch {
        std::size_t left;
        QString group; // of the notification
        std::size_t saved = 0;
        std::size_t failed = 0;
    };
    void add(ExportRequest request, std::shared_ptr<Batch> batch);
    void run(const ExportRequest& request, Batch& batch); // on the worker, as save() is
    // False when the files could not be written. `naming` is told the names' suffix (1: none)
    // just before the complete files get them.
    bool save(const RecordedRun& run, const std::function<void(int)>& naming);
    // Back on the main thread once an export has ended.
    void finished(bool openFolder, std::function<void()> done);

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
