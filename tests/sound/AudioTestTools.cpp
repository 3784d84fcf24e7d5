#include "sound/AudioTestTools.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace audiotest {

std::vector<int16_t> decodeWithFfmpeg(const QString& path, int channels, int rate,
                                      const QStringList& inputOptions) {
    QStringList args{"-v", "error", "-nostdin"};
    args << inputOptions << "-i" << path << "-map"
         << "0:a:0";
    if (channels > 0)
        args << "-ac" << QString::number(channels);
    if (rate > 0)
        args << "-ar" << QString::number(rate);
    args << "-f"
         << "s16le"
         << "-";
    const testsupport::ToolResult result = testsupport::runTool("ffmpeg", args);
    if (result.exitCode != 0)
        return {};
    std::vector<int16_t> samples(size_t(result.out.size()) / 2);
    memcpy(samples.data(), result.out.constData(), samples.size() * 2);
    return samples;
}

QJsonObject audioStream(const QString& path) {
    const QJsonArray streams = testsupport::probe(path).value("streams").toArray();
    for (const QJsonValue& stream : streams)
        if (stream.toObject().value("codec_type").toString() == "audio")
            return stream.toObject();
    return {};
}

QByteArray captureStandardError(const std::function<void()>& call) {
    QTemporaryFile file;
    if (!file.open())
        return {};
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

double zeroCrossingPitch(const std::vector<int16_t>& samples, std::size_t first, std::size_t count,
                         double rate) {
    // Hysteresis keeps the codec's ringing around a transition from counting twice; periods
    // far from the median (the phase jumping back to 0 every 10000 radians) are left out.
    constexpr int kThreshold = 8000;
    std::vector<std::size_t> crossings;
    bool low = false;
    for (std::size_t i = first; i < first + count && i < samples.size(); ++i) {
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
    for (std::size_t i = 1; i < crossings.size(); ++i)
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
    return kept == 0 ? 0.0 : rate * kept / sum;
}

bool makeWithTool(const QString& program, const QStringList& args) {
    return testsupport::runTool(program, args).exitCode == 0;
}

} // namespace audiotest
