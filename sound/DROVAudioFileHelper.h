#pragma once

#include "core/ClickSample.h"

#include <QString>
#include <cstdint>
#include <vector>

// Turns a recording into sound: 50 ms of a sine per click at the click's pitch, driven far
// beyond full scale so that the writer's clipping makes it a square wave, written as AAC in an
// MPEG-4 audio file with the samples picture as its album artwork. Stateless.
class DROVAudioFileHelper {
public:
    DROVAudioFileHelper() = delete;

    // The pitch in Hz for the sum of a click's red, green and blue: 50 (black) to 3050 (white).
    static float newFreq(float s);
    // Renders `samples` and writes them to `filePath` (replacing a file there) as a 44100 Hz
    // mono '.m4a'. An empty recording writes nothing. True when the file was created, written
    // and closed without a failure.
    static bool writeSamplesToFile(const Samples& samples, const QString& filePath);

    // The frames of a recording of `count` clicks: count x 2205 in single precision, which
    // loses a frame or two beyond 2^24.
    static int32_t frameCountForClicks(std::size_t count);
    // The rendered signal, whole numbers in -35000 ... 35000, before the writer clips it.
    static std::vector<float> renderSignal(const Samples& samples);

private:
    static void storePhases(const Samples& samples, std::vector<float>& buffer);
    static void storeWaveFromPhases(std::vector<float>& buffer);
};
