// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RunRecovery.h"

#include "app/ExportQueue.h"
#include "app/RunJournal.h"
#include "app/TrackingRun.h"
#include "services/DROVHelper.h"
#include "services/Notifications.h"

#include <QFile>
#include <QSet>

namespace zwirl {

namespace {

constexpr std::size_t kLimit = TrackingRun::kClickLimit;

qint64 startOf(const RecordedRun& run) {
    return run.start.toMSecsSinceEpoch();
}

// The journals sorted by what becomes of them.
struct Journals {
    // Runs whose files an earlier process named.
    QSet<qint64> saved;
    // Journals without clicks standing for a stored run whose files were named: they go once
    // the store has forgotten the run.
    QList<std::pair<qint64, QString>> marks;
    // Runs still to save.
    std::vector<RunJournal::Found> toSave;
};

Journals sortJournals(std::vector<RunJournal::Found>& found, const ExportQueue& exports) {
    Journals journals;
    for (RunJournal::Found& journal : found) {
        if (journal.savedAs && exports.isSaved(journal.run, *journal.savedAs)) {
            journals.saved.insert(startOf(journal.run));
            if (journal.run.samples.empty())
                journals.marks.append({startOf(journal.run), journal.path});
            else
                RunJournal::retire(journal.path, journal.damaged);
        } else if (journal.run.samples.empty()) {
            QFile::remove(journal.path); // its files were not named after all
        } else {
            journals.toSave.push_back(std::move(journal));
        }
    }
    return journals;
}

// The stored runs still to save; those saved, or moved into journals, by a launch whose
// settings could not forget them are forgotten now, and long ones move into journals.
std::vector<RecordedRun> storedToSave(RunStore& store, Journals& journals) {
    QSet<qint64> inJournals;
    for (const RunJournal::Found& journal : journals.toSave)
        inJournals.insert(startOf(journal.run));
    std::vector<RecordedRun> stored;
    QSet<qint64> unforgotten;
    for (const RecordedRun& run : store.runs()) {
        const qint64 start = startOf(run);
        if (journals.saved.contains(start) ||
            (run.samples.size() > kLimit && inJournals.contains(start))) {
            if (!store.remove(run))
                unforgotten.insert(start);
            continue;
        }
        if (run.samples.size() > kLimit)
            if (std::vector<RunJournal::Found> parts = RunJournal::keep(run, kLimit);
                !parts.empty()) {
                store.remove(run);
                std::move(parts.begin(), parts.end(), std::back_inserter(journals.toSave));
                continue;
            }
        stored.push_back(run);
    }
    for (const auto& [start, mark] : std::as_const(journals.marks))
        if (!unforgotten.contains(start))
            QFile::remove(mark);
    return stored;
}

// The journals still to save, each of at most a file's clicks, oldest first.
std::vector<RunJournal::Found> splitJournals(std::vector<RunJournal::Found> journals) {
    std::vector<RunJournal::Found> split;
    for (RunJournal::Found& found : journals) {
        std::vector<RunJournal::Found> parts;
        if (found.run.samples.size() > kLimit)
            parts = RunJournal::keep(found.run, kLimit);
        if (!parts.empty() && RunJournal::retire(found.path, found.damaged)) {
            std::move(parts.begin(), parts.end(), std::back_inserter(split));
        } else {
            for (const RunJournal::Found& part : parts)
                QFile::remove(part.path);
            split.push_back(std::move(found));
        }
    }
    std::sort(split.begin(), split.end(), [](const auto& a, const auto& b) {
        return std::pair(a.run.start, a.path) < std::pair(b.run.start, b.path);
    });
    return split;
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

bool RunRecovery::saveRunsOfEarlierProcesses(RunStore& store, ExportQueue& exports,
                                             std::function<void()> done) {
    RunJournal::Scan scan = RunJournal::leftBehind();
    const int damaged = int(std::count_if(scan.found.begin(), scan.found.end(),
                                          [](const auto& found) { return found.damaged; }));
    Journals journals = sortJournals(scan.found, exports);
    std::vector<RecordedRun> stored = storedToSave(store, journals);
    QSet<qint64> storedStarts;
    for (const RecordedRun& run : stored)
        storedStarts.insert(startOf(run));
    std::erase_if(journals.toSave, [&](const RunJournal::Found& found) {
        return storedStarts.contains(startOf(found.run)) && QFile::remove(found.path);
    });
    std::vector<RunJournal::Found> split = splitJournals(std::move(journals.toSave));
    tellSetAside(scan.setAside, damaged);
    if (stored.empty() && split.empty())
        return false;
    Notifications::deliver(QStringLiteral("Saving zwirl from last session..."),
                           {{}, ExportQueue::kRestoreNotifications});
    // Saved with their own dates; each leaves the store (or its journal goes) once its files
    // are written.
    std::vector<ExportRequest> runs;
    for (RecordedRun& run : stored)
        runs.push_back({.run = std::move(run), .stored = true});
    for (RunJournal::Found& found : split)
        runs.push_back(
            {.run = std::move(found.run), .journal = found.path, .damaged = found.damaged});
    exports.restore(std::move(runs), std::move(done));
    return true;
}

} // namespace zwirl
