// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ExportQueue.h"
#include "app/TrackingRun.h"
#include "capture/ClickSource.h"
#include "services/Settings.h"
#include "sound/DROVTonePlayer.h"
#include "ui/AppWindows.h"
#include "ui/DROVMainWindowController.h"

#include <QColor>
#include <QCoreApplication>

#include <optional>

namespace zwirl {

class DROVDebugWindowController;
class RunJournal;
class TrayIcon;

// Decides what happens and when; the run, the exports, the store and the tray icon do the work.
class DROVAppDelegate : public QObject, public DROVMainControllerDelegate {
    Q_OBJECT
public:
    static constexpr int kFadeDurationMs = 300;
    static inline const QString kSetUpClicksAction = QStringLiteral("set-up-clicks");

    DROVAppDelegate(Settings& settings, RunStore& store, ExportQueue& exports, ClickSource& clicks,
                    QObject* parent = nullptr);
    ~DROVAppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    bool isTracking() const override { return m_isTracking; }

    void controllerStartAction() override;
    void controllerStopAction() override { stopTrackingAndNotify(false, {}); }
    void controllerCloseAction() override;
    void controllerSetUpAction() override { setUpClicks(); }
    void startTracking();
    void handleLeftMouseDown(QPoint location, std::optional<ClickSample> colour);
    void setUpClicks() { m_clickSource.setUp(); }
    void initTonePlayer();
    void toggleLiveTone();
    void reminderNotification();
    void reachedMaxClicks();
    void beforeStopTracking();
    void stopTrackingAndNotify(bool notify, std::function<void()> block) {
        stopTracking(notify ? ExportRequest::Tell::NotifyAndOpenFolder
                            : ExportRequest::Tell::Nothing,
                     std::move(block));
    }
    // For a stop that no window shows: the saved files are told in a notification.
    void stopTrackingAndTell() {
        if (m_isTracking)
            stopTracking(ExportRequest::Tell::Notify, {});
    }

    bool isExporting() const { return m_exports.isBusy(); }
    double exportProgress() const { return m_exports.progress(); }
    // Clicks of the open or last run that no export has taken yet.
    const Samples& recordedSamples() const { return m_run->samples(); }
    bool isLiveTonePlaying() const { return m_tone && m_tone->isPlaying(); }

    void setupStatusItem();
    // The tray icon and the control service follow the signal.
    void changedStatusActive(bool) { Q_EMIT statusChanged(); }
    void showWindow() { m_controllerWindow ? controllerCloseAction() : showMainWindow(); }
    void showMainWindow();
    void showAbout();
    void showDebugWindow();
    // Leaves the event loop directly: quit() first asks every window to close, and the tray
    // icon's embedded window refuses, which cancels the quit.
    void terminate() { QCoreApplication::exit(0); }
    void checkLoginItem();
    bool startsAtLogin() const { return m_settings.startAtLogin().value_or(true); }
    void setStartAtLogin(bool start);
    void openRecordingsFolder();
    DROVMainWindowController* mainWindowController() const { return m_controllerWindow; }

Q_SIGNALS:
    // A run, its clicks, an export or a setting of the tray menu changed.
    void statusChanged();

private:
    void saveRunsOfEarlierProcesses();
    void stopTracking(ExportRequest::Tell tell, std::function<void()> block);
    void clicksUnseen();
    void journalFailed();

    Settings& m_settings;
    RunStore& m_store;
    ExportQueue& m_exports;
    ClickSource& m_clickSource;
    TrackingRun* m_run;
    std::unique_ptr<RunJournal> m_journal;
    bool m_journalFailed = false;
    std::size_t m_invalidColours = 0;
    std::unique_ptr<DROVTonePlayer> m_tone;
    TrayIcon* m_statusItem = nullptr;
    QPointer<DROVMainWindowController> m_controllerWindow;
    AppWindows m_windows;
    DROVDebugWindowController* m_debugWindow = nullptr;
    QColor m_lastClick;
    std::pair<QString, QString> m_setUp;
    bool m_isTracking = false;
    // A start is under way while the main window fades out; further starts are ignored.
    bool m_isStarting = false;
};

} // namespace zwirl
