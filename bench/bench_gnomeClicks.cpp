// SPDX-License-Identifier: GPL-3.0-or-later
// The GNOME Shell click source in a GNOME session under Wayland (tests/gnome-session.sh with
// the installed extension enabled):
//  latency  left presses injected through the compositor's remote desktop interface, each held
//           for a given time; per press the time from sending it to the click reported on the
//           main thread with its colour; presses never reported.
//  idle     gnome-shell's CPU time over a given time with the source watching and no clicks,
//           against the same time with nothing watching.
//  flood    reports from a connection that is not the shell's, sent all at once while a run is
//           open: the time until every one is refused, and the longest the main thread went
//           without serving its timers meanwhile.
//   tests/gnome-session.sh --extensions build/install/share/gnome-shell/extensions --
//     build/bin/bench_gnomeClicks latency [presses] [hold-ms]
//   ... build/bin/bench_gnomeClicks idle [seconds]
//   ... build/bin/bench_gnomeClicks flood [reports]
#include "CompositorIdle.h"
#include "Percentile.h"
#include "capture/gnome/GnomeClickSource.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zwirl;

namespace {

int latency(GnomeClickSource& source, int presses, int holdMs) {
    testsupport::RemotePointer pointer;
    if (!pointer.isReady() || !source.start()) {
        std::fprintf(stderr, "no remote pointer or the extension does not watch\n");
        return 1;
    }
    std::vector<double> times;
    int lost = 0;
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&source, &ClickSource::clicked, &loop, [&] {
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        loop.quit();
    });
    QTimer timeout, release;
    timeout.setSingleShot(true);
    release.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&release, &QTimer::timeout, &loop, [&] { pointer.button(false); });
    for (int i = 0; i < presses; ++i) {
        pointer.moveTo({200 + (i % 20) * 40, 300 + (i / 20 % 10) * 30});
        const size_t before = times.size();
        clock.start();
        pointer.button(true);
        release.start(holdMs);
        timeout.start(1000);
        loop.exec();
        if (times.size() == before)
            ++lost;
        while (release.isActive())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The release is seen before the next press.
        QThread::msleep(40);
    }
    source.stop();
    std::printf("presses %d held %d ms: median %.1f ms, p99 %.1f ms, max %.1f ms, lost %d\n",
                presses, holdMs, bench::percentile(times, 50), bench::percentile(times, 99),
                bench::percentile(times, 100), lost);
    return 0;
}

int flood(GnomeClickSource& source, int reports) {
    if (!source.start())
        return 1;
    QDBusConnection stranger =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stranger"));
    QDBusMessage report = QDBusMessage::createMethodCall(
        QDBusConnection::sessionBus().baseService(), QStringLiteral("/de/tolvarek/zwirl/Clicks"),
        QStringLiteral("de.tolvarek.zwirl.Clicks"), QStringLiteral("Pressed"));
    report << 10 << 10 << false << QVariant::fromValue(QList<double>{1, 0, 0});
    QElapsedTimer sinceTick, total;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    total.start();
    sinceTick.start();
    tick.start();
    for (int i = 0; i < reports; ++i)
        stranger.asyncCall(report);
    // Served in order: the last report is answered once all before it were refused.
    const QDBusMessage last = stranger.call(report, QDBus::BlockWithGui, 120000);
    std::printf("%d reports from a stranger, all refused in %lld ms (the last: %s); longest the "
                "main thread went without its 1 ms timer: %lld ms\n",
                reports + 1, total.elapsed(), qPrintable(last.errorName()), longestGap);
    source.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (!bench::takeZwirlsName())
        return 1;
    GnomeClickSource source;
    if (args.value(1) == QLatin1String("latency"))
        return latency(source, args.value(2, QStringLiteral("200")).toInt(),
                       args.value(3, QStringLiteral("30")).toInt());
    if (args.value(1) == QLatin1String("idle"))
        return bench::compositorIdle(source, QStringLiteral("org.gnome.Shell"),
                                     args.value(2, QStringLiteral("60")).toInt());
    if (args.value(1) == QLatin1String("flood"))
        return flood(source, args.value(2, QStringLiteral("20000")).toInt());
    std::fprintf(stderr, "usage: bench_gnomeClicks latency [presses] [hold-ms] | idle [seconds] "
                         "| flood [reports]\n");
    return 2;
}
