// Time from process start to the application answering on the session bus, over repeated
// launches of the installed binary, each with a fresh home. Run inside the test desktop:
//   tests/desktop.sh -- build/bin/bench_startup [binary] [launches]
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

    std::vector<double> times;
    for (int i = 0; i < launches; ++i) {
        const double ms = launchAndTimeReady(binary);
        if (ms < 0) {
            std::fprintf(stderr, "launch %d never appeared on the bus\n", i);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("start to ready on the bus over %d launches: median %.1f ms, p90 %.1f ms, "
                "min %.1f ms, max %.1f ms (target < 300 ms)\n",
                launches, times[times.size() / 2], times[times.size() * 9 / 10], times.front(),
                times.back());
    return 0;
}
