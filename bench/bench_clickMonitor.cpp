// SPDX-License-Identifier: GPL-3.0-or-later
// The click source in the test desktop:
//  latency  clicks injected with XTest at a fixed rate on the desktop (away from our tray icon);
//           per click the time from sending the press to the click reported on the main
//           thread with its position and pixel colour; lost clicks.
//  idle     the CPU time (getrusage) the process uses in a given time with a started source and
//           no clicks, against the same time without one.
// Run inside the test desktop:
//   tests/desktop.sh -- build/bin/bench_clickMonitor latency [clicks] [per-second]
//   tests/desktop.sh -- build/bin/bench_clickMonitor idle [seconds]
//   tests/desktop.sh -- build/bin/bench_clickMonitor journal [clicks] [per-second]
//           latency rounds alternately without and with each click appended to a run journal,
//           as the application's click handler does.
// XTest is used here only to inject input, as a user's mouse would.
#include "Percentile.h"
#include "app/RunJournal.h"
#include "capture/ClickSource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace zwirl;

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Our tray icon is shown during a run; with it the monitor has a window of ours to reckon with.
std::unique_ptr<QSystemTrayIcon> showTrayIcon() {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return nullptr;
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::magenta);
    auto tray = std::make_unique<QSystemTrayIcon>(QIcon(pixmap));
    tray->show();
    runEventLoopFor(1000);
    return tray;
}

int latency(int clicks, int perSecond, RunJournal* journal = nullptr) {
    auto tray = showTrayIcon();
    std::printf("tray icon: %s\n",
                tray ? qPrintable(QDebug::toString(tray->geometry())) : "none (no tray)");

    std::vector<Clock::time_point> sent{size_t(clicks), Clock::time_point()};
    std::vector<Clock::time_point> sampled;
    sampled.reserve(size_t(clicks));
    double checksum = 0.0;
    const auto source = zwirl::createClickSource();
    QObject::connect(source.get(), &zwirl::ClickSource::clicked,
                     [&](QPoint, std::optional<zwirl::ClickSample> colour) {
                         if (journal)
                             journal->append(colour.value_or(ClickSample{}));
                         sampled.push_back(Clock::now());
                         checksum += colour ? (*colour)[0] + (*colour)[1] + (*colour)[2] : 0.0;
                     });
    if (!source->start())
        return 1;
    runEventLoopFor(300);

    std::atomic<bool> done = false;
    std::thread injector([&] {
        Display* display = XOpenDisplay(nullptr);
        if (!display) {
            done = true;
            return;
        }
        XTestFakeMotionEvent(display, -1, 400, 500, 0);
        XSync(display, False);
        const auto interval = std::chrono::microseconds(1'000'000 / perSecond);
        auto next = Clock::now() + interval;
        for (int i = 0; i < clicks; ++i) {
            std::this_thread::sleep_until(next);
            next += interval;
            sent[size_t(i)] = Clock::now();
            XTestFakeButtonEvent(display, 1, True, 0);
            XFlush(display);
            XTestFakeButtonEvent(display, 1, False, 0);
            XFlush(display);
        }
        XSync(display, False);
        XCloseDisplay(display);
        done = true;
    });
    while (!done)
        runEventLoopFor(50);
    injector.join();
    runEventLoopFor(500); // the last presses
    source->stop();

    std::printf("clicks sent %d at %d/s, recorded %zu, lost %zd\n", clicks, perSecond,
                sampled.size(), ssize_t(clicks) - ssize_t(sampled.size()));
    if (sampled.size() != size_t(clicks)) {
        std::printf("latencies not paired: the counts differ\n");
        return 1;
    }
    std::vector<double> toSample;
    for (size_t i = 0; i < sampled.size(); ++i)
        toSample.push_back(std::chrono::duration<double, std::milli>(sampled[i] - sent[i]).count());
    std::printf("%s", journal ? "journal on:  " : "journal off: ");
    std::printf("press sent -> click sample:   median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                bench::percentile(toSample, 50), bench::percentile(toSample, 99),
                bench::percentile(toSample, 100));
    std::printf("(sample checksum %.3f)\n", checksum);
    return 0;
}

int idle(int seconds) {
    auto tray = showTrayIcon();
    const double before = cpuSeconds();
    runEventLoopFor(seconds * 1000);
    const double withoutMonitor = cpuSeconds() - before;

    int calls = 0;
    const auto source = zwirl::createClickSource();
    QObject::connect(source.get(), &zwirl::ClickSource::clicked, [&] { ++calls; });
    source->start();
    runEventLoopFor(200);
    const double start = cpuSeconds();
    runEventLoopFor(seconds * 1000);
    const double withMonitor = cpuSeconds() - start;
    source->stop();

    std::printf("idle %d s: CPU %.1f ms with a source, %.1f ms without; %d clicks seen\n", seconds,
                withMonitor * 1000, withoutMonitor * 1000, calls);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1, QStringLiteral("latency"));
    if (mode == QLatin1String("journal")) {
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", state.path().toUtf8());
        RunJournal journal;
        journal.open(QDateTime::currentDateTime());
        for (int round = 0; round < 4; ++round)
            if (latency(args.value(2, QStringLiteral("1000")).toInt(),
                        args.value(3, QStringLiteral("50")).toInt(),
                        round % 2 ? &journal : nullptr))
                return 1;
        // What the journal adds to each click by itself, without the noise of the X round trip.
        std::vector<double> appends;
        for (int i = 0; i < 10000; ++i) {
            const auto before = Clock::now();
            journal.append({0.5, 0.25, 1.0});
            appends.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        }
        std::printf("journal append alone: median %.4f ms, p99 %.4f ms, max %.4f ms\n",
                    bench::percentile(appends, 50), bench::percentile(appends, 99),
                    bench::percentile(appends, 100));
        return 0;
    }
    if (mode == QLatin1String("idle"))
        return idle(args.value(2, QStringLiteral("60")).toInt());
    return latency(args.value(2, QStringLiteral("1000")).toInt(),
                   args.value(3, QStringLiteral("50")).toInt());
}
