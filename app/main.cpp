// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppLog.h"
#include "app/ControlService.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace zwirl;

namespace {

[[noreturn]] void fail(const QString& message) {
    std::fprintf(stderr, "zwirl: %s\nTry 'zwirl --help' for more information.\n",
                 qPrintable(message));
    std::exit(2);
}

// Read before any window system is touched: --help, --version and mistakes end the process.
QString parseCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turns your mouse clicks into a sound and a picture, saved in the zwirl "
                       "folder on your Desktop."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QList<QCommandLineOption> actions{
        {QStringLiteral("start"), QStringLiteral("Start a tracking run (launches zwirl first).")},
        {QStringLiteral("stop"), QStringLiteral("Stop the run and save it.")},
        {QStringLiteral("toggle-window"), QStringLiteral("Show or hide the main window.")},
        {QStringLiteral("live-tone"), QStringLiteral("Play or silence the live tone.")},
        {QStringLiteral("debug"),
         QStringLiteral("Open the debug window, which shows the colour of the last click (launches "
                        "zwirl first).")},
        {QStringLiteral("quit"), QStringLiteral("Quit zwirl (an open run is kept).")}};
    parser.addOptions(actions);
    // Qt's own options, which the application object takes out of argv.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
         {"platform", "platformtheme", "plugin", "display", "session", "style", "stylesheet",
          "qwindowgeometry", "qwindowtitle", "qwindowicon", "reverse"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(),
                                    qstrcmp(name, "reverse") ? QStringLiteral("value") : QString());
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }

    if (!parser.parse(arguments))
        fail(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // Without an application object the parser cannot know the program's name.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QStringLiteral("zwirl"))),
                   stdout);
        std::exit(0);
    }
    if (parser.isSet(version)) {
        std::printf("zwirl %s\n", qPrintable(QCoreApplication::applicationVersion()));
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument '%1'")
                 .arg(parser.positionalArguments().constFirst()));
    QString chosen;
    for (const QCommandLineOption& action : actions)
        if (parser.isSet(action)) {
            if (!chosen.isEmpty())
                fail(QStringLiteral("give one action at a time"));
            chosen = action.names().constFirst();
        }
    return chosen;
}

bool hasDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return (!platform.isEmpty() && !platform.startsWith("xcb") &&
            !platform.startsWith("wayland")) ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Any other action needs a running zwirl.
bool launchesFor(const QString& action) {
    return action.isEmpty() || action == QLatin1String("start") || action == QLatin1String("debug");
}

int notRunning() {
    std::fputs("zwirl: zwirl is not running\n", stderr);
    return 1;
}

// SIGTERM, SIGINT and SIGHUP quit through the normal path: the handler, which may do only
// async-signal-safe work, writes to a pipe that the event loop watches.
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_signalPipe[2] = {-1, -1};

void quitOnTerminationSignals(DROVAppDelegate& delegate) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcApp) << "cannot watch termination signals";
        return;
    }
    QObject::connect(new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &delegate),
                     &QSocketNotifier::activated, &delegate, [&delegate] {
                         char byte;
                         while (::read(g_signalPipe[0], &byte, 1) == 1)
                             delegate.terminate();
                     });
    struct sigaction action = {};
    action.sa_handler = [](int) {
        const int savedErrno = errno;
        [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], "", 1);
        errno = savedErrno;
    };
    action.sa_flags = SA_RESTART;
    for (int s : kTerminationSignals)
        sigaction(s, &action, nullptr);
}

// Qt calls exit(1) inside the event loop when the X server goes away at the end of a session.
// The quit's work is done then, from exit's handlers, and the process ends before the libraries'
// globals go down under threads that still use them.
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("zwirl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZWIRL_VERSION));
    // zwirl's debug lines only for zwirl --debug, or as QT_LOGGING_RULES asks.
    QLoggingCategory::setFilterRules(QStringLiteral("zwirl.*.debug=false"));
    const QString action = parseCommandLine(argc, argv);
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

    // Clicks read through XWayland need X11 windows, so that presses on zwirl's own are known.
    if (clicksNeedX11Windows() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("de.tolvarek.zwirl"));
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
    // Only now: the first image read loads the image plugins, which would slow a forwarding run.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/zwirl.png")));
    // This is the session's zwirl now: what a zwirl that died left watching goes.
    clicks->clearLeftovers();

    quitOnTerminationSignals(delegate);
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

    QTimer::singleShot(0, &delegate, [&delegate, &control, action] {
        delegate.applicationDidFinishLaunching();
        if (!action.isEmpty())
            control.ActivateAction(action, {}, {});
    });
    const int status = QApplication::exec();
    g_endOfSession = nullptr;
    for (int s : kTerminationSignals)
        std::signal(s, SIG_DFL);
    return status;
}
