// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ExportQueue.h"

#include "app/AppLog.h"
#include "app/DurableFiles.h"
#include "app/RunJournal.h"
#include "services/DROVHelper.h"
#include "services/ExportPicture.h"
#include "services/Notifications.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/ExportCheck.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

namespace zwirl {

ExportQueue::ExportQueue(RunStore& store, QObject* parent) : QObject(parent), m_store(store) {
    m_pool.setMaxThreadCount(1);
    m_pool.setThreadPriority(QThread::LowPriority);
}

// The worker must not outlive what it writes with.
ExportQueue::~ExportQueue() {
    m_pool.waitForDone();
}

QString ExportQueue::outputFolderPath() {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || desktop == QDir::homePath())
        desktop = QDir::homePath() + QStringLiteral("/Desktop");
    return desktop + QStringLiteral("/zwirl");
}

// What a restore tells once its last run is written. Its jobs run one after another on the
// worker.
struct ExportQueue::Batch {
    std::size_t left = 0;
    std::size_t saved = 0;
    std::size_t failed = 0;
};

void ExportQueue::enqueue(ExportRequest request) {
    add({std::move(request), {}});
}

void ExportQueue::restore(std::vector<ExportRequest> runs, std::function<void()> done) {
    auto batch = std::make_shared<Batch>();
    batch->left = runs.size();
    for (std::size_t i = 0; i < runs.size(); ++i) {
        runs[i].tell = ExportRequest::Tell::NotifyAndOpenFolder;
        runs[i].done = i + 1 == runs.size() ? std::move(done) : nullptr;
        add({std::move(runs[i]), batch});
    }
}

void ExportQueue::add(Job job) {
    if (job.request.run.samples.empty()) {
        if (!job.request.journal.isEmpty())
            QFile::remove(job.request.journal);
        return;
    }
    if (m_pending++ == 0)
        Q_EMIT busyChanged(true);
    m_pool.start([this, job = std::move(job)] { run(job); });
}

void ExportQueue::run(const Job& job) {
    const auto& [run, tellHow, stored, journal, damaged, done] = job.request;
    // The user hears of a restore once, after its last run.
    const auto tell = [&](bool saved) {
        Batch* const batch = job.batch.get();
        if (batch) {
            ++(saved ? batch->saved : batch->failed);
            if (--batch->left > 0)
                return false;
        }
        const std::size_t failed = batch ? batch->failed : !saved;
        const std::size_t savedRuns = batch ? batch->saved : saved;
        if (failed > 0)
            DROVHelper::notify(QStringLiteral("Could not save your clicks to the desktop..."));
        if (savedRuns > 0 && tellHow != ExportRequest::Tell::Nothing)
            Notifications::deliver(
                savedRuns == 1 ? QStringLiteral("Saved your clicks to the desktop...")
                               : QStringLiteral("Saved %1 runs of your clicks to the desktop...")
                                     .arg(qulonglong(savedRuns)),
                {{{kOpenFolderAction, QStringLiteral("Open Folder")}},
                 batch ? kRestoreNotifications : QString()});
        return savedRuns > 0 && tellHow == ExportRequest::Tell::NotifyAndOpenFolder;
    };
    // Left where it is for the next launch, which tells of it.
    if (m_finishing && (stored || !journal.isEmpty())) {
        if (job.batch)
            --job.batch->left;
        return finished(false, {});
    }
    // Before the files get their names, the journal notes that the run is being saved, so that
    // a process ended before the journal goes does not save it again.
    bool marked = false;
    const auto naming = [&](int suffix) {
        marked = !journal.isEmpty() && RunJournal::markSaved(journal, suffix, run.end);
    };
    bool saved = false;
    // Nothing thrown while saving may end the process: the run is kept as if it failed.
    try {
        saved = save(run, naming);
    } catch (const std::exception& failure) {
        qCWarning(lcApp) << "the export failed:" << failure.what();
    }
    const bool opens = tell(saved);
    if (!saved && marked)
        RunJournal::markSaved(journal, 0); // not named after all
    const bool kept = stored ? saved && m_store.remove(run) : saved || m_store.add(run);
    if (kept && !journal.isEmpty() && !RunJournal::retire(journal, damaged) && saved &&
        !std::exchange(m_toldRetireFailure, true))
        DROVHelper::notify(QStringLiteral("zwirl saved your clicks but cannot remove the file "
                                          "that kept them from %1: until zwirl can write "
                                          "there, it keeps the file, marked as saved.")
                               .arg(RunJournal::folderPath()));
    finished(opens, done);
}

void ExportQueue::finished(bool open, std::function<void()> done) {
    QMetaObject::invokeMethod(this, [this, open, done] {
        if (open)
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder));
        if (done)
            done();
        if (--m_pending > 0)
            return;
        m_progress = 0.0;
        Q_EMIT progressChanged();
        Q_EMIT busyChanged(false);
    });
}

