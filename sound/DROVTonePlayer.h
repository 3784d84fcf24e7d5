// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <stdexcept>

namespace zwirl {

class AudioOutput;

// Plays one continuous sine tone on the default audio output from `start` until `stop`;
// `newFreq` changes its pitch at any moment. The tone is synthesised in `renderTone`, which
// the output pulls on its own real-time thread.
class DROVTonePlayer {
public:
    // A set-up failure of `start`, with its message ("Can't find default output", ...).
    class SetupError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    DROVTonePlayer();
    // A player that is still playing stops first, so that no render call outlives it.
    ~DROVTonePlayer();

    // Sets the pitch in Hz; the next render call plays it. Safe from any thread.
    void newFreq(float freq);
    // Starts playing when stopped; when playing, stops exactly as `stop` does (start toggles).
    // Throws SetupError when the output cannot be set up; an output opened before the failure
    // is kept and counts as playing, so the next `start` or `stop` releases it.
    void start();
    // Stops and releases the output when playing; otherwise does nothing. Once it returns
    // no render call runs.
    void stop();
    // Between a `start` that opened the output and the `stop` that releases it.
    bool isPlaying() const { return bool(m_toneUnit); }

    // The render function: writes `frames` samples of the tone, 0.25 of full scale, carrying
    // the phase over to the next call. Never allocates, locks or logs.
    static void renderTone(void* player, float* samples, unsigned long frames);

protected:
    // Null whenever the player is not playing.
    std::unique_ptr<AudioOutput> m_toneUnit;
    // Written by the control side, read once per render call.
    std::atomic<double> m_frequency;
    const double m_sampleRate;
    // The oscillator's phase in radians, written by the render thread; carried across calls
    // and across stop and start.
    std::atomic<double> m_theta;

private:
    void createToneUnit();
};

} // namespace zwirl
