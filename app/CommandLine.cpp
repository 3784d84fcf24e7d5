// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace zwirl {

// Offscreen and other platforms need no window system.
bool hasDisplay() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return (!platform.isEmpty() && !platform.startsWith("xcb") &&
            !platform.startsWith("wayland")) ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

namespace {

CommandLine fail(int status, const QString& message) {
    std::fprintf(stderr, "zwirl: %s\nTry 'zwirl --help' for more information.\n",
                 qPrintable(message));
    return {status, {}};
}

} // namespace

CommandLine parseCommandLine(int argc, char** argv) {
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
    // Qt's own options, which the application object takes before anything else sees them.
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
        return fail(2, parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // Without an application object the parser cannot know the program's name.
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QStringLiteral("zwirl"))),
                   stdout);
        return {0, {}};
    }
    if (parser.isSet(version)) {
        std::printf("zwirl %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return {0, {}};
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(2, QStringLiteral("unexpected argument '%1'")
                           .arg(parser.positionalArguments().constFirst()));
    CommandLine commandLine;
    for (const QCommandLineOption& action : actions)
        if (parser.isSet(action)) {
            if (!commandLine.action.isEmpty())
                return fail(2, QStringLiteral("give one action at a time"));
            commandLine.action = action.names().constFirst();
        }
    return commandLine;
}

} // namespace zwirl
