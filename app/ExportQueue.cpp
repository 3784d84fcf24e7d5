#include "app/ExportQueue.h"

#include "app/AppLog.h"
#include "services/DROVHelper.h"
#include "services/ExportPicture.h"
#include "sound/DROVAudioFileHelper.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QStandardPaths>
#include <QUrl>

namespace zwirl {

namespace {

// The first "zwirl_<date>" name, with a suffix from _2 on, that neither file uses yet. The
// exports run one after another, so the name stays free until this export has written it.
QString freeBaseName(const QString& folder, const QDateTime& end) {
    const QString stem =
        QStringLiteral("zwirl_%1").arg(end.toString(QStringLiteral("ddMMyy_HHmmss")));
    QString name = stem;
    for (int n = 2; QFileInfo::exists(QStringLiteral("%1/%2.m4a").arg(folder, name)) ||
                    QFileInfo::exists(QStringLiteral("%1/%2.png").arg(folder, name));
         ++n)
        name = QStringLiteral("%1_%2").arg(stem).arg(n);
    return name;
}

} // namespace

ExportQueue::ExportQueue(RunStore& store, QString folder, QObject* parent)
    : QObject(parent), m_store(store), m_folder(std::move(folder)) {
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
        const QString baseName = save(run);
        if (baseName.isEmpty()) {
            // Nothing is lost: the run waits in the store for the next launch.
            if (!stored)
                m_store.add(run);
            DROVHelper::notify(QStringLiteral("Could not save your clicks to the desktop..."));
        } else {
            if (stored)
                m_store.remove(run);
            if (notify)
                DROVHelper::notify(QStringLiteral("Saved your clicks to the desktop..."));
        }
        QMetaObject::invokeMethod(this, [this, baseName, notify, done] {
            if (notify && !baseName.isEmpty())
                QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder));
            Q_EMIT exported(baseName, !baseName.isEmpty());
            if (done)
                done();
            if (--m_pending == 0)
                Q_EMIT busyChanged(false);
        });
    });
}

QString ExportQueue::save(const RecordedRun& run) {
    if (!QFileInfo::exists(m_folder)) {
        QDir().mkpath(m_folder);
        const QImage icon = QImage(QStringLiteral(":/images/ZWIRLFolderIcon.png"));
        if (!DROVHelper::setIconForPath(m_folder, icon))
            qCWarning(lcApp) << "error setting icon file...";
    }
    const QDateTime end = run.end.isValid() ? run.end : QDateTime::currentDateTime();
    const QDateTime start = run.start.isValid() ? run.start : end;
    const QString baseName = freeBaseName(m_folder, end);
    const QString audioPath = QStringLiteral("%1/%2.m4a").arg(m_folder, baseName);
    const QString picturePath = QStringLiteral("%1/%2.png").arg(m_folder, baseName);

    // The samples picture, drawn once: with the logo laid over it, it is the audio file's
    // artwork and icon; without, the body of the PNG.
    const QImage picture = DROVHelper::iconImageForSamples(run.samples, false);
    const QImage icon = DROVHelper::watermarked(picture);
    bool written = DROVAudioFileHelper::writeSamplesToFile(run.samples, audioPath, icon);
    if (written && !DROVHelper::setIconForPath(audioPath, icon))
        qCWarning(lcApp) << "error setting icon file...";

    const QString dateFormat = QStringLiteral("HH:mm:ss dd/MM/yy");
    const QString rangeText =
        QStringLiteral("%1 - %2").arg(start.toString(dateFormat), end.toString(dateFormat));
    const QString countText = QStringLiteral("%1 zwirl").arg(qlonglong(run.samples.size()));
    if (written) {
        QFile file(picturePath);
        written = file.open(QIODevice::WriteOnly) &&
                  ExportPicture::draw(picture, rangeText, countText).save(&file, "PNG") &&
                  file.flush();
        if (!written)
            qCWarning(lcApp) << "could not write" << picturePath << file.errorString();
    }
    if (!written) {
        // Only this export's own files: the names are this export's alone.
        QFile::remove(audioPath);
        QFile::remove(picturePath);
        return {};
    }
    qCInfo(lcApp).noquote()
        << QStringLiteral("saved %1 (%2, %3)").arg(baseName, rangeText, countText);
    return baseName;
}

} // namespace zwirl
