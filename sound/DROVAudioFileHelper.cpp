// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/DROVAudioFileHelper.h"

#include "services/DROVHelper.h"
#include "sound/ClickTone.h"
#include "sound/EAFWrite.h"

#include <QBuffer>
#include <QPainter>
#include <QUrl>
#include <span>

namespace zwirl {

namespace {

// Frames rendered and handed to the writer at a time: the tone is never held whole.
constexpr int64_t kSliceFrames = 65536;

// On white: JPEG has no transparency, and unpainted black could not be told from a black click.
QByteArray jpegOf(const QImage& picture) {
    if (picture.isNull())
        return {};
    QImage flat(picture.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, picture);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    return flat.save(&buffer, "JPEG") ? data : QByteArray();
}

// Dates in the tags do not depend on the user's locale: ISO 8601, local time.
AudioFileTags tagsFor(const Samples& samples, const QDateTime& end) {
    const QDateTime withOffset = end.toOffsetFromUtc(end.offsetFromUtc());
    const qlonglong count = qlonglong(samples.size());
    return {QStringLiteral("zwirl ") + end.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            QStringLiteral("zwirl"), withOffset.toString(Qt::ISODate),
            QStringLiteral("%1 click%2").arg(count).arg(count == 1 ? "" : "s")};
}

} // namespace

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath) {
    return writeSamplesToFile(samples, filePath, DROVHelper::iconImageForSamples(samples, true));
}

bool DROVAudioFileHelper::writeSamplesToFile(const Samples& samples, const QString& filePath,
                                             const QImage& artwork, const QDateTime& end,
                                             const std::function<void(double)>& progress) {
    if (samples.empty()) {
        qCWarning(lcSound) << "no clicks to write to" << filePath;
        return false;
    }
    EAFWrite writer;
    OSStatus status = writer.openFileForWrite(QUrl::fromLocalFile(filePath), kSampleRate, 1, 16,
                                              kAudioFileM4AType);
    // The next slice renders on the worker's thread while the writer encodes this one.
    ClickToneWorker tone(samples, kSliceFrames);
    writer.expectFrames(tone.totalFrames());
    int64_t written = 0;
    for (std::span<float> slice; status == noErr && !(slice = tone.next()).empty();) {
        float* channels[] = {slice.data()};
        status = writer.writeFloats(int64_t(slice.size()), channels);
        if (progress && status == noErr)
            progress(double(written += int64_t(slice.size())) / double(tone.totalFrames()));
    }

    const QByteArray jpeg = jpegOf(artwork);
    if (!jpeg.isEmpty()) {
        qCInfo(lcSound) << "set data";
        const OSStatus set = writer.setCoverArt(jpeg);
        if (set == noErr)
            qCInfo(lcSound, "audioErr: %d", int(set));
        else
            qCWarning(lcSound, "audioErr: %d", int(set));
    }
    writer.setTags(tagsFor(samples, end.isValid() ? end : QDateTime::currentDateTime()));
    const OSStatus closed = writer.closeFile();
    return status == noErr && closed == noErr;
}

} // namespace zwirl
