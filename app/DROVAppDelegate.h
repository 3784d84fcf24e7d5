#pragma once

#include "capture/ClickSource.h"
#include "core/ClickSample.h"
#include "platform/Application.h"
#include "platform/UserNotificationCenter.h"
#include "ui/DROVMainControllerDelegate.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class DROVDebugWindowController;
class DROVMainWindowController;
namespace zwirl {
class DROVTonePlayer;
}
using zwirl::DROVTonePlayer;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// The application's controller: launch and quit, the state kept between runs, tracking runs
// and their clicks, the export of a finished run, the tray icon and the main window.
class DROVAppDelegate : public QObject,
                        public ApplicationDelegate,
                        public UserNotificationCenterDelegate,
                        public DROVMainControllerDelegate {
    Q_OBJECT
public:
    static const QString kQuitKeySamples;
    static const QString kQuitKeyStartDate;
    static const QString kQuitKeyEndDate;
    static const QString kStartupKey;
    static constexpr int kClickLimit = 9999;
    static constexpr double kReminderInterval = 5400.0;

    explicit DROVAppDelegate(QObject* parent = nullptr);
    ~DROVAppDelegate() override;

    // Lifecycle
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    QMenu* statusMenu() const;
    void setStatusMenu(QMenu* menu);
    bool isTracking() const override { return _isTracking; }

    // Tracking
    void controllerStartAction() override;
    void controllerStopAction() override;
    void startTracking();
    // One click that went to another application, with the colour read at its press.
    void handleLeftMouseDown(std::optional<ClickSample> colour);
    std::optional<ClickSample> pixelColorForLocation(QPoint location);
    void initTonePlayer();
    // The live tone as the menu offers it: created and started the first time, toggled after.
    // A failure to play is told to the user; it never stops the application.
    Q_INVOKABLE void toggleLiveTone();
    void reminderNotification();
    void reachedMaxClicks();
    void beforeStopTracking();
    bool isStarting() const { return _isStarting; }

    // Export
    void stopTrackingAndNotify(bool notify, std::function<void()> block);
    bool isExporting() const { return _runningExportJobs.load() > 0; }
    // Samples of the open or last run that no export job has taken yet.
    const Samples& recordedSamples() const { return samples; }

    // Tray icon, main window, login item
    void setupStatusItem();
    void changedStatusActive(bool active);
    Q_INVOKABLE void showWindow();
    void controllerCloseAction() override;
    Q_INVOKABLE void showAbout();
    // The menu's quit: the application quits normally.
    Q_INVOKABLE void terminate();
    void userNotificationCenterDidActivateNotification(UserNotificationCenter* center,
                                                       const UserNotification& note) override;
    void checkLoginItem();
    void updateStatusToolTip();
    DROVMainWindowController* mainWindowController() const { return _controllerWindow.get(); }

    static std::optional<Samples> validSamples(const QVariant& stored);

private:
    // What one export works on: the finished run's clicks and dates, handed over by the run.
    struct ExportRun {
        Samples samples;
        QDateTime startDate;
        QDateTime endDate;
        bool restored = false; // the run stored by an earlier session
    };
    bool runExportJob(ExportRun&& run, bool notify);
    // Keeps a run for the next launch under the quit keys, after any run already kept there.
    static void storeRunForNextLaunch(const Samples& samples, const QDateTime& start,
                                      const QDateTime& end);
    void tellUserAboutWaylandOnce();
    void waitForExportJobs();

    DROVDebugWindowController* _debugWindow = nullptr;
    std::unique_ptr<zwirl::ClickSource> m_clickSource;
    std::unique_ptr<DROVTonePlayer> _tone;
    Samples samples;
    QDateTime _startTime;
    QSystemTrayIcon* _statusItem = nullptr;
    std::shared_ptr<DROVMainWindowController> _controllerWindow;
    QTimer* _notificationTimer = nullptr;
    bool _isTracking = false;
    QPointer<QMenu> _statusMenu;

    // A start is under way while the main window fades out; further starts are ignored.
    bool _isStarting = false;
    // The next export saves the run restored at launch.
    bool _exportingRestoredRun = false;
    std::atomic<int> _runningExportJobs{0};
};