// Should the quit not come after all (a cancelled logout), later exports run as before.
void ExportQueue::finish() {
    m_finishing = true;
    m_pool.waitForDone();
    m_finishing = false;
}

namespace {

// The hidden name a file is written under until it is complete.
QString partName(const QString& path) {
    const QFileInfo file(path);
    return QStringLiteral("%1/.%2.part").arg(file.path(), file.fileName());
}

} // namespace

QString ExportQueue::makeFolder() const {
    if (!QFileInfo::exists(m_folder) && QDir().mkpath(m_folder) &&
        !DROVHelper::setIconForPath(m_folder,
                                    QImage(QStringLiteral(":/images/ZWIRLFolderIcon.png"))))
        qCWarning(lcApp) << "error setting icon file...";
    return m_folder;
}

void ExportQueue::reportProgress(double done) {
    QMetaObject::invokeMethod(this, [this, done] {
        m_progress = done;
        Q_EMIT progressChanged();
    });
}

QString ExportQueue::basePath(const RecordedRun& run, int suffix) const {
    const QString stem = QStringLiteral("%1/zwirl_%2")
                             .arg(m_folder, run.end.toString(QStringLiteral("ddMMyy_HHmmss")));
    return suffix > 1 ? QStringLiteral("%1_%2").arg(stem).arg(suffix) : stem;
}

bool ExportQueue::isSaved(const RecordedRun& run, int suffix) const {
    return run.end.isValid() && QFileInfo::exists(basePath(run, suffix) + QStringLiteral(".m4a"));
}

bool ExportQueue::save(const RecordedRun& run, const std::function<void(int)>& naming) {
    reportProgress(0.0);
    makeFolder();
    const QDateTime end = run.end.isValid() ? run.end : QDateTime::currentDateTime();
    const QDateTime start = run.start.isValid() ? run.start : end;
    // The first name, with a suffix from _2 on, that neither file uses yet. The exports run one
    // after another, so the name stays free until this export has written it.
    const RecordedRun dated{{}, start, end};
    int suffix = 1;
    QString base = basePath(dated, suffix);
    while (QFileInfo::exists(base + QStringLiteral(".m4a")) ||
           QFileInfo::exists(base + QStringLiteral(".png")))
        base = basePath(dated, ++suffix);
    const QString audioPath = base + QStringLiteral(".m4a");
    const QString pngPath = base + QStringLiteral(".png");
    // What an export that ended with its process left behind.
    if (!std::exchange(m_partsCleared, true))
        for (const QString& part : QDir(m_folder).entryList({QStringLiteral(".zwirl_*.part")},
                                                            QDir::Files | QDir::Hidden))
            QFile::remove(m_folder + u'/' + part);
    QFile png(partName(pngPath));

    // The samples picture, drawn once: with the logo laid over it, it is the audio file's
    // artwork and icon; without, the body of the PNG.
    const QImage picture = DROVHelper::iconImageForSamples(run.samples, false);
    const QImage icon = DROVHelper::watermarked(picture);
    const QString format = QStringLiteral("HH:mm:ss dd/MM/yy");
    const QString range =
        QStringLiteral("%1 - %2").arg(start.toString(format), end.toString(format));
    const QString count = QStringLiteral("%1 zwirl").arg(qlonglong(run.samples.size()));
    // The sound is read back before it gets its name: a file that does not hold the clicks is
    // no saved run.
    QString wrongSound;
    const auto written = [&] {
        return DROVAudioFileHelper::writeSamplesToFile(
                   run.samples, partName(audioPath), icon, end,
                   [this](double done) { reportProgress(done); }) &&
               (wrongSound = ExportCheck::mismatch(run.samples, partName(audioPath))).isEmpty() &&
               png.open(QIODevice::WriteOnly) &&
               ExportPicture::draw(picture, range, count).save(&png, "PNG") && png.flush();
    };
    const auto named = [&] {
        naming(suffix);
        return durable::commit(partName(audioPath), audioPath) &&
               durable::commit(png.fileName(), pngPath);
    };
    if (!written() || !named()) {
        qCWarning(lcApp).noquote()
            << "could not write" << base << (wrongSound.isEmpty() ? png.errorString() : wrongSound);
        // Only this export's own files: the names are this export's alone.
        for (const QString& path : {audioPath, partName(audioPath), pngPath, png.fileName()})
            QFile::remove(path);
        return false;
    }
    durable::syncFolder(m_folder);
    if (!DROVHelper::setIconForPath(audioPath, icon))
        qCWarning(lcApp) << "error setting icon file...";
    qCInfo(lcApp).noquote() << QStringLiteral("saved %1 (%2, %3)").arg(base, range, count);
    return true;
}

} // namespace zwirl
