// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppLog.h"
#include "app/CommandLine.h"
#include "app/ControlService.h"
#include "app/DROVAppDelegate.h"
#include "app/ExportQueue.h"
#include "app/TerminationSignals.h"
#include "capture/ClickSource.h"
#include "services/Settings.h"

#include <QApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace zwirl;

namespace {

// Qt ends the process with exit(1) from inside the event loop when the X server goes away, as at
// the end of a session. What a quit does is done then, from exit's handlers, and the process
// ends before the libraries' globals go down under threads that still use them.
std::function<void()> g_endOfSession;
std::thread::id g_mainThread;

void endWithSession() {
    if (std::this_thread::get_id() != g_mainThread)
        return;
    if (const std::function<void()> end = std::exchange(g_endOfSession, {})) {
        end();
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

// What a zwirl launched for it does once it runs; any other action needs a running zwirl.
bool launchesFor(const QString& action) {
    return action.isEmpty() || action == QLatin1String("start") || action == QLatin1String("debug");
}

int notRunning() {
    std::fputs("zwirl: zwirl is not running\n", stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("zwirl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZWIRL_VERSION));
    // zwirl's own debug lines (a pitch at each click) only for zwirl --debug, or as
    // QT_LOGGING_RULES asks.
    QLoggingCategory::setFilterRules(QStringLiteral("zwirl.*.debug=false"));
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;
    const QString action = commandLine.action;
    if (!hasDisplay()) {
        // From ssh, cron or a timer: a running instance still takes actions.
        QCoreApplication app(argc, argv);
        if (const std::optional<int> status = ControlService::forwardToRunningInstance(action))
            return *status;
        if (!launchesFor(action))
            return notRunning();
        std::fputs("zwirl: no display to run on (DISPLAY and WAYLAND_DISPLAY unset)\n", stderr);
        return 1;
    }

    // Where clicks are read through XWayland, our windows are X11 ones, so that presses on them
    // are known; where the compositor reports the clicks, it tells them apart and the windows
    // are native. A Wayland session without XWayland keeps native windows, and a run says
    // that it cannot see clicks there.
    if (clicksNeedX11Windows() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("de.tolvarek.zwirl"));
    // Closing the main window leaves zwirl running in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    Settings settings;
    RunStore store(settings);
    ExportQueue exports(store);
    const std::unique_ptr<ClickSource> clicks = createClickSource();
    DROVAppDelegate delegate(settings, store, exports, *clicks);

    ControlService control(delegate);
    // One zwirl per session: the running one shows itself, or does what was asked, instead.
    if (const std::optional<int> status = control.registerOnSessionBus(action))
        return *status;
    if (!launchesFor(action))
        return notRunning();
    // Only now: the first image read loads Qt's image format plugins, which a launch that
    // hands its action to the running zwirl never needs, and which would delay the answer on
    // the bus.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/zwirl.png")));
    // This is the session's zwirl now: what a zwirl that died left watching goes.
    clicks->clearLeftovers();

    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &DROVAppDelegate::terminate);
    // A logout asks to save first; the quit that follows finds the run already kept.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     &DROVAppDelegate::applicationWillTerminate);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     &DROVAppDelegate::applicationWillTerminate);

    g_endOfSession = [&delegate, &clicks] {
        qCInfo(lcApp) << "the display went away; zwirl keeps the open run and ends";
        delegate.applicationWillTerminate();
        clicks->stop();
    };
    g_mainThread = std::this_thread::get_id();
    std::atexit(endWithSession);

    QTimer::singleShot(0, &delegate, [&delegate, action] {
        delegate.applicationDidFinishLaunching();
        if (action == QLatin1String("start"))
            delegate.controllerStartAction();
        else if (action == QLatin1String("debug"))
            delegate.showDebugWindow();
    });
    const int status = QApplication::exec();
    g_endOfSession = nullptr;
    return status;
}
