// SPDX-License-Identifier: GPL-3.0-or-later
// The whole export job for a full recording (9999 clicks of random colours), from
// stopTrackingAndNotify to its last step on the main thread, against the ffmpeg command-line
// tool encoding the same 16-bit signal to AAC. Each repetition exports in a fresh child process
// with a home of its own, so that the child's peak memory is the job's; the job is reached the
// way a launch reaches it, through the run kept under the quit keys. Reports median wall time,
// CPU time (user + system, all threads) and peak memory of both, and their ratios.
// Run inside the test desktop (notifications, tray, custom icons):
//
//   tests/desktop.sh -- build/bin/bench_exportJob [repetitions=5] [clicks=9999]
#include "RecordingSignal.h"
#include "app/DROVAppDelegate.h"
#include "app/ExportQueue.h"
#include "app/RunStore.h"
#include "capture/ClickSource.h"
#include "services/Settings.h"
#include "sound/DROVAudioFileHelper.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariantList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zwirl;

namespace {

using bench::randomClicks;
using bench::sixteenBitSignal;

using Clock = std::chrono::steady_clock;
constexpr char kChildOption[] = "--export-once";
constexpr char kResultTag[] = "RESULT";

struct Measurement {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double peakMB = 0;
    double baselineMB = 0; // the child's peak before the job: application, libraries, run kept
    // How long the launch call took to return: an upper bound of the steps before the job is
    // submitted (it also sets up the tray icon while the job runs).
    double launchCallSeconds = 0;
};

double cpuSecondsOf(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double cpuSecondsOfThisProcess() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSecondsOf(usage);
}

// The process's peak resident memory so far (VmHWM), in MB.
double peakResidentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// ---- the child: one export job ----

// The run that a quit leaves behind, stored as the application stores it.
void keepRunForNextLaunch(const Samples& samples) {
    Settings settings;
    const QDateTime end = QDateTime::currentDateTime();
    RunStore(settings).add({samples, end.addSecs(-3600), end});
}

bool bothFilesWritten() {
    const QDir folder(QDir::homePath() + QStringLiteral("/Desktop/zwirl"));
    return folder.entryList({QStringLiteral("*.m4a")}, QDir::Files).size() == 1 &&
           folder.entryList({QStringLiteral("*.png")}, QDir::Files).size() == 1;
}

int exportOnce(int argc, char** argv, int clicks) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zwirl"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvarek.de"));
    keepRunForNextLaunch(randomClicks(clicks));

    Settings settings;
    RunStore store(settings);
    ExportQueue exports(store);
    const std::unique_ptr<ClickSource> source = createClickSource();
    DROVAppDelegate delegate(settings, store, exports, *source);
    const double baselineMB = peakResidentMB();
    const double cpuBefore = cpuSecondsOfThisProcess();
    const auto start = Clock::now();
    // The launch finds the kept run and hands it to stopTrackingAndNotify at once; the few
    // steps before that (removing old notifications, the login item) are part of the time.
    delegate.applicationDidFinishLaunching();
    const double launchCall = std::chrono::duration<double>(Clock::now() - start).count();
    // Sleep until an event comes (the job's last steps post to this thread; the timer is a
    // safety net): a polling loop would take a core from the job it measures.
    QEventLoop loop;
    QTimer tick;
    tick.start(50);
    while (delegate.isExporting())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSecondsOfThisProcess() - cpuBefore;
    const double peakMB = peakResidentMB();

    if (!bothFilesWritten()) {
        std::fprintf(stderr, "the export job wrote no audio file and picture\n");
        return 1;
    }
    std::printf("%s %.6f %.6f %.3f %.3f %.6f\n", kResultTag, wall, cpu, peakMB, baselineMB,
                launchCall);
    std::fflush(stdout);
    // Tearing down the tray icon, the window and the bus connections measures nothing.
    _exit(0);
}

// ---- the parent ----

// An xdg-open that does nothing, first on the child's PATH: the job opens the folder.
QString noOpOpener(const QTemporaryDir& dir) {
    const QString bin = dir.filePath(QStringLiteral("bin"));
    QDir().mkpath(bin);
    QFile script(bin + QStringLiteral("/xdg-open"));
    if (!script.open(QIODevice::WriteOnly))
        qFatal("cannot open %s", qPrintable(script.fileName()));
    script.write("#!/bin/sh\nexit 0\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return bin;
}

bool measureExportJob(int clicks, const QString& openerDir, Measurement& result) {
    QTemporaryDir home;
    for (const char* sub : {"Desktop", ".config", ".local/share", ".cache"})
        QDir(home.path()).mkpath(QString::fromLatin1(sub));
    QFile dirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    if (!dirs.open(QIODevice::WriteOnly))
        qFatal("cannot open %s", qPrintable(dirs.fileName()));
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    dirs.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("PATH"), openerDir + u':' + env.value(QStringLiteral("PATH")));

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QString::fromLatin1(kChildOption), QString::number(clicks)});
    if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        std::fprintf(stderr, "the export child failed:\n%s\n",
                     child.readAllStandardError().constData());
        return false;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 6 && fields[0] == kResultTag) {
            result = {fields[1].toDouble(), fields[2].toDouble(), fields[3].toDouble(),
                      fields[4].toDouble(), fields[5].toDouble()};
            return true;
        }
    }
    std::fprintf(stderr, "the export child reported nothing\n");
    return false;
}

