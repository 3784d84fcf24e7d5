// The GNOME Shell click source in a GNOME session under Wayland (tests/gnome-session.sh with
// the installed extension enabled):
//  latency  left presses injected through the compositor's remote desktop interface, each held
//           for a given time; per press the time from sending it to the click reported on the
//           main thread with its colour; presses never reported.
//  idle     gnome-shell's CPU time over a given time with the source watching and no clicks,
//           against the same time with nothing watching.
//   tests/gnome-session.sh --extensions build/install/share/gnome-shell/extensions --
//     build/bin/bench_gnomeClicks latency [presses] [hold-ms]
//   ... build/bin/bench_gnomeClicks idle [seconds]
#include "CompositorIdle.h"
#include "Percentile.h"
#include "capture/gnome/GnomeClickSource.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
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
    std::fprintf(stderr, "usage: bench_gnomeClicks latency [presses] [hold-ms] | idle [seconds]\n");
    return 2;
}
