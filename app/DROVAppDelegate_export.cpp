// Ending a run saves it: the export job writes the audio file, its icon and the PNG into the
// zwirl folder on the Desktop, in the background.
#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"
#include "platform/UserDefaults.h"
#include "services/DROVHelper.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/DROVTonePlayer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <QVariantList>

namespace {

const QString kSavedMessage = QStringLiteral("Saved your clicks to the desktop...");
const QString kNotSavedMessage = QStringLiteral("Could not save your clicks to the desktop...");
constexpr int kHeaderHeight = 100;

QString outputFolderPath() {
    // The Desktop as the desktop defines it (xdg-user-dirs), ~/Desktop when it says nothing.
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || desktop == QDir::homePath())
        desktop = QDir::homePath() + QStringLiteral("/Desktop");
    return desktop + QStringLiteral("/zwirl");
}

void createOutputFolderWithIcon(const QString& folder) {
    QDir().mkpath(folder);
    const QImage icon(QStringLiteral(":/images/ZWIRLFolderIcon.png"));
    if (!DROVHelper::setIconForPath(folder, icon))
        qCWarning(lcApp) << "error setting icon file...";
}

QDateTime storedDate(const QString& key) {
    const QVariant value = UserDefaults::standardUserDefaults().objectForKey(key);
    return value.isValid() ? value.toDateTime() : QDateTime();
}

// The picture saved beside the audio file: the samples picture under a 100-point header with
// the logo, the run's start and end times, the number of clicks and a separator line. Drawn
// with the origin at the top left; the header's positions are measured from the top.
QImage exportPicture(const Samples& samples, const QString& rangeText, const QString& countText,
                     const QFont* font) {
    const QImage picture = DROVHelper::iconImageForSamples(samples, false);
    const QImage logo(QStringLiteral(":/images/ZWIRLLogoExport.png"));
    const int width = picture.width();
    const int height = picture.height() + kHeaderHeight;

    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    // 72 dots per inch: one point is one pixel, so a 12-point font is 12 pixels high.
    canvas.setDotsPerMeterX(2835);
    canvas.setDotsPerMeterY(2835);
    canvas.fill(Qt::white);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.drawImage(QPointF(0, kHeaderHeight), picture);
    if (!logo.isNull())
        painter.drawImage(QPointF(25, 26), logo);

    if (font)
        painter.setFont(*font);
    painter.setPen(Qt::black);
    // Each text line sits on a line box whose bottom edge is 52 and 72 points below the top.
    const QFontMetricsF metrics(painter.font(), &canvas);
    const auto drawLine = [&](const QString& text, qreal bottom) {
        painter.drawText(QPointF(100, bottom - metrics.descent()), text);
    };
    drawLine(rangeText, 52);
    drawLine(countText, 72);

    painter.fillRect(QRectF(7, kHeaderHeight - 11, width - 14, 1), QColor(170, 170, 170));
    painter.end();
    return canvas;
}

bool writePicture(const QImage& picture, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG")) {
        qCWarning(lcApp) << "could not write" << path << file.errorString();
        return false;
    }
    return file.flush();
}

void removeQuitKeys() {
    auto& defaults = UserDefaults::standardUserDefaults();
    defaults.removeObjectForKey(DROVAppDelegate::kQuitKeySamples);
    defaults.removeObjectForKey(DROVAppDelegate::kQuitKeyStartDate);
    defaults.removeObjectForKey(DROVAppDelegate::kQuitKeyEndDate);
    defaults.synchronize();
}

