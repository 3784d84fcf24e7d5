// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/ExportCheck.h"

#include "sound/ClickTone.h"
#include "sound/EAFRead.h"

#include <QUrl>

#include <cmath>
#include <vector>

namespace zwirl {

namespace {

constexpr int64_t kClicksPerBlock = 64;
constexpr size_t kBlockStride = 4; // blocks read: one in so many, and the last

// f / 10 crossings in a click of f Hz, give or take the ends and the encoder's edges.
bool pitchHolds(int crossings, float pitch) {
    const double expected = double(pitch) / 10.0;
    return std::abs(double(crossings) - expected) <= 3.0 + expected * 0.05;
}

} // namespace

QString ExportCheck::mismatch(const Samples& samples, const QString& path) {
    EAFRead reader;
    if (const OSStatus status = reader.openFileForRead(QUrl::fromLocalFile(path), kSampleRate, 1);
        status != noErr)
        return QStringLiteral("it does not open (%1)").arg(status);
    const int64_t expected = ClickToneRenderer::frameCountForClicks(samples.size());
    if (const int64_t frames = reader.fileNumFrames(); frames != expected)
        return QStringLiteral("it holds %1 frames instead of %2").arg(frames).arg(expected);
    std::vector<float> block(size_t(kFramesPerClick * kClicksPerBlock));
    float* channels[] = {block.data()};
    // Decoding is the cost: reading only some blocks keeps the check a small part of the export.
    for (size_t first = 0; first < samples.size(); first += kClicksPerBlock) {
        const bool lastBlock = first + kClicksPerBlock >= samples.size();
        if ((first / kClicksPerBlock) % kBlockStride != 0 && !lastBlock)
            continue;
        const int64_t at = int64_t(first) * kFramesPerClick;
        const int64_t want = std::min(kFramesPerClick * kClicksPerBlock, expected - at);
        if (reader.tell() != at)
            reader.seekToPercent(double(at) * 100.0 / double(expected));
        // A seek lands on the frame or just before it.
        while (reader.tell() < at &&
               reader.readFloatsConsecutive(std::min(at - reader.tell(), want), channels) > 0) {
        }
        if (reader.tell() != at || reader.readFloatsConsecutive(want, channels) != want)
            return QStringLiteral("it ends early, at click %1").arg(first + 1);
        float last = block[0];
        // Single precision may give the last click a frame more than its 2205.
        for (int64_t k = 0; k * kFramesPerClick < want && first + size_t(k) < samples.size(); ++k) {
            int crossings = 0;
            const int64_t end = std::min(want, (k + 1) * kFramesPerClick);
            for (int64_t i = k * kFramesPerClick; i < end; ++i) {
                crossings += (block[size_t(i)] < 0.0f) != (last < 0.0f);
                last = block[size_t(i)];
            }
            const float pitch = clickPitch(samples[first + size_t(k)]);
            if (end - k * kFramesPerClick == kFramesPerClick && !pitchHolds(crossings, pitch))
                return QStringLiteral("click %1 crosses zero %2 times at %3 Hz")
                    .arg(first + size_t(k) + 1)
                    .arg(crossings)
                    .arg(double(pitch));
        }
    }
    return {};
}

} // namespace zwirl
