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

namespace {

// The path of a run's files without their extension.
QString basePath(const QString& folder, const QDateTime& end, int suffix) {
    const QString stem =
        QStringLiteral("%1/zwirl_%2").arg(folder, end.toString(QStringLiteral("ddMMyy_HHmmss")));
    return suffix > 1 ? QStringLiteral("%1_%2").arg(stem).arg(suffix) : stem;
}

// The hidden name a file is written under until it is complete.
QString partName(const QString& path) {
    const QFileInfo file(path);
    return QStringLiteral("%1/.%2.part").arg(file.path(), file.fileName());
}

} // namespace

ExportQueue::ExportQueue(RunStore& store, QObject* parent) : QObject(parent), m_store(store) {
    m_pool.setMaxThreadCount(1);
    m_pool.setThreadPriority(QThread::LowPriority);
}

QString ExportQueue::outputFolderPath() {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || desktop == QDir::homePath())
        desktop = QDir::homePath() + QStringLiteral("/Desktop");
    return desktop + QStringLiteral("/zwirl");
}

bool ExportQueue::isSaved(const QDateTime& end, int suffix) const {
    return suffix > 0 && end.isValid() &&
           QFileInfo::exists(basePath(m_folder, end, suffix) + QStringLiteral(".m4a"));
}

void ExportQueue::enqueue(std::vector<ExportRequest> requests, const QString& group) {
    // Told once its last saving run is written: a run without clicks saves nothing.
    const auto batch = std::make_shared<Batch>(
        std::size_t(std::ranges::count_if(
            requests, [](const ExportRequest& request) { return !request.run.samples.empty(); })),
        group);
    for (ExportRequest& request : requests)
        add(std::move(request), batch);
}

void ExportQueue::add(ExportRequest request, std::shared_ptr<Batch> batch) {
    if (request.run.samples.empty()) {
        if (!request.journal.isEmpty())
            QFile::remove(request.journal);
        return;
    }
    if (m_pending++ == 0)
        Q_EMIT busyChanged(true);
    m_pool.start(
        [this, request = std::move(request), batch = std::move(batch)] { run(request, *batch); });
}

void ExportQueue::run(const ExportRequest& request, Batch& batch) {
    const auto& [run, tellHow, stored, journal, damaged, done] = request;
    // A restore is told once, after its last run.
    const auto tell = [&](bool saved) {
        ++(saved ? batch.saved : batch.failed);
        if (--batch.left > 0)
            return false;
        if (batch.failed > 0)
            DROVHelper::notify(QStringLiteral("Could not save your clicks to the desktop..."));
        if (batch.saved > 0 && tellHow != ExportRequest::Tell::Nothing)
            Notifications::deliver(
                batch.saved == 1 ? QStringLiteral("Saved your clicks to the desktop...")
                                 : QStringLiteral("Saved %1 runs of your clicks to the desktop...")
                                       .arg(qulonglong(batch.saved)),
                {{{kOpenFolderAction, QStringLiteral("Open Folder")}}, batch.group});
        return batch.saved > 0 && tellHow == ExportRequest::Tell::NotifyAndOpenFolder;
    };
    // Left where it is for the next launch, which tells of it.
    if (m_finishing && (stored || !journal.isEmpty())) {
        --batch.left;
        return finished(false, {});
    }
    // Noted before the files get their names: a process ended before the journal goes does
    // not save the run again.
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

void ExportQueue::finished(bool openFolder, std::function<void()> done) {
    QMetaObject::invokeMethod(this, [this, openFolder, done] {
        if (openFolder)
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

QString ExportQueue::makeFolder() const {
    if (!QFileInfo::exists(m_folder) && QDir().mkpath(m_folder) &&
        !DROVHelper::setIconForPath(m_folder,
                                    QImage(QStringLiteral(":/images/ZWIRLFolderIcon.png"))))
        qCWarning(lcApp) << "error setting icon file...";
    return m_folder;
}

bool ExportQueue::save(const RecordedRun& run, const std::function<void(int)>& naming) {
    const auto reportProgress = [this](double done) {
        QMetaObject::invokeMethod(this, [this, done] {
            m_progress = done;
            Q_EMIT progressChanged();
        });
    };
    reportProgress(0.0);
    makeFolder();
    const QDateTime end = run.end.isValid() ? run.end : QDateTime::currentDateTime();
    const QDateTime start = run.start.isValid() ? run.start : end;
    // The first name, with a suffix from _2 on, that neither file uses yet; exports run one at
    // a time, so it stays free.
    int suffix = 1;
    QString base = basePath(m_folder, end, suffix);
    while (QFileInfo::exists(base + QStringLiteral(".m4a")) ||
           QFileInfo::exists(base + QStringLiteral(".png")))
        base = basePath(m_folder, end, ++suffix);
    const QString audioPath = base + QStringLiteral(".m4a");
    const QString pngPath = base + QStringLiteral(".png");
    // Left by an export that ended with its process.
    if (!std::exchange(m_partsCleared, true))
        for (const QString& part : QDir(m_folder).entryList({QStringLiteral(".zwirl_*.part")},
                                                            QDir::Files | QDir::Hidden))
            QFile::remove(m_folder + u'/' + part);
    QFile png(partName(pngPath));

    // With the logo laid over it, the audio file's artwork and icon; without, the PNG's body.
    const QImage picture = DROVHelper::iconImageForSamples(run.samples, false);
    const QImage icon = DROVHelper::watermarked(picture);
    const QString format = QStringLiteral("HH:mm:ss dd/MM/yy");
    const QString range =
        QStringLiteral("%1 - %2").arg(start.toString(format), end.toString(format));
    const QString count = QStringLiteral("%1 zwirl").arg(qlonglong(run.samples.size()));
    // Read back before it is named: a file that does not hold the clicks is no saved run.
    QString wrongSound;
    const auto written = [&] {
        return DROVAudioFileHelper::writeSamplesToFile(run.samples, partName(audioPath), icon, end,
                                                       reportProgress) &&
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
