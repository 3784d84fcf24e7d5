#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace zwirl {

namespace {

// What the window system needs to be reached; offscreen and other platforms need nothing.
bool hasDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

std::optional<int> CommandLine::parse(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turns your mouse clicks into a sound and a picture, saved in the zwirl "
                       "folder on your Desktop."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QStringList actions{QStringLiteral("start"), QStringLiteral("stop"),
                              QStringLiteral("toggle-window"), QStringLiteral("live-tone"),
                              QStringLiteral("quit")};
    parser.addOptions({{actions[0], QStringLiteral("Start a tracking run (launches zwirl first).")},
                       {actions[1], QStringLiteral("Stop the run and save it.")},
                       {actions[2], QStringLiteral("Show or hide the main window.")},
                       {actions[3], QStringLiteral("Play or silence the live tone.")},
                       {actions[4], QStringLiteral("Quit zwirl (an open run is kept).")}});
    // Qt's own options, which the application object takes before anything else sees them.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name : {"platform", "platformtheme", "plugin", "display", "session", "style",
                             "stylesheet", "qwindowgeometry", "qwindowtitle", "qwindowicon"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    QCommandLineOption reverse(QStringLiteral("reverse"));
    reverse.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(reverse);

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "zwirl: %s\nTry 'zwirl --help' for more information.\n",
                     qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // Without an application object the parser cannot know the program's name.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("zwirl"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("zwirl %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zwirl: unexpected argument '%s'\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }
    for (const QString& action : actions)
        if (parser.isSet(action)) {
            if (!m_action.isEmpty()) {
                std::fprintf(stderr, "zwirl: --%s and --%s cannot be given together\n",
                             qPrintable(m_action), qPrintable(action));
                return 2;
            }
            m_action = action;
        }
    if (!hasDisplay()) {
        std::fprintf(stderr, "zwirl: no display to run on (neither DISPLAY nor WAYLAND_DISPLAY "
                             "is set)\n");
        return 1;
    }
    return std::nullopt;
}

} // namespace zwirl
