#include "app/ExportQueue.h"

#include "app/AppLog.h"
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

#include <unistd.h>

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

void ExportQueue::enqueue(ExportRequest request) {
    if (request.run.samples.empty()) {
        if (!request.journal.isEmpty())
            QFile::remove(request.journal);
        return;
    }
    if (m_pending++ == 0)
        Q_EMIT busyChanged(true);
    m_pool.start([this, request = std::move(request)] {
        const auto& [run, tell, stored, journal, done] = request;
        if (m_finishing && (stored || !journal.isEmpty()))
            return finished(false, false, {});
        bool saved = false;
        // Nothing thrown while saving may end the process: the run is kept as if it failed.
        try {
            saved = save(run);
        } catch (const std::exception& failure) {
            qCWarning(lcApp) << "the export failed:" << failure.what();
        }
        if (!saved)
            DROVHelper::notify(QStringLiteral("Could not save your clicks to the desktop..."));
        else if (tell != ExportRequest::Tell::Nothing)
            Notifications::deliver(QStringLiteral("Saved your clicks to the desktop..."),
                                   {{{kOpenFolderAction, QStringLiteral("Open Folder")}},
                                    stored ? kRestoreNotifications : QString()});
        // A run that is not saved waits in the store for the next launch.
        const bool kept = saved || stored || m_store.add(run);
        if (saved && stored)
            m_store.remove(run);
        if (kept && !journal.isEmpty())
            QFile::remove(journal);
        finished(saved, tell == ExportRequest::Tell::NotifyAndOpenFolder, done);
    });
}

void ExportQueue::finished(bool saved, bool openFolder, std::function<void()> done) {
    QMetaObject::invokeMethod(this, [this, saved, openFolder, done] {
        if (openFolder && saved)
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

// Syncs a complete file and gives it its name.
bool commit(const QString& part, const QString& path) {
    QFile file(part);
    return file.open(QIODevice::ReadWrite) && ::fsync(file.handle()) == 0 &&
           ::rename(QFile::encodeName(part).constData(), QFile::encodeName(path).constData()) == 0;
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

bool ExportQueue::save(const RecordedRun& run) {
    reportProgress(0.0);
    makeFolder();
    const QDateTime end = run.end.isValid() ? run.end : QDateTime::currentDateTime();
    const QDateTime start = run.start.isValid() ? run.start : end;
    // The first name, with a suffix from _2 on, that neither file uses yet. The exports run one
    // after another, so the name stays free until this export has written it.
    const QString stem =
        QStringLiteral("%1/zwirl_%2").arg(m_folder, end.toString(QStringLiteral("ddMMyy_HHmmss")));
    QString base = stem;
    for (int n = 2; QFileInfo::exists(base + QStringLiteral(".m4a")) ||
                    QFileInfo::exists(base + QStringLiteral(".png"));
         ++n)
        base = QStringLiteral("%1_%2").arg(stem).arg(n);
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
    if (!DROVAudioFileHelper::writeSamplesToFile(run.samples, partName(audioPath), icon, end,
                                                 [this](double done) { reportProgress(done); }) ||
        !(wrongSound = ExportCheck::mismatch(run.samples, partName(audioPath))).isEmpty() ||
        !png.open(QIODevice::WriteOnly) ||
        !ExportPicture::draw(picture, range, count).save(&png, "PNG") || !png.flush() ||
        !commit(partName(audioPath), audioPath) || !commit(png.fileName(), pngPath)) {
        qCWarning(lcApp).noquote()
            << "could not write" << base << (wrongSound.isEmpty() ? png.errorString() : wrongSound);
        // Only this export's own files: the names are this export's alone.
        for (const QString& path : {audioPath, partName(audioPath), pngPath, png.fileName()})
            QFile::remove(path);
        return false;
    }
    RunJournal::syncFolder(m_folder);
    if (!DROVHelper::setIconForPath(audioPath, icon))
        qCWarning(lcApp) << "error setting icon file...";
    qCInfo(lcApp).noquote() << QStringLiteral("saved %1 (%2, %3)").arg(base, range, count);
    return true;
}

} // namespace zwirl
