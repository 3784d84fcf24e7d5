// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/ClickSample.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>

namespace zwirl {

// Turns a recording into sound: 50 ms of a sine per click at the click's pitch, driven far
// beyond full scale so that the writer's clipping makes it a square wave, written as AAC in an
// MPEG-4 audio file with the samples picture as its album artwork. Stateless.
class DROVAudioFileHelper {
public:
    DROVAudioFileHelper() = delete;

    // The pitch in Hz for the sum of a click's red, green and blue: 50 (black) to 3050 (white).
    static float newFreq(float s);
    // Renders `samples` and writes them to `filePath` (replacing a file there) as a 44100 Hz
    // mono '.m4a', with the samples picture drawn with its logo as the artwork (on white). The
    // tags: title "zwirl" and the end time, artist "zwirl", the date and the click count. An
    // empty recording writes nothing. True when the file was created, written and closed
    // without a failure.
    static bool writeSamplesToFile(const Samples& samples, const QString& filePath);
    // The same with a samples picture that the caller has drawn already and the run's end (now
    // when not valid). `progress`, when given, is told the fraction of the sound written so far
    // after each part of it, on the calling thread.
    static bool writeSamplesToFile(const Samples& samples, const QString& filePath,
                                   const QImage& artwork, const QDateTime& end = {},
                                   const std::function<void(double)>& progress = {});
};

} // namespace zwirl
