// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DROVAppDelegate.h"

#include "app/AppLog.h"
#include "app/RunJournal.h"
#include "app/RunRecovery.h"
#include "app/TrayIcon.h"
#include "media/Media.h"
#include "services/DROVHelper.h"
#include "services/Notifications.h"
#include "services/TVKLoginItem.h"
#include "sound/DROVAudioFileHelper.h"
#include "ui/DROVDebugWindowController.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

namespace zwirl {

DROVAppDelegate::DROVAppDelegate(Settings& settings, RunStore& store, ExportQueue& exports,
                                 ClickSource& clicks, QObject* parent)
    : QObject(parent), m_settings(settings), m_store(store), m_exports(exports),
      m_clickSource(clicks), m_run(new TrackingRun(this)),
      m_journal(std::make_unique<RunJournal>()) {
    connect(&m_clickSource, &ClickSource::clicked, this, &DROVAppDelegate::handleLeftMouseDown);
    connect(&m_clickSource, &ClickSource::notice, this, &DROVHelper::notify);
    connect(&m_clickSource, &ClickSource::failed, this, &DROVAppDelegate::clicksUnseen);
    // Told at each run start until nothing is needed, and shown in the main window.
    connect(&m_clickSource, &ClickSource::setUpOffered, this,
            [this](const QString& text, const QString& button) {
                m_setUp = {text, button};
                if (m_controllerWindow)
                    m_controllerWindow->showSetUp(text, button);
                if (!m_isTracking || text.isEmpty())
                    return;
                Notifications::Options options;
                if (!button.isEmpty())
                    options.buttons = {{kSetUpClicksAction, button}};
                Notifications::deliver(text, options);
            });
    connect(m_run, &TrackingRun::reminderDue, this, &DROVAppDelegate::reminderNotification);
    const auto showStatus = [this] { changedStatusActive(m_isTracking); };
    connect(&m_exports, &ExportQueue::busyChanged, this, showStatus);
    connect(&m_exports, &ExportQueue::progressChanged, this, showStatus);
}

DROVAppDelegate::~DROVAppDelegate() {
    m_clickSource.stop();
}

void DROVAppDelegate::applicationDidFinishLaunching() {
    connect(new Notifications(this), &Notifications::activated, this,
            [this](uint id, const QString& action) {
                Notifications::remove(id);
                if (action == ExportQueue::kOpenFolderAction)
                    openRecordingsFolder();
                else if (action == kSetUpClicksAction)
                    setUpClicks();
            });
    Notifications::removeAllDelivered();
    // First: the settings file is rewritten whole at each change, slow while it holds a huge run.
    saveRunsOfEarlierProcesses();
    checkLoginItem();
    setupStatusItem();
    // GNOME has no tray: the main window tells what the desktop needs before any run.
    m_clickSource.checkSetUp();
}

// The window shows once the last is saved, at once when there is none.
void DROVAppDelegate::saveRunsOfEarlierProcesses() {
    const bool saving =
        recovery::saveRunsOfEarlierProcesses(m_store, m_exports, [self = QPointer(this)] {
            if (self)
                self->showMainWindow();
        });
    if (!saving)
        showMainWindow();
}

void DROVAppDelegate::applicationWillTerminate() {
    if (m_isTracking) {
        beforeStopTracking();
        // The store takes the clicks over, the journal only when the store cannot: should the
        // quit not come after all (a cancelled logout), the next launch saves them once.
        const RecordedRun run = m_run->take();
        const QString journal = m_journal->close();
        if (run.samples.empty() || m_store.add(run))
            QFile::remove(journal);
    }
    // An export that is still writing must finish, or its files are left half-written.
    m_exports.finish();
}

void DROVAppDelegate::controllerStartAction() {
    if (m_isStarting || m_isTracking)
        return;
    m_isStarting = true;
    QWidget* window = m_controllerWindow ? m_controllerWindow->window() : nullptr;
    m_windows.fadeOut(window, kFadeDurationMs, [this] {
        controllerCloseAction();
        m_windows.hideOwn();
        m_isStarting = false;
        startTracking();
    });
}

void DROVAppDelegate::startTracking() {
    DROVHelper::notify(QStringLiteral("Started tracking mouse clicks..."));
    m_run->begin();
    m_journalFailed = false;
    if (!m_journal->open(m_run->startDate()))
        journalFailed();
    m_isTracking = true;
    changedStatusActive(true);
    if (!m_clickSource.start())
        clicksUnseen();
}

void DROVAppDelegate::handleLeftMouseDown(QPoint, std::optional<ClickSample> colour) {
    if (!m_isTracking)
        return;
    if (colour && !isValidSample(*colour)) {
        ++m_invalidColours;
        colour.reset();
    }
    const ClickSample sample = colour.value_or(ClickSample{0.0, 0.0, 0.0});
    if (m_tone)
        m_tone->newFreq(DROVAudioFileHelper::newFreq(float(sample[0] + sample[1] + sample[2])));
    m_lastClick = QColor::fromRgbF(float(sample[0]), float(sample[1]), float(sample[2]));
    if (m_debugWindow)
        m_debugWindow->showColor(m_lastClick);
    if (!m_journal->append(sample))
        journalFailed();
    if (m_run->add(sample))
        reachedMaxClicks();
    else
        changedStatusActive(m_isTracking);
}

void DROVAppDelegate::clicksUnseen() {
    if (m_isTracking)
        DROVHelper::notify(QStringLiteral(
            "zwirl cannot see your clicks in this session, so this run records none."));
}

void DROVAppDelegate::journalFailed() {
    if (!std::exchange(m_journalFailed, true))
        DROVHelper::notify(QStringLiteral("zwirl cannot keep this run safe in %1: should zwirl "
                                          "end unexpectedly, its clicks would be lost.")
                               .arg(RunJournal::folderPath()));
}

void DROVAppDelegate::initTonePlayer() {
    m_tone = std::make_unique<DROVTonePlayer>();
    m_tone->start();
}

void DROVAppDelegate::toggleLiveTone() {
    try {
        m_tone ? m_tone->start() : initTonePlayer();
    } catch (const std::exception& failure) {
        DROVHelper::notify(
            QStringLiteral("The live tone cannot play: %1").arg(QString::fromUtf8(failure.what())));
    }
    changedStatusActive(m_isTracking);
}

void DROVAppDelegate::reminderNotification() {
    Notifications::removeAllDelivered();
    DROVHelper::notify(
        QStringLiteral("A friendly reminder that you're still tracking your zwirl..."));
}

void DROVAppDelegate::reachedMaxClicks() {
    stopTrackingAndNotify(true, {});
    m_windows.openAlert(
        QStringLiteral("You've reached %1 clicks - that's a lot of data and we will stop counting "
                       "now! listen to your clicks (located on the desktop).")
            .arg(TrackingRun::kClickLimit));
}

void DROVAppDelegate::beforeStopTracking() {
    m_clickSource.stop();
    if (const std::size_t invalid = std::exchange(m_invalidColours, 0); invalid > 0)
        qCWarning(lcApp) << "dropped the colours of" << invalid
                         << "clicks that were not three numbers from 0 to 1";
    m_run->end();
    m_isTracking = false;
    changedStatusActive(false);
}

void DROVAppDelegate::stopTracking(ExportRequest::Tell tell, std::function<void()> block) {
    beforeStopTracking();
    if (m_tone)
        m_tone->stop();
    RecordedRun run = m_run->take();
    if (run.samples.empty())
        DROVHelper::notify(
            QStringLiteral("Stopped tracking: no clicks were recorded, so nothing was saved."));
    m_exports.enqueue({.run = std::move(run),
                       .tell = tell,
                       .journal = m_journal->close(),
                       .done = std::move(block)});
    changedStatusActive(m_isTracking);
}

void DROVAppDelegate::setupStatusItem() {
    m_statusItem = new TrayIcon(*this);
    if (m_debugWindow)
        m_statusItem->showDebugItem();
}

void DROVAppDelegate::showMainWindow() {
    if (m_controllerWindow)
        return;
    m_controllerWindow = new DROVMainWindowController(this);
    m_controllerWindow->setDelegate(this);
    m_controllerWindow->showSetUp(m_setUp.first, m_setUp.second);
    AppWindows::presentCentred(m_controllerWindow->window());
}

// The controller goes once the event being handled is done with: the request may come from it.
void DROVAppDelegate::controllerCloseAction() {
    if (!m_controllerWindow)
        return;
    m_controllerWindow->close();
    std::exchange(m_controllerWindow, nullptr)->deleteLater();
}

void DROVAppDelegate::showAbout() {
    m_windows.showHidden();
    m_windows.showAbout(media::libraryVersions(),
                        QString::fromLatin1(DROVMainWindowController::kMakerWebsite));
}

void DROVAppDelegate::showDebugWindow() {
    QLoggingCategory::setFilterRules(QStringLiteral("zwirl.*.debug=true"));
    if (m_statusItem)
        m_statusItem->showDebugItem();
    if (!m_debugWindow) {
        m_debugWindow = new DROVDebugWindowController(this);
        m_debugWindow->showColor(m_lastClick);
    }
    m_debugWindow->window()->show();
    m_debugWindow->window()->raise();
}

void DROVAppDelegate::checkLoginItem() {
    if (!m_settings.startAtLogin()) {
        m_settings.setStartAtLogin(true);
        m_settings.sync();
    }
    const QString path = QCoreApplication::applicationFilePath();
    if (startsAtLogin())
        TVKLoginItem::addAppAsLoginItem(path);
    else
        TVKLoginItem::deleteAppFromLoginItem(path);
}

void DROVAppDelegate::setStartAtLogin(bool start) {
    m_settings.setStartAtLogin(start);
    m_settings.sync();
    checkLoginItem();
    changedStatusActive(m_isTracking);
}

void DROVAppDelegate::openRecordingsFolder() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_exports.makeFolder()));
}

} // namespace zwirl
