// SPDX-License-Identifier: GPL-3.0-or-later
// Time from process start to the application answering on the session bus, over repeated
// launches of the installed binary, each with a fresh home. Run inside the test desktop:
//   tests/desktop.sh -- build/bin/bench_startup [binary] [launches] [other binary]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

double launchAndTimeReady(const QString& binary) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/.local/share"));

    QDBusServiceWatcher watcher(QStringLiteral("de.tolvarek.zwirl"), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    app.start(binary, {});
    loop.exec();
    const double ms = clock.nsecsElapsed() / 1e6;
    const bool ready = QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("de.tolvarek.zwirl"));
    ::kill(pid_t(app.processId()), SIGTERM);
    app.waitForFinished(10000);
    return ready ? ms : -1.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString binary = args.value(1, QStringLiteral("build/install/bin/zwirl"));
    const int launches = args.value(2, QStringLiteral("20")).toInt();
    // A second binary is launched in turn with the first, so that both meet the same load.
    QStringList binaries{binary};
    if (args.size() > 3)
        binaries << args.value(3);

    std::vector<std::vector<double>> times(binaries.size());
    for (int i = 0; i < launches; ++i)
        for (qsizetype b = 0; b < binaries.size(); ++b) {
            const double ms = launchAndTimeReady(binaries[b]);
            if (ms < 0) {
                std::fprintf(stderr, "launch %d of %s never appeared on the bus\n", i,
                             qPrintable(binaries[b]));
                return 1;
            }
            times[b].push_back(ms);
        }
    for (qsizetype b = 0; b < binaries.size(); ++b) {
        std::vector<double>& t = times[b];
        std::sort(t.begin(), t.end());
        std::printf("%s: start to ready on the bus over %d launches: median %.1f ms, p90 %.1f "
                    "ms, min %.1f ms, max %.1f ms (target < 100 ms)\n",
                    qPrintable(binaries[b]), launches, t[t.size() / 2], t[t.size() * 9 / 10],
                    t.front(), t.back());
    }
    return 0;
}
