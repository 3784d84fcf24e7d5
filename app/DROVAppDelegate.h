// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ExportQueue.h"
#include "app/RunStore.h"
#include "ui/DROVMainControllerDelegate.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

namespace zwirl {

class AppWindows;
class ClickSource;
class DROVMainWindowController;
class DROVTonePlayer;
class RunJournal;
class Settings;
class TrackingRun;
class TrayIcon;

// The application's controller: launch and quit, tracking runs and their clicks, the export of
// a finished run, the tray icon and the windows. It decides what happens and when; the run,
// the export queue, the run store, the tray icon and the windows do the work.
class DROVAppDelegate : public QObject, public DROVMainControllerDelegate {
    Q_OBJECT
public:
    DROVAppDelegate(Settings& settings, RunStore& store, ExportQueue& exports, ClickSource& clicks,
                    QObject* parent = nullptr);
    ~DROVAppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    bool isTracking() const override { return m_isTracking; }

    void controllerStartAction() override;
    void controllerStopAction() override;
    void startTracking();
    // The click handler: one left press in another application, with the colour under it.
    void handleLeftMouseDown(QPoint location, std::optional<ClickSample> colour);
    // What the desktop needs so that runs record every click, when the user was offered it:
    // the button of that notification, and the control interface's set-up-clicks action.
    static inline const QString kSetUpClicksAction = QStringLiteral("set-up-clicks");
    void setUpClicks();
    // Tells the user, once a run, that its clicks are not kept safe on disk.
    void journalFailed();
    void initTonePlayer();
    // The menu's live tone: created the first time, started again after. A failure to play is
    // told to the user; it never stops the application.
    void toggleLiveTone();
    void reminderNotification();
    void reachedMaxClicks();
    void beforeStopTracking();

    void stopTrackingAndNotify(bool notify, std::function<void()> block);
    // A stop from the tray, the command line or the bus, where no window shows it: the saved
    // files are told in a notification, and the folder stays closed.
    void stopTrackingAndTell();
    bool isExporting() const;
    // How much of the sound of the export being written is done, 0 to 1.
    double exportProgress() const;
    // Clicks of the open or last run that no export has taken yet.
    const Samples& recordedSamples() const;
    bool isLiveTonePlaying() const;

    void setupStatusItem();
    void changedStatusActive(bool active);
    // The toggle of the tray menu and the command line: opens the main window when it is
    // closed, closes it when it is open.
    void showWindow();
    // Opens the main window when it is closed; an open one stays.
    void showMainWindow();
    void controllerCloseAction() override;
    void controllerSetUpAction() override { setUpClicks(); }
    void showAbout();
    // zwirl --debug: the debug window, showing the colour of the last click, its tray item, and
    // zwirl's debug lines in the log.
    void showDebugWindow();
    // The menu's quit: the application quits normally.
    void terminate();
    void checkLoginItem();
    // The startup key; true until set otherwise.
    bool startsAtLogin() const;
    // The menu's switch: stores the startup key and adds or removes the login item at once.
    void setStartAtLogin(bool start);
    // The output folder in the file manager; made first when it is missing.
    void openRecordingsFolder();
    // Null while the main window is closed.
    DROVMainWindowController* mainWindowController() const;

Q_SIGNALS:
    // Whether a run is open, its clicks, an export or its progress, or a setting of the tray
    // menu changed.
    void statusChanged();

private:
    // The runs that earlier processes kept: in the store, and in journals of processes that
    // did not end in order.
    void saveRunsOfEarlierProcesses();
    void stopTracking(ExportRequest::Tell tell, std::function<void()> block);
    // No source of clicks works in this session: the open run records none.
    void clicksUnseen();

    Settings& m_settings;
    RunStore& m_store;
    ExportQueue& m_exports;
    ClickSource& m_clickSource;
    TrackingRun* m_run;
    std::unique_ptr<RunJournal> m_journal;
    bool m_journalFailed = false;
    std::size_t m_invalidColours = 0; // reported in this run

    std::unique_ptr<DROVTonePlayer> m_tone;
    TrayIcon* m_statusItem = nullptr;
    AppWindows* m_windows;
    bool m_isTracking = false;
    // A start is under way while the main window fades out; further starts are ignored.
    bool m_isStarting = false;
    bool m_debugging = false;
};

} // namespace zwirl
