#pragma once

#include "app/RunStore.h"

#include <QObject>
#include <QThreadPool>

#include <functional>

namespace zwirl {

// Saves finished runs into the zwirl folder on the Desktop: the audio file with its icon and
// the PNG. One export at a time, in the order they were asked for, on a worker thread; what
// follows an export (opening the folder, the caller's completion) runs on the main thread.
// File names never collide: an export that would reuse an existing name gets a suffix.
class ExportQueue : public QObject {
    Q_OBJECT
public:
    explicit ExportQueue(RunStore& store, QString folder = outputFolderPath(),
                         QObject* parent = nullptr);
    ~ExportQueue() override;

    // The user's Desktop (as xdg-user-dirs names it, ~/Desktop otherwise) + "/zwirl".
    static QString outputFolderPath();
    QString folder() const { return m_folder; }

    // Saves `run` after the exports asked for before. `stored`: the run is kept in the run
    // store and leaves it once saved; a run that is not stored and cannot be saved is kept
    // there for the next launch. With `notify` the user is told and the folder opens. `done`
    // runs on the main thread after the export. A run without clicks saves nothing, and
    // `done` does not run.
    void enqueue(RecordedRun run, bool notify, bool stored, std::function<void()> done = {});
    bool isBusy() const { return m_pending > 0; }
    // Blocks until every export asked for has written its files.
    void waitForDone() { m_pool.waitForDone(); }

Q_SIGNALS:
    // On the main thread, when an export has ended either way, or when isBusy() changes.
    void exported(const QString& baseName, bool saved);
    void busyChanged(bool busy);

private:
    // Runs on the worker; the base name of the files written, empty when they could not be.
    QString save(const RecordedRun& run);

    RunStore& m_store;
    QString m_folder;
    QThreadPool m_pool;
    int m_pending = 0;
};

} // namespace zwirl
