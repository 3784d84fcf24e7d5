// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/DROVTonePlayer.h"

#include "media/Media.h"
#include "sound/AudioFormat.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <source_location>

namespace zwirl {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kAmplitude = 0.25;
constexpr double kDefaultFrequency = 300.0;

static_assert(std::atomic<double>::is_always_lock_free, "the render thread must never wait");

// Logs where set-up failed and ends `start` with the message.
[[noreturn]] void fail(const QString& message, const char* detail = nullptr,
                       const std::source_location& where = std::source_location::current()) {
    qCWarning(lcSound, "%s (DROVTonePlayer): %s%s%s", where.function_name(),
              qUtf8Printable(message), detail ? " - " : "", detail ? detail : "");
    throw DROVTonePlayer::SetupError(message.toStdString());
}

// Only a status's low 16 bits, as a signed number, count and are shown.
void check(const AudioOutput& output, int status, const char* what,
           const std::source_location& where = std::source_location::current()) {
    if (const auto low = std::int16_t(std::uint16_t(std::uint32_t(status) & 0xFFFFu)); low != 0)
        fail(QString::asprintf("%s: %hd", what, low), output.errorText(status), where);
}

} // namespace

DROVTonePlayer::DROVTonePlayer()
    : m_frequency(kDefaultFrequency), m_sampleRate(kSampleRate), m_theta(0.0) {}

DROVTonePlayer::~DROVTonePlayer() {
    stop();
}

void DROVTonePlayer::newFreq(float freq) {
    m_frequency.store(freq, std::memory_order_relaxed);
    qCDebug(lcSound, "frequency: %f", double(freq));
}

void DROVTonePlayer::start() {
    if (m_toneUnit) {
        stop();
        return;
    }
    createToneUnit();
    check(*m_toneUnit, m_toneUnit->open(m_sampleRate, &DROVTonePlayer::renderTone, this),
          "Error initializing unit");
    check(*m_toneUnit, m_toneUnit->start(), "Error starting unit");
}

void DROVTonePlayer::stop() {
    // The output's stop is synchronous, so releasing it cannot race a render call.
    if (m_toneUnit)
        m_toneUnit->stop();
    m_toneUnit.reset();
}

void DROVTonePlayer::createToneUnit() {
    auto output = media::makeOutput();
    if (!output || !output->hasDevice())
        fail(QStringLiteral("Can't find default output"));
    m_toneUnit = std::move(output);
}

void DROVTonePlayer::renderTone(void* player, float* samples, unsigned long frames) {
    auto* self = static_cast<DROVTonePlayer*>(player);
    double phase = self->m_theta.load(std::memory_order_relaxed);
    // A pitch change lands at the next call, never inside a buffer.
    const double increment =
        self->m_frequency.load(std::memory_order_relaxed) * kTwoPi / self->m_sampleRate;
    for (unsigned long frame = 0; frame < frames; ++frame) {
        samples[frame] = float(std::sin(phase) * kAmplitude);
        phase += increment;
        if (phase > kTwoPi)
            phase -= kTwoPi;
    }
    self->m_theta.store(phase, std::memory_order_relaxed);
}

} // namespace zwirl
