#include "app/CommandLine.h"
#include "app/ControlService.h"
#include "app/DROVAppDelegate.h"
#include "app/ExportQueue.h"
#include "app/TerminationSignals.h"
#include "capture/ClickSource.h"
#include "services/Settings.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>

using namespace zwirl;

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("zwirl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZWIRL_VERSION));
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.exitStatus)
        return *commandLine.exitStatus;

    // Where clicks are read through XWayland, our windows are X11 ones, so that presses on them
    // are known; where the compositor reports the clicks, it tells them apart and the windows
    // are native.
    if (clicksNeedX11Windows() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("de.tolvarek.zwirl"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/zwirl.png")));
    // Closing the main window leaves zwirl running in the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    Settings settings;
    RunStore store(settings);
    ExportQueue exports(store);
    const std::unique_ptr<ClickSource> clicks = createClickSource();
    DROVAppDelegate delegate(settings, store, exports, *clicks);

    ControlService control(delegate);
    // One zwirl per session: the running one shows itself, or does what was asked, instead.
    const QString action = commandLine.action;
    if (const std::optional<int> status = control.registerOnSessionBus(action))
        return *status;
    if (!action.isEmpty() && action != QLatin1String("start")) {
        std::fprintf(stderr, "zwirl: zwirl is not running\n");
        return 1;
    }
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

    QTimer::singleShot(0, &delegate, [&delegate, action] {
        delegate.applicationDidFinishLaunching();
        if (action == QLatin1String("start"))
            delegate.controllerStartAction();
    });
    return QApplication::exec();
}
