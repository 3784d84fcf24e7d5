// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RunRecovery.h"

#include "app/RunJournal.h"
#include "app/TrackingRun.h"
#include "services/DROVHelper.h"

#include <QFile>
#include <QSet>

namespace zwirl::recovery {

namespace {

// The notifications of saving an earlier session's runs: each replaces the one before.
const QString kRestoreNotifications = QStringLiteral("restore");

qint64 startOf(const RecordedRun& run) {
    return run.start.toMSecsSinceEpoch();
}

// One notification of the journals that could not be read, and of those read in part.
void tellSetAside(int unreadable, int damaged) {
    QStringList told;
    if (unreadable > 0)
        told << QStringLiteral("zwirl could not read %1 run(s) of an earlier session and set them "
                               "aside in %2.")
                    .arg(unreadable)
                    .arg(RunJournal::folderPath());
    if (damaged > 0)
        told << QStringLiteral("zwirl could read only part of %1 run(s) of an earlier session: it "
                               "saves what it could read and sets the files aside in %2.")
                    .arg(damaged)
                    .arg(RunJournal::folderPath());
    if (!told.isEmpty())
        DROVHelper::notify(told.join(u' '));
}

} // namespace

// A run is known by its start. Of its copies, a journal noted as saved under names whose files
// are there wins: the run is saved. Otherwise the stored copy wins: it is written whole (at a
// quit or after a failed export) before the run's journal goes, so it replaces that journal.
// Every stored run moves into a journal, so that a long one is saved file by file; where the
// store cannot forget a run, its journals stay, marked, once they are saved.
bool saveRunsOfEarlierProcesses(RunStore& store, ExportQueue& exports, std::function<void()> done) {
    const auto filesNamed = [&exports](const RunJournal::Found& found) {
        return exports.isSaved(found.run.end, found.savedAs);
    };
    RunJournal::Scan scan = RunJournal::leftBehind();
    const int damaged = int(std::ranges::count_if(scan.found, &RunJournal::Found::damaged));
    QSet<qint64> saved, held;
    for (const RunJournal::Found& found : scan.found)
        if (filesNamed(found))
            saved.insert(startOf(found.run));
    std::vector<ExportRequest> runs;
    for (RecordedRun& run : store.runs()) {
        const qint64 start = startOf(run);
        QString path;
        if (!saved.contains(start)) {
            std::erase_if(scan.found, [&](const RunJournal::Found& found) {
                return startOf(found.run) == start && QFile::remove(found.path);
            });
            path = RunJournal::write(run);
            if (path.isEmpty()) {
                runs.push_back({.run = std::move(run), .stored = true});
                continue;
            }
        }
        if (!store.remove(run))
            held.insert(start);
        if (!path.isEmpty())
            scan.found.push_back({path, std::move(run)});
    }
    for (RunJournal::Found& found : scan.found) {
        const bool stored = held.contains(startOf(found.run));
        if (filesNamed(found)) {
            if (!stored)
                RunJournal::retire(found.path, found.damaged);
        } else if (found.run.samples.empty()) {
            QFile::remove(found.path); // its files were not named after all
        } else {
            for (RunJournal::Found& part :
                 RunJournal::split(std::move(found), TrackingRun::kClickLimit))
                runs.push_back({.run = std::move(part.run),
                                .stored = stored,
                                .journal = part.path,
                                .damaged = part.damaged});
        }
    }
    std::ranges::sort(runs, {},
                      [](const ExportRequest& r) { return std::pair(r.run.start, r.journal); });
    // The parts of a split that a process began are found twice.
    const auto twice = std::ranges::unique(runs, [](const auto& a, const auto& b) {
        return !a.journal.isEmpty() && a.journal == b.journal;
    });
    runs.erase(twice.begin(), twice.end());
    tellSetAside(scan.setAside, damaged);
    if (runs.empty())
        return false;
    Notifications::deliver(QStringLiteral("Saving zwirl from last session..."),
                           {{}, kRestoreNotifications});
    runs.back().done = std::move(done);
    for (ExportRequest& request : runs)
        request.tell = ExportRequest::Tell::NotifyAndOpenFolder;
    exports.enqueue(std::move(runs), kRestoreNotifications);
    return true;
}

} // namespace zwirl::recovery
