// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/AudioTestTools.h"

#include "sound/EAFWrite.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QTemporaryFile>
#include <QUrl>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace audiotest {

std::vector<int16_t> decodeWithFfmpeg(const QString& path, int channels,
                                      const QStringList& inputOptions) {
    QStringList args{"-v", "error", "-nostdin"};
    args << inputOptions << "-i" << path << "-map"
         << "0:a:0";
    if (channels > 0)
        args << "-ac" << QString::number(channels);
    const auto result = testsupport::runTool("ffmpeg", args << "-f"
                                                            << "s16le"
                                                            << "-");
    std::vector<int16_t> samples(result.exitCode == 0 ? size_t(result.out.size()) / 2 : 0);
    if (!samples.empty())
        std::memcpy(samples.data(), result.out.constData(), samples.size() * 2);
    return samples;
}

qint64 framesFromGstreamer(const QString& path) {
    const auto result = testsupport::runTool(
        "gst-launch-1.0",
        {"-q", "filesrc", "location=" + path, "!", "qtdemux", "!", "avdec_aac", "!", "audioconvert",
         "!", "audio/x-raw,format=S16LE,channels=1", "!", "fdsink", "fd=1"});
    return result.exitCode == 0 ? result.out.size() / 2 : -1;
}

QJsonObject audioStream(const QString& path) {
    for (const QJsonValue& stream : testsupport::probe(path).value("streams").toArray())
        if (stream["codec_type"].toString() == "audio")
            return stream.toObject();
    return {};
}

QJsonObject attachedPicture(const QString& path) {
    for (const QJsonValue& stream : testsupport::probe(path).value("streams").toArray())
        if (stream["disposition"]["attached_pic"].toInt() == 1)
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

std::vector<float> sine(int frames, double amplitude, double hz) {
    std::vector<float> wave(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        wave[size_t(i)] = float(amplitude * std::sin(2 * M_PI * hz * i / 44100.0));
    return wave;
}

zwirl::OSStatus writeMono(const QString& path, uint32_t type, std::vector<float> samples,
                          const QByteArray& artwork) {
    zwirl::EAFWrite writer;
    zwirl::OSStatus status =
        writer.openFileForWrite(QUrl::fromLocalFile(path), 44100.0, 1, 16, type);
    float* channels[] = {samples.data()};
    if (status == zwirl::noErr)
        status = writer.expectFrames(int64_t(samples.size()));
    if (status == zwirl::noErr)
        status = writer.writeFloats(int64_t(samples.size()), channels);
    if (status == zwirl::noErr && !artwork.isEmpty())
        status = writer.setCoverArt(artwork);
    return status;
}

} // namespace audiotest
