// SPDX-License-Identifier: GPL-3.0-or-later
// The installed application under load and killed during runs, in the test desktop:
//  kill [trials]         a run clicked at 20/s, kill -9 at a random moment 2 to 6 s in; the
//                        next launch saves the run: clicks sent before the kill against clicks
//                        saved, per trial.
//  toggles [count]       start/stop over the control interface in a loop, every 20th run with
//                        one click: files written against runs with clicks, resident memory
//                        every 500 toggles, after the first 100 and at the end.
//  oneclick [count]      one-click runs back to back: file pairs written.
//  burst [clicks] [rate] clicks at a fixed rate into one run: clicks recorded and saved.
//  export [runs] [rate]  full runs of 9999 clicks at a fixed rate: the time from the last click to
//                        both files in place (the run ends by itself there, with its alert and
//                        the folder opening), against the ffmpeg command-line tool encoding a
//                        signal as long with its default settings.
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

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// Left clicks on the bare desktop at `perSecond` until `count` are sent or `stop` is set.
class Clicker {
public:
    Clicker(int count, int perSecond, QPoint at = {400, 500}) {
        m_thread = std::thread([this, count, perSecond, at] {
            Display* display = XOpenDisplay(nullptr);
            if (!display)
                return;
            XTestFakeMotionEvent(display, -1, at.x(), at.y(), 0);
            const auto interval = std::chrono::microseconds(1'000'000 / perSecond);
            auto next = Clock::now();
            for (int i = 0; i < count && !m_stop; ++i) {
                std::this_thread::sleep_until(next += interval);
                XTestFakeButtonEvent(display, 1, True, 0);
                XTestFakeButtonEvent(display, 1, False, 0);
                XSync(display, False);
                m_last = Clock::now();
                ++m_sent;
            }
            XCloseDisplay(display);
        });
    }
    ~Clicker() { join(); }
    void join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    void stop() { m_stop = true; }
    int sent() const { return m_sent; }
    // When the last click was sent; read once the clicker is gone.
    Clock::time_point last() const { return m_last; }
    bool finished(int count) const { return m_sent == count; }

private:
    std::atomic<int> m_sent = 0;
    std::atomic<bool> m_stop = false;
    Clock::time_point m_last;
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

// Seconds the ffmpeg command-line tool takes to encode `frames` of a 16-bit tone to AAC.
double ffmpegSeconds(const QTemporaryDir& dir, qint64 frames) {
    QFile raw(dir.filePath("tone.raw"));
    if (!raw.exists()) {
        QByteArray pcm(frames * 2, Qt::Uninitialized);
        auto* out = reinterpret_cast<qint16*>(pcm.data());
        for (qint64 i = 0; i < frames; ++i)
            out[i] = qint16(12000 * std::sin(2 * M_PI * (200 + i / 2205 % 3000) * i / 44100.0));
        if (!raw.open(QIODevice::WriteOnly) || raw.write(pcm) != pcm.size())
            return -1;
        raw.close();
    }
    const auto begun = Clock::now();
    const ToolResult result =
        runTool("ffmpeg", {"-v", "error", "-nostdin", "-y", "-f", "s16le", "-ar", "44100", "-ac",
                           "1", "-i", raw.fileName(), "-c:a", "aac", dir.filePath("tone.m4a")});
    return result.exitCode == 0 ? std::chrono::duration<double>(Clock::now() - begun).count() : -1;
}

int exportWait(int runs, int perSecond) {
    constexpr int kClicks = 9999;
    Session s;
    QTemporaryDir scratch;
    if (!s.start())
        return 1;
    const QString folder = s.home.outputFolder();
    std::vector<double> waits, tool;
    for (int r = 0; r < runs; ++r) {
        const qsizetype before = filesIn(folder, "*.m4a").size();
        if (!startRun())
            return 1;
        // Away from the middle, where the alert of the run before stays open.
        Clicker clicker(kClicks, perSecond, {60, 700});
        clicker.join();
        const bool placed = waitFor(
            [&] {
                return filesIn(folder, "*.m4a").size() > before &&
                       filesIn(folder, "*.png").size() > before;
            },
            120000);
        const double waited = std::chrono::duration<double>(Clock::now() - clicker.last()).count();
        if (!placed) {
            std::fprintf(stderr, "run %d: no files; %u clicks in the open run\n", r + 1,
                         sampleCount());
            return 1;
        }
        waits.push_back(waited);
        tool.push_back(ffmpegSeconds(scratch, qint64(kClicks) * 2205));
        std::printf("run %d: last click to both files %.3f s | ffmpeg command line %.3f s\n", r + 1,
                    waited, tool.back());
        std::fflush(stdout);
    }
    const double wait = bench::percentile(waits, 50), ffmpeg = bench::percentile(tool, 50);
    std::printf("%d runs of %d clicks at %d/s, medians: last click to both files %.3f s, ffmpeg "
                "%.3f s, ratio %.2f (target <= 0.60)\n",
                runs, kClicks, perSecond, wait, ffmpeg, wait / ffmpeg);
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
    if (mode == "export")
        return exportWait(n ? n : 3, args.value(3, "500").toInt());
    if (mode == "silent")
        return silentServer(n ? n : 20);
    std::fprintf(stderr,
                 "usage: bench_runs kill|toggles|oneclick|burst|export|silent [count] [rate]\n");
    return 2;
}
