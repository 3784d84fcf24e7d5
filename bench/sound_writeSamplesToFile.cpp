// SPDX-License-Identifier: GPL-3.0-or-later
// Rendering and writing a full recording (9999 clicks of random colours) to '.m4a', against the
// ffmpeg command-line tool encoding the same 16-bit signal with its default AAC settings.
// Reports median times and their ratio, the peak memory of a process that only renders and
// writes, and the quality of both files: the SNR of the decoded audio against the 16-bit
// signal and the pitch of every 50 ms segment.
//
//   sound_writeSamplesToFile [repetitions=5] [clicks=9999]
#include "RecordingSignal.h"
#include "sound/DROVAudioFileHelper.h"
#include "sound/ExportCheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zwirl;

namespace {

using bench::randomClicks;
using bench::sixteenBitSignal;

using Clock = std::chrono::steady_clock;

bool run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return false;
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

std::vector<int16_t> decode(const QString& path) {
    QByteArray raw;
    run("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-f", "s16le", "-"}, &raw);
    std::vector<int16_t> samples(size_t(raw.size()) / 2);
    memcpy(samples.data(), raw.constData(), samples.size() * 2);
    return samples;
}

double snr(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded) {
    double signal = 0, noise = 0;
    const size_t n = std::min(reference.size(), decoded.size());
    for (size_t i = 0; i < n; ++i) {
        const double x = reference[i], e = x - decoded[i];
        signal += x * x;
        noise += e * e;
    }
    return 10 * std::log10(signal / noise);
}

double pitch(const std::vector<int16_t>& samples, size_t first, size_t count) {
    // Hysteresis keeps the codec's ringing around a transition from counting twice; periods
    // far from the median (the phase jumping back to 0 every 10000 radians) are left out.
    constexpr int kThreshold = 8000;
    std::vector<size_t> crossings;
    bool low = false;
    for (size_t i = first; i < first + count && i < samples.size(); ++i) {
        if (samples[i] < -kThreshold) {
            low = true;
        } else if (low && samples[i] > kThreshold) {
            low = false;
            crossings.push_back(i);
        }
    }
    if (crossings.size() < 2)
        return 0.0;
    std::vector<double> periods;
    for (size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(double(crossings[i] - crossings[i - 1]));
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0;
    int kept = 0;
    for (double period : periods)
        if (period > 0.75 * median && period < 1.25 * median) {
            sum += period;
            ++kept;
        }
    return kept == 0 ? 0.0 : 44100.0 * kept / sum;
}

int wrongPitches(const Samples& samples, const std::vector<int16_t>& decoded) {
    int wrong = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
        const float s = (float(samples[k][0]) + float(samples[k][1])) + float(samples[k][2]);
        const double expected = DROVAudioFileHelper::newFreq(s);
        const double measured = pitch(decoded, k * 2205 + 100, 2005);
        if (std::abs(measured - expected) > std::max(2.0, expected * 0.02)) {
            ++wrong;
            if (qEnvironmentVariableIsSet("ZWIRL_BENCH_VERBOSE"))
                std::printf("  segment %zu: %.1f Hz measured, %.1f Hz expected\n", k, measured,
                            expected);
        }
    }
    return wrong;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Peak resident memory (MB) of a process that renders and writes the recording once.
double peakMemoryOfOneWrite(int clicks, const QString& path) {
    const pid_t child = fork();
    if (child == 0) {
        execl("/proc/self/exe", "sound_writeSamplesToFile", "--write-once",
              std::to_string(clicks).c_str(), path.toLocal8Bit().constData(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : -1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the samples picture draws with Qt's painter
    if (argc == 4 && QByteArray(argv[1]) == "--write-once") {
        DROVAudioFileHelper::writeSamplesToFile(randomClicks(atoi(argv[2])), argv[3]);
        return 0;
    }
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int clicks = argc > 2 ? std::max(1, atoi(argv[2])) : 9999;
    const Samples samples = randomClicks(clicks);
    QTemporaryDir dir;
    const QString ours = dir.filePath("ours.m4a");
    const QString theirs = dir.filePath("theirs.m4a");
    const QString raw = dir.filePath("signal.s16");

    const std::vector<int16_t> signal = sixteenBitSignal(samples);
    QFile rawFile(raw);
    if (!rawFile.open(QIODevice::WriteOnly))
        qFatal("cannot open %s", qPrintable(rawFile.fileName()));
    rawFile.write(reinterpret_cast<const char*>(signal.data()), qint64(signal.size() * 2));
    rawFile.close();

    std::vector<double> ourTimes, theirTimes, checkTimes;
    for (int r = 0; r < repetitions; ++r) {
        auto start = Clock::now();
        DROVAudioFileHelper::writeSamplesToFile(samples, ours);
        ourTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        if (const QString wrong = ExportCheck::mismatch(samples, ours); !wrong.isEmpty())
            std::printf("the read-back check fails: %s\n", qPrintable(wrong));
        checkTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        if (!run("ffmpeg", {"-v", "error", "-nostdin", "-y", "-f", "s16le", "-ar", "44100", "-ac",
                            "1", "-i", raw, "-c:a", "aac", theirs})) {
            std::fprintf(stderr, "the ffmpeg command-line tool failed\n");
            return 1;
        }
        theirTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        std::printf("repetition %d: writeSamplesToFile %.3f s, ffmpeg %.3f s\n", r + 1,
                    ourTimes.back(), theirTimes.back());
    }
    const double ourMedian = median(ourTimes), theirMedian = median(theirTimes);
    std::printf("\n%d clicks, %zu frames, %d repetitions\n", clicks, signal.size(), repetitions);
    std::printf("median time of the export's read-back check: %.3f s, %.1f %% of the writing "
                "(target < 10 %%)\n",
                median(checkTimes), 100.0 * median(checkTimes) / ourMedian);
    std::printf("median time: writeSamplesToFile %.3f s, ffmpeg command line %.3f s, ratio %.2f "
                "(target <= 0.60)\n",
                ourMedian, theirMedian, ourMedian / theirMedian);
    std::printf("peak memory of a process rendering and writing once: %.1f MB (target < 110)\n",
                peakMemoryOfOneWrite(clicks, dir.filePath("memory.m4a")));

    const std::vector<int16_t> ourAudio = decode(ours), theirAudio = decode(theirs);
    const double ourSnr = snr(signal, ourAudio), theirSnr = snr(signal, theirAudio);
    std::printf("SNR against the 16-bit signal: ours %.2f dB, ffmpeg %.2f dB, difference %+.2f dB "
                "(target >= -0.5)\n",
                ourSnr, theirSnr, ourSnr - theirSnr);
    std::printf("segments with a wrong pitch: ours %d, ffmpeg %d, of %d\n",
                wrongPitches(samples, ourAudio), wrongPitches(samples, theirAudio), clicks);
    std::printf("file sizes: ours %lld bytes, ffmpeg %lld bytes\n", QFileInfo(ours).size(),
                QFileInfo(theirs).size());
    return 0;
}
