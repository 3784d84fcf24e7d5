// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"
#include "sound/AudioFormat.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>

namespace zwirl {

// Turns a recording into sound: 50 ms of a hard-clipped sine per click at the click's pitch,
// written as AAC in an '.m4a' with the samples picture as its artwork.
class DROVAudioFileHelper {
public:
    DROVAudioFileHelper() = delete;

    // The pitch in Hz for the sum of a click's red, green and blue: 50 (black) to 3050 (white).
    static float newFreq(float s) { return clickPitch(s); }
    // A 44100 Hz mono '.m4a' with the watermarked samples picture as artwork and tags for the
    // run, replacing a file there. An empty recording writes nothing. True when nothing failed.
    static bool writeSamplesToFile(const Samples& samples, const QString& filePath);
    // With the artwork drawn already and the run's end (now when not valid); `progress` is told
    // the fraction written after each slice, on the calling thread.
    static bool writeSamplesToFile(const Samples& samples, const QString& filePath,
                                   const QImage& artwork, const QDateTime& end = {},
                                   const std::function<void(double)>& progress = {});
};

} // namespace zwirl
