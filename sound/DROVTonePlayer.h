// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <memory>
#include <stdexcept>

namespace zwirl {

class AudioOutput;

// A sine tone on the default audio output from `start` until `stop`, on its real-time thread.
class DROVTonePlayer {
public:
    // A set-up failure of `start`, with its message ("Can't find default output", ...).
    class SetupError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    DROVTonePlayer();
    ~DROVTonePlayer(); // stops first, so that no render call outlives the player

    // The pitch in Hz from the next render call on. Safe from any thread.
    void newFreq(float freq);
    // Starts when stopped, stops when playing. Throws SetupError when the output cannot be set
    // up; an output opened before the failure counts as playing until released.
    void start();
    void stop();
    bool isPlaying() const { return bool(m_toneUnit); }

    // `frames` samples at 0.25 of full scale; never allocates, locks or logs.
    static void renderTone(void* player, float* samples, unsigned long frames);

protected:
    std::unique_ptr<AudioOutput> m_toneUnit;
    std::atomic<double> m_frequency;
    const double m_sampleRate;
    std::atomic<double> m_theta; // radians, kept across calls and across stop and start

private:
    void createToneUnit();
};

} // namespace zwirl