// Writes the run's files; false when the audio file or the picture could not be written, in
// which case neither is left behind.
bool saveRun(const Samples& samples, const QDateTime& startDate, const QDateTime& endDate,
             const QString& folder) {
    const QString baseName =
        QStringLiteral("zwirl_%1").arg(endDate.toString(QStringLiteral("ddMMyy_HHmmss")));
    const QString audioPath = QStringLiteral("%1/%2.m4a").arg(folder, baseName);
    const QString picturePath = QStringLiteral("%1/%2.png").arg(folder, baseName);

    const bool audioWritten = DROVAudioFileHelper::writeSamplesToFile(samples, audioPath);
    if (audioWritten &&
        !DROVHelper::setIconForPath(audioPath, DROVHelper::iconImageForSamples(samples, true)))
        qCWarning(lcApp) << "error setting icon file...";

    const QString dateFormat = QStringLiteral("HH:mm:ss dd/MM/yy");
    const QString rangeText =
        QStringLiteral("%1 - %2").arg(startDate.toString(dateFormat), endDate.toString(dateFormat));
    const QString countText = QStringLiteral("%1 zwirl").arg(qlonglong(samples.size()));
    const int fontId = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/Lato-Light.ttf"));
    const bool fontFound = fontId >= 0;
    const QFont font = QFontDatabase::font(QStringLiteral("Lato"), QStringLiteral("Light"), 12);
    const bool pictureWritten =
        audioWritten &&
        writePicture(exportPicture(samples, rangeText, countText, fontFound ? &font : nullptr),
                     picturePath);

    if (audioWritten && pictureWritten) {
        qCInfo(lcApp).noquote()
            << QStringLiteral("saved %1 (%2, %3)").arg(baseName, rangeText, countText);
        return true;
    }
    QFile::remove(audioPath);
    QFile::remove(picturePath);
    return false;
}

} // namespace

void DROVAppDelegate::stopTrackingAndNotify(bool notify, std::function<void()> block) {
    beforeStopTracking();
    // The job takes the finished run's clicks; a run started meanwhile records into a new array.
    ExportRun run{std::exchange(samples, {}), _startTime, QDateTime(),
                  std::exchange(_exportingRestoredRun, false)};
    ++_runningExportJobs;
    updateStatusToolTip();
    QThreadPool::globalInstance()->start(
        [this, notify, block = std::move(block), run = std::move(run)]() mutable {
            const bool finished = runExportJob(std::move(run), notify);
            if (finished && block)
                QMetaObject::invokeMethod(qApp, block, Qt::BlockingQueuedConnection);
            --_runningExportJobs;
            // Dropped if the delegate is gone by then.
            QMetaObject::invokeMethod(this, &DROVAppDelegate::updateStatusToolTip,
                                      Qt::QueuedConnection);
        });
}

// Runs on the background queue. False when there was nothing to save.
bool DROVAppDelegate::runExportJob(ExportRun&& run, bool notify) {
    // The live tone is started and stopped on the main thread only, so the two never overlap.
    QMetaObject::invokeMethod(
        qApp,
        [this] {
            if (_tone)
                _tone->stop();
        },
        Qt::BlockingQueuedConnection);
    if (run.samples.empty())
        return false;

    const QString folder = outputFolderPath();
    if (!QFileInfo::exists(folder))
        createOutputFolderWithIcon(folder);

    // A restored run keeps the dates it was stored with; the file names carry its quit time.
    run.endDate = QDateTime::currentDateTime();
    if (run.restored) {
        run.endDate =
            storedDate(kQuitKeyEndDate).isValid() ? storedDate(kQuitKeyEndDate) : run.endDate;
        if (storedDate(kQuitKeyStartDate).isValid())
            run.startDate = storedDate(kQuitKeyStartDate);
    }

    if (!saveRun(run.samples, run.startDate, run.endDate, folder)) {
        // Nothing is lost: the run waits under the quit keys for the next launch (a restored
        // run is still there).
        if (!run.restored)
            storeRunForNextLaunch(run.samples, run.startDate, run.endDate);
        DROVHelper::notify(kNotSavedMessage);
        return true;
    }
    if (run.restored)
        removeQuitKeys();
    if (notify) {
        DROVHelper::notify(kSavedMessage);
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    }
    return true;
}
