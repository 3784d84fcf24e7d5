#include "app/DROVAppDelegate.h"
#include "app/DROVControlService.h"
#include "platform/Application.h"
#include "platform/SessionBusService.h"
#include "platform/TerminationSignals.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QTimer>

#include <memory>

namespace {

// Global clicks and the pixels of other clients can only be read through X11; under Wayland
// the application runs in XWayland (and tells the user what that means when a run starts).
void preferX11() {
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

// The tray icon's menu; each item runs one of the delegate's operations. The menu lives as long
// as the application.
std::unique_ptr<QMenu> makeStatusMenu(DROVAppDelegate& delegate) {
    auto menu = std::make_unique<QMenu>(QStringLiteral("zwirl"));
    menu->addAction(QStringLiteral("Show or Hide Window"), &delegate, &DROVAppDelegate::showWindow);
    menu->addAction(QStringLiteral("Live Tone"), &delegate, &DROVAppDelegate::toggleLiveTone);
    menu->addSeparator();
    menu->addAction(QStringLiteral("About zwirl"), &delegate, &DROVAppDelegate::showAbout);
    menu->addAction(QStringLiteral("Quit zwirl"), &delegate, &DROVAppDelegate::terminate);
    delegate.setStatusMenu(menu.get());
    return menu;
}

} // namespace

int main(int argc, char** argv) {
    preferX11();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zwirl"));
    QApplication::setApplicationDisplayName(QStringLiteral("zwirl"));
    QApplication::setApplicationVersion(QStringLiteral(ZWIRL_VERSION));
    QApplication::setOrganizationDomain(QStringLiteral("tolvarek.de"));
    QGuiApplication::setDesktopFileName(QStringLiteral("de.tolvarek.zwirl"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/zwirl.png")));

    DROVAppDelegate delegate;
    Application::setDelegate(&delegate);
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());

    DROVControlService control(&delegate);
    SessionBusService bus(&control);
    if (bus.registerOnSessionBus() == SessionBusService::Registration::NameTaken) {
        // One zwirl per session: the running one shows itself instead.
        SessionBusService::activateRunningInstance();
        return 0;
    }

    const auto statusMenu = makeStatusMenu(delegate);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &DROVAppDelegate::terminate);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });

    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    Application::setDelegate(nullptr);
    return status;
}
