#include "app/ExportQueue.h"

#include "app/AppLog.h"
#include "services/DROVHelper.h"
#include "services/ExportPicture.h"
#include "services/Notifications.h"
#include "sound/DROVAudioFileHelper.h"

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

void ExportQueue::enqueue(RecordedRun run, bool notify, bool stored, std::function<void()> done) {
    if (run.samples.empty())
        return;
    if (m_pending++ == 0)
        Q_EMIT busyChanged(true);
    m_pool.start([this, run = std::move(run), notify, stored, done = std::move(done)] {
        const bool saved = save(run);
        if (!saved) {
            // Nothing is lost: the run waits in the store for the next launch.
            if (!stored)
                m_store.add(run);
            DROVHelper::notify(QStringLiteral("Could not save your clicks to the desktop..."));
        } else {
            if (stored)
                m_store.remove(run);
            if (notify)
                Notifications::deliver(QStringLiteral("Saved your clicks to the desktop..."),
                                       {{{kOpenFolderAction, QStringLiteral("Open Folder")}},
                                        stored ? kRestoreNotifications : QString()});
        }
        QMetaObject::invokeMethod(this, [this, saved, notify, done] {
            if (notify && saved)
                QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder));
            if (done)
                done();
            if (--m_pending > 0)
                return;
            m_progress = 0.0;
            Q_EMIT progressChanged();
            Q_EMIT busyChanged(false);
        });
    });
}

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
    QFile png(base + QStringLiteral(".png"));

    // The samples picture, drawn once: with the logo laid over it, it is the audio file's
    // artwork and icon; without, the body of the PNG.
    const QImage picture = DROVHelper::iconImageForSamples(run.samples, false);
    const QImage icon = DROVHelper::watermarked(picture);
    const QString format = QStringLiteral("HH:mm:ss dd/MM/yy");
    const QString range =
        QStringLiteral("%1 - %2").arg(start.toString(format), end.toString(format));
    const QString count = QStringLiteral("%1 zwirl").arg(qlonglong(run.samples.size()));
    if (!DROVAudioFileHelper::writeSamplesToFile(run.samples, audioPath, icon, end,
                                                 [this](double done) { reportProgress(done); }) ||
        !png.open(QIODevice::WriteOnly) ||
        !ExportPicture::draw(picture, range, count).save(&png, "PNG") || !png.flush()) {
        qCWarning(lcApp) << "could not write" << base << png.errorString();
        // Only this export's own files: the names are this export's alone.
        QFile::remove(audioPath);
        png.remove();
        return false;
    }
    if (!DROVHelper::setIconForPath(audioPath, icon))
        qCWarning(lcApp) << "error setting icon file...";
    qCInfo(lcApp).noquote() << QStringLiteral("saved %1 (%2, %3)").arg(base, range, count);
    return true;
}

} // namespace zwirl
