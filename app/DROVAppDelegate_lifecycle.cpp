// Launch, quit and the state kept in the user defaults between runs.
#include "app/AppLog.h"
#include "app/DROVAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"
#include "services/DROVHelper.h"
#include "sound/DROVTonePlayer.h"
#include "ui/DROVMainWindowController.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThreadPool>
#include <QVariantList>

const QString DROVAppDelegate::kQuitKeySamples =
    QStringLiteral("de.tolvarek.zwirl.quit-key-samples");
const QString DROVAppDelegate::kQuitKeyStartDate =
    QStringLiteral("de.tolvarek.zwirl.quit-key-startdate");
const QString DROVAppDelegate::kQuitKeyEndDate =
    QStringLiteral("de.tolvarek.zwirl.quit-key-enddate");
const QString DROVAppDelegate::kStartupKey = QStringLiteral("de.tolvarek.zwirl.startup-key");

DROVAppDelegate::DROVAppDelegate(QObject* parent)
    : QObject(parent), m_clickSource(zwirl::createClickSource(this)) {
    connect(m_clickSource.get(), &zwirl::ClickSource::clicked, this,
            [this](QPoint, std::optional<ClickSample> colour) { handleLeftMouseDown(colour); });
}

// Export jobs work on the delegate's state: it outlives them.
DROVAppDelegate::~DROVAppDelegate() {
    waitForExportJobs();
}

void DROVAppDelegate::applicationDidFinishLaunching() {
    auto* center = UserNotificationCenter::defaultUserNotificationCenter();
    center->setDelegate(this);
    center->removeAllDeliveredNotifications();
    checkLoginItem();
    samples.clear();

    auto& defaults = UserDefaults::standardUserDefaults();
    const QVariant stored = defaults.objectForKey(kQuitKeySamples);
    std::optional<Samples> restored;
    if (stored.isValid()) {
        restored = validSamples(stored);
        if (!restored) {
            // Nothing worth saving: forget the stored run instead of failing at every launch.
            defaults.removeObjectForKey(kQuitKeySamples);
            defaults.removeObjectForKey(kQuitKeyStartDate);
            defaults.removeObjectForKey(kQuitKeyEndDate);
            defaults.synchronize();
        }
    }
    if (restored) {
        samples = std::move(*restored);
        DROVHelper::notify(QStringLiteral("Saving zwirl from last session..."));
        _exportingRestoredRun = true;
        stopTrackingAndNotify(true, [this] { showWindow(); });
    } else {
        showWindow();
    }
    setupStatusItem();
}

// A stored run is only as good as its entries: each must be a list of at least three numbers.
// Anything else is dropped with a log line; no valid entry at all means nothing to restore.
std::optional<Samples> DROVAppDelegate::validSamples(const QVariant& stored) {
    const QVariantList entries = stored.toList();
    Samples valid;
    valid.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QVariantList components = entries[i].toList();
        ClickSample sample{};
        bool ok = components.size() >= 3;
        for (int c = 0; ok && c < 3; ++c)
            sample[c] = components[c].toDouble(&ok);
        if (ok)
            valid.push_back(sample);
        else
            qCWarning(lcApp) << "dropping stored click sample" << i
                             << "that is not three numbers:" << entries[i];
    }
    if (valid.empty()) {
        qCWarning(lcApp) << "the stored clicks of the last session hold no valid sample";
        return std::nullopt;
    }
    return valid;
}

void DROVAppDelegate::applicationWillTerminate() {
    if (_isTracking) {
        beforeStopTracking();
        if (!samples.empty())
            storeRunForNextLaunch(samples, _startTime, QDateTime::currentDateTime());
    }
    // An export job that is still writing must finish, or its files are left half-written.
    waitForExportJobs();
}

// A job's last step runs on the main thread, so the main thread keeps serving events meanwhile.
void DROVAppDelegate::waitForExportJobs() {
    QEventLoop loop;
    while (isExporting())
        loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents, 50);
    Dispatch::backgroundQueue().waitForDone();
}

void DROVAppDelegate::storeRunForNextLaunch(const Samples& run, const QDateTime& start,
                                            const QDateTime& end) {
    auto& defaults = UserDefaults::standardUserDefaults();
    // A run kept earlier in this session (its export failed) goes first, so nothing is lost.
    const QVariant keptValue = defaults.objectForKey(kQuitKeySamples);
    const std::optional<Samples> kept =
        keptValue.isValid() ? validSamples(keptValue) : std::nullopt;
    const QDateTime keptStart = defaults.objectForKey(kQuitKeyStartDate).toDateTime();
    QVariantList stored;
    stored.reserve(qsizetype((kept ? kept->size() : 0) + run.size()));
    const auto append = [&stored](const Samples& part) {
        for (const ClickSample& sample : part)
            stored.append(QVariant(QVariantList{sample[0], sample[1], sample[2]}));
    };
    if (kept)
        append(*kept);
    append(run);
    defaults.setObject(stored, kQuitKeySamples);
    defaults.setObject(kept && keptStart.isValid() ? keptStart : start, kQuitKeyStartDate);
    defaults.setObject(end, kQuitKeyEndDate);
    defaults.synchronize();
}
