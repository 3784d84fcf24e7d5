#pragma once

#include "platform/AssertionHandler.h"
#include "platform/AudioOutputUnit.h"

#include <atomic>
#include <cstdint>
#include <memory>

// Plays one continuous sine tone on the default audio output from `start` until `stop`;
// `newFreq` changes its pitch at any moment. The tone is synthesised in `renderTone`, which
// the output pulls on its own real-time thread.
//
// Set-up failures in `start` go to the assertion handler, which raises
// AssertionHandler::InternalInconsistencyException with the message as what().
class DROVTonePlayer {
public:
    DROVTonePlayer();
    // A player that is still playing stops first, so that no render call outlives it.
    ~DROVTonePlayer();
    DROVTonePlayer(const DROVTonePlayer&) = delete;
    DROVTonePlayer& operator=(const DROVTonePlayer&) = delete;

    // Sets the pitch in Hz; the next render call plays it. Safe from any thread.
    void newFreq(float freq);
    // Starts playing when stopped; when playing, stops exactly as `stop` does (start toggles).
    void start();
    // Stops and releases the output when playing; otherwise does nothing. Once it returns
    // no render call runs.
    void stop();

    // The render callback: writes `inNumberFrames` samples of the tone, 0.25 of full scale,
    // into the first buffer of `ioData`, carrying the phase over to the next call. Never
    // allocates, locks or logs. Always returns 0.
    static OSStatus renderTone(void* inRefCon,
                               AudioOutputUnit::AudioUnitRenderActionFlags* ioActionFlags,
                               const AudioOutputUnit::AudioTimeStamp* inTimeStamp,
                               std::uint32_t inBusNumber, std::uint32_t inNumberFrames,
                               AudioOutputUnit::AudioBufferList* ioData);

protected:
    // Null whenever the player is not playing.
    std::unique_ptr<AudioOutputUnit> toneUnit;
    // Written by the control side, read once per render call.
    std::atomic<double> frequency;
    double sampleRate;
    // The oscillator's phase in radians, owned by the render thread while playing; carried
    // across calls and across stop and start.
    double theta;

private:
    void createToneUnit();
};