// The ffmpeg command-line tool encoding the raw 16-bit signal, in a child of its own: with its
// default settings, or with `sameRate` at the bit rate and cutoff the export encodes with.
bool measureFfmpeg(const QString& raw, const QString& out, bool sameRate, Measurement& result) {
    const std::string input = raw.toStdString(), output = out.toStdString();
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (sameRate)
            execlp("ffmpeg", "ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "s16le", "-ar",
                   "44100", "-ac", "1", "-i", input.c_str(), "-c:a", "aac", "-b:a", "144k",
                   "-cutoff", "18000", output.c_str(), nullptr);
        else
            execlp("ffmpeg", "ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "s16le", "-ar",
                   "44100", "-ac", "1", "-i", input.c_str(), "-c:a", "aac", output.c_str(),
                   nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpuSeconds = cpuSecondsOf(usage);
    result.peakMB = double(usage.ru_maxrss) / 1024.0;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == kChildOption)
        return exportOnce(argc, argv, std::max(1, atoi(argv[2])));

    QCoreApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") ||
        qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "run inside the test desktop: tests/desktop.sh -- %s\n", argv[0]);
        return 2;
    }
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int clicks = argc > 2 ? std::max(1, atoi(argv[2])) : 9999;

    QTemporaryDir dir;
    const QString openerDir = noOpOpener(dir);
    const QString raw = dir.filePath(QStringLiteral("signal.s16"));
    const std::vector<int16_t> signal = sixteenBitSignal(randomClicks(clicks));
    QFile rawFile(raw);
    if (!rawFile.open(QIODevice::WriteOnly))
        qFatal("cannot open %s", qPrintable(rawFile.fileName()));
    rawFile.write(reinterpret_cast<const char*>(signal.data()), qint64(signal.size() * 2));
    rawFile.close();

    std::vector<double> jobWall, jobCpu, jobPeak, jobBase, jobLaunch, toolWall, toolCpu, toolPeak,
        sameRateCpu;
    for (int r = 0; r < repetitions; ++r) {
        Measurement job, tool, sameRate;
        if (!measureExportJob(clicks, openerDir, job))
            return 1;
        if (!measureFfmpeg(raw, dir.filePath(QStringLiteral("ffmpeg.m4a")), false, tool) ||
            !measureFfmpeg(raw, dir.filePath(QStringLiteral("ffmpeg144.m4a")), true, sameRate)) {
            std::fprintf(stderr, "the ffmpeg command-line tool failed\n");
            return 1;
        }
        jobWall.push_back(job.wallSeconds);
        jobCpu.push_back(job.cpuSeconds);
        jobPeak.push_back(job.peakMB);
        jobBase.push_back(job.baselineMB);
        jobLaunch.push_back(job.launchCallSeconds);
        toolWall.push_back(tool.wallSeconds);
        toolCpu.push_back(tool.cpuSeconds);
        toolPeak.push_back(tool.peakMB);
        sameRateCpu.push_back(sameRate.cpuSeconds);
        std::printf("repetition %d: export job %.3f s wall, %.3f s CPU, peak %.1f MB | ffmpeg "
                    "%.3f s wall, %.3f s CPU, peak %.1f MB | ffmpeg at 144k %.3f s CPU\n",
                    r + 1, job.wallSeconds, job.cpuSeconds, job.peakMB, tool.wallSeconds,
                    tool.cpuSeconds, tool.peakMB, sameRate.cpuSeconds);
        std::fflush(stdout);
    }

    const double wall = median(jobWall), toolWallMedian = median(toolWall);
    const double cpu = median(jobCpu), toolCpuMedian = median(toolCpu);
    const double peak = median(jobPeak);
    std::printf("\n%d clicks, %zu frames, %d repetitions, medians:\n", clicks, signal.size(),
                repetitions);
    std::printf(
        "wall: export job %.3f s, ffmpeg command line %.3f s, ratio %.2f (target <= 0.60)\n", wall,
        toolWallMedian, wall / toolWallMedian);
    std::printf("  of the export job's wall time, the launch call that submits it returned "
                "after %.3f s\n",
                median(jobLaunch));
    std::printf("CPU (user + system): export job %.3f s, ffmpeg %.3f s, ratio %.2f\n", cpu,
                toolCpuMedian, cpu / toolCpuMedian);
    std::printf("CPU against ffmpeg at the same bit rate and cutoff (-b:a 144k -cutoff 18000): "
                "%.3f s, ratio %.2f (target <= 1.00)\n",
                median(sameRateCpu), cpu / median(sameRateCpu));
    std::printf("peak memory (VmHWM) of the exporting process: %.1f MB (target < 110), max %.1f "
                "MB; before the job %.1f MB; ffmpeg %.1f MB\n",
                peak, *std::max_element(jobPeak.begin(), jobPeak.end()), median(jobBase),
                median(toolPeak));
    return 0;
}
