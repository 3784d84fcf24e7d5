// SPDX-License-Identifier: GPL-3.0-or-later
// The KWin click source in a KWin session under Wayland (tests/kde-session.sh finding the
// installed effects and the tests' share, so that KWin grants kwin_pointer its fake input):
//  latency     left presses injected through KWin's fake input (tests/e2e/kwin_pointer); per
//              press the time from sending it to the click reported on the main thread with its
//              colour (or without, where KWin gives none); presses never reported.
//  idle        kwin_wayland's CPU time over a given time with a run open and no clicks, against
//              the same time with no run.
//  screenshot  one 1 × 1 read through KWin's ScreenShot2, where the session gives them.
//   tests/kde-session.sh --data build/install/share --data build/tests/share --
//     build/bin/bench_kwinClicks latency build/tests/e2e/kwin_pointer [presses]
//   ... build/bin/bench_kwinClicks idle [seconds]
//   ... build/bin/bench_kwinClicks screenshot [reads]
#include "CompositorIdle.h"
#include "Percentile.h"
#include "capture/kde/KdeClickSource.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <vector>

using namespace zwirl;

namespace {

int latency(KdeClickSource& source, const QString& pointerTool, int presses) {
    QProcess pointer;
    pointer.start(pointerTool);
    // The event loop may have read the answer already.
    const auto answered = [&] {
        return (pointer.canReadLine() || pointer.waitForReadyRead(5000)) &&
               pointer.readLine().trimmed() == "ok";
    };
    const auto send = [&](const QByteArray& command) {
        pointer.write(command + '\n');
        return answered();
    };
    if (!pointer.waitForStarted() || !send("move 10 10") || !source.start()) {
        std::fprintf(stderr, "no fake input or the effects do not load\n");
        return 1;
    }
    std::vector<double> times;
    int lost = 0, colourless = 0;
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&source, &ClickSource::clicked, &loop,
                     [&](QPoint, std::optional<ClickSample> colour) {
                         times.push_back(double(clock.nsecsElapsed()) / 1e6);
                         colourless += colour ? 0 : 1;
                         loop.quit();
                     });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (int i = 0; i < presses; ++i) {
        send(QStringLiteral("move %1 %2")
                 .arg(200 + (i % 20) * 40)
                 .arg(300 + (i / 20 % 10) * 30)
                 .toUtf8());
        const size_t before = times.size();
        clock.start();
        pointer.write("press\n");
        timeout.start(1000);
        loop.exec();
        lost += times.size() == before ? 1 : 0;
        answered();
        send("release");
    }
    source.stop();
    std::printf(
        "presses %d: median %.1f ms, p99 %.1f ms, max %.1f ms, lost %d, without colour %d\n",
        presses, bench::percentile(times, 50), bench::percentile(times, 99),
        bench::percentile(times, 100), lost, colourless);
    return 0;
}

int screenshot(int reads) {
    std::vector<double> times;
    QString failure;
    QElapsedTimer clock;
    for (int i = 0; i < reads; ++i) {
        clock.start();
        readKWinPixel(QPoint(100 + i, 100), failure);
        if (!failure.isEmpty()) {
            std::printf("no screenshot: %s\n", qPrintable(failure));
            return 1;
        }
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("1 x 1 reads %d: median %.2f ms, p99 %.2f ms\n", reads,
                bench::percentile(times, 50), bench::percentile(times, 99));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (!bench::takeZwirlsName())
        return 1;
    KdeClickSource source;
    if (args.value(1) == QLatin1String("latency"))
        return latency(source, args.value(2), args.value(3, QStringLiteral("200")).toInt());
    if (args.value(1) == QLatin1String("idle"))
        return bench::compositorIdle(source, QStringLiteral("org.kde.KWin"),
                                     args.value(2, QStringLiteral("60")).toInt());
    if (args.value(1) == QLatin1String("screenshot"))
        return screenshot(args.value(2, QStringLiteral("100")).toInt());
    std::fprintf(stderr,
                 "usage: bench_kwinClicks latency POINTER-TOOL [presses] | idle [seconds] | "
                 "screenshot [reads]\n");
    return 2;
}
