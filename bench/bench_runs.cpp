// The installed application under load and killed during runs, in the test desktop:
//  kill [trials]         a run clicked at 20/s, kill -9 at a random moment 2 to 6 s in; the
//                        next launch saves the run: clicks sent before the kill against clicks
//                        saved, per trial.
//  toggles [count]       start/stop over the control interface in a loop, every 20th run with
//                        one click: files written against runs with clicks, resident memory
//                        every 500 toggles, after the first 100 and at the end.
//  oneclick [count]      one-click runs back to back: file pairs written.
//  burst [clicks] [rate] clicks at a fixed rate into one run: clicks recorded and saved.
//  silent [runs]         the time from asking for a run to the run being open, with the
//                        notification server answering and then stopped (SIGSTOP) so that it
//                        never answers: each run start notifies.
// Run inside the test desktop, with ZWIRL_INSTALLED_BINARY=$PWD/build/install/bin/zwirl:
//   tests/desktop.sh -- build/bin/bench_runs kill 20
// XTest is used here only to inject input, as a user's mouse would.
#include "Percentile.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// Left clicks on the bare desktop at `perSecond` until `count` are sent or `stop` is set.
class Clicker {
public:
    Clicker(int count, int perSecond) {
        m_thread = std::thread([this, count, perSecond] {
            Display* display = XOpenDisplay(nullptr);
            if (!display)
                return;
            XTestFakeMotionEvent(display, -1, 400, 500, 0);
            const auto interval = std::chrono::microseconds(1'000'000 / perSecond);
            auto next = Clock::now();
            for (int i = 0; i < count && !m_stop; ++i) {
                std::this_thread::sleep_until(next += interval);
                XTestFakeButtonEvent(display, 1, True, 0);
                XTestFakeButtonEvent(display, 1, False, 0);
                XSync(display, False);
                ++m_sent;
            }
            XCloseDisplay(display);
        });
    }
    ~Clicker() { m_thread.join(); }
    void stop() { m_stop = true; }
    int sent() const { return m_sent; }
    bool finished(int count) const { return m_sent == count; }

private:
    std::atomic<int> m_sent = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// The clicks of every file the process said it saved.
int savedClicks(AppInstance& app) {
    static const QRegularExpression saved(R"(saved .*, (\d+) zwirl\))");
    int total = 0;
    for (auto it = saved.globalMatch(QString::fromUtf8(app.output())); it.hasNext();)
        total += it.next().captured(1).toInt();
    return total;
}

long residentKb() {
    const uint pid =
        QDBusConnection::sessionBus().interface()->servicePid("de.tolvarek.zwirl").value();
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        qFatal("cannot open %s", qPrintable(status.fileName()));
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

int kill(int trials) {
    for (int trial = 0; trial < trials; ++trial) {
        Session s;
        if (!s.start() || !startRun())
            return 1;
        const int afterMs = 2000 + int(QRandomGenerator::global()->bounded(4000));
        int sent;
        {
            Clicker clicker(1000, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
            sent = clicker.sent();
            s.app.stop(SIGKILL);
            clicker.stop();
        }
        if (!s.start() || !s.notifications.waitForBody("Saved your clicks to the desktop...") ||
            !waitUntilSaved())
            return 1;
        const int saved = savedClicks(s.app);
        std::printf("trial %2d: killed after %4d ms, %3d clicks sent, %3d saved, %d lost\n", trial,
                    afterMs, sent, saved, sent - saved);
    }
    return 0;
}

int toggles(int count) {
    Session s;
    if (!s.start())
        return 1;
    long before = 0;
    int withClicks = 0;
    for (int i = 0; i < count; ++i) {
        if (i == 100)
            before = residentKb();
        if (i % 500 == 0)
            std::printf("after %d toggles: resident %ld kB\n", i, residentKb());
        action("start");
        if (i % 20 == 0 && waitFor(isTracking)) {
            Clicker clicker(1, 1000);
            waitFor([] { return sampleCount() == 1; });
            ++withClicks;
        }
        action("stop");
    }
    waitFor([] { return !isTracking(); });
    waitUntilSaved();
    const long after = residentKb();
    std::printf("%d toggles: %d runs with clicks, %lld audio files, %lld pictures; running: %s; "
                "resident %ld kB after 100, %ld kB at the end (%+ld kB)\n",
                count, withClicks, qlonglong(filesIn(s.home.outputFolder(), "*.m4a").size()),
                qlonglong(filesIn(s.home.outputFolder(), "*.png").size()),
                s.app.isRunning() ? "yes" : "no", before, after, after - before);
    return 0;
}

int oneClick(int count) {
    Session s;
    if (!s.start())
        return 1;
    const auto begun = Clock::now();
    for (int i = 0; i < count; ++i) {
        if (!startRun())
            return 1;
        { Clicker clicker(1, 1000); }
        waitFor([] { return sampleCount() == 1; });
        action("stop");
        waitFor([] { return !isTracking(); });
    }
    waitUntilSaved();
    std::printf("%d one-click runs in %.1f s: %lld audio files, %lld pictures\n", count,
                std::chrono::duration<double>(Clock::now() - begun).count(),
                qlonglong(filesIn(s.home.outputFolder(), "*.m4a").size()),
                qlonglong(filesIn(s.home.outputFolder(), "*.png").size()));
    return 0;
}

int burst(int clicks, int perSecond) {
    Session s;
    if (!s.start() || !startRun())
        return 1;
    {
        Clicker clicker(clicks, perSecond);
        waitFor([&] { return clicker.finished(clicks); }, clicks * 2000 / perSecond + 10000);
    }
    // The 9999th click ends the run by itself.
    const uint recorded = isTracking() ? sampleCount() : 0;
    action("stop");
    waitFor([] { return !isTracking(); });
    waitUntilSaved();
    std::printf("%d clicks at %d/s: %u in the open run, %d saved\n", clicks, perSecond, recorded,
                savedClicks(s.app));
    return 0;
}

// Milliseconds from asking for each of `runs` runs to the run being open.
std::vector<double> runStartTimes(int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto asked = Clock::now();
        action("start");
        if (!waitFor(isTracking))
            return {};
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        action("stop");
        waitFor([] { return !isTracking(); });
    }
    return times;
}

int silentServer(int runs) {
    Session s;
    if (!s.start() || !startRun())
        return 1;
    action("stop"); // the first start fades the window out
    const pid_t server = pid_t(QDBusConnection::sessionBus()
                                   .interface()
                                   ->servicePid("org.freedesktop.Notifications")
                                   .value());
    const std::vector<double> answering = runStartTimes(runs);
    ::kill(server, SIGSTOP);
    const std::vector<double> silent = runStartTimes(runs);
    ::kill(server, SIGCONT);
    if (answering.empty() || silent.empty())
        return 1;
    for (const auto& [name, times] :
         {std::pair("answering", answering), {"never answering", silent}})
        std::printf("%d run starts, server %s: median %.1f ms, max %.1f ms\n", runs, name,
                    bench::percentile(times, 50), bench::percentile(times, 100));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    const int n = args.value(2).toInt();
    if (mode == "kill")
        return kill(n ? n : 20);
    if (mode == "toggles")
        return toggles(n ? n : 2000);
    if (mode == "oneclick")
        return oneClick(n ? n : 200);
    if (mode == "burst")
        return burst(n ? n : 9999, args.value(3, "100").toInt());
    if (mode == "silent")
        return silentServer(n ? n : 20);
    std::fprintf(stderr, "usage: bench_runs kill|toggles|oneclick|burst|silent [count] [rate]\n");
    return 2;
}
