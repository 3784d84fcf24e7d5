#include "sound/AudioTestTools.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QTemporaryFile>
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
    // Hysteresis keeps the codec's ringing around a transition from counting twice.
    constexpr int kThreshold = 8000;
    std::size_t firstCrossing = 0, lastCrossing = 0, crossings = 0;
    bool low = false;
    for (std::size_t i = first; i < first + count && i < samples.size(); ++i) {
        if (samples[i] < -kThreshold) {
            low = true;
        } else if (low && samples[i] > kThreshold) {
            low = false;
            if (crossings == 0)
                firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return double(crossings - 1) * rate / double(lastCrossing - firstCrossing);
}

bool makeWithTool(const QString& program, const QStringList& args) {
    return testsupport::runTool(program, args).exitCode == 0;
}

} // namespace audiotest
