// SPDX-License-Identifier: GPL-3.0-or-later
// The tone player's render function, called directly (no audio device), and its start on a
// machine without any audio output (in a child process with its own environment).
#include "sound/DROVTonePlayer.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <vector>

using namespace zwirl;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kSentinel = 42.0f;
const char* const kChildVariable = "ZWIRL_TONE_START_WITHOUT_OUTPUT";

// The player with its fields in reach of the checks.
class InspectablePlayer : public DROVTonePlayer {
public:
    double phase() const { return m_theta; }
    void setPhase(double phase) { m_theta = phase; }
    double storedFrequency() const { return m_frequency; }
    double rate() const { return m_sampleRate; }
    bool isPlaying() const { return m_toneUnit != nullptr; }
};

// The n samples of one render call followed by a sentinel that must stay untouched.
std::vector<float> render(DROVTonePlayer& player, unsigned long frames) {
    std::vector<float> samples(frames + 1, kSentinel);
    DROVTonePlayer::renderTone(&player, samples.data(), frames);
    return samples;
}

void setFrequency(DROVTonePlayer& player, float hz) {
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString::asprintf("frequency: %f", hz)));
    player.newFreq(hz);
}

// Runs in the child: two starts that must both fail, then stop and destruction.
int startWithoutOutput() {
    DROVTonePlayer player;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            player.start();
            std::printf("started\n");
            return 1;
        } catch (const DROVTonePlayer::SetupError& e) {
            std::printf("caught: %s\n", e.what());
        }
    }
    player.stop();
    return 0;
}

} // namespace

class TestToneRender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rendersAQuarterScaleSineThatCarriesItsPhase() {
        InspectablePlayer whole, pieces;
        QCOMPARE(whole.rate(), 44100.0);
        whole.stop(); // nothing to stop
        QVERIFY(!whole.isPlaying());
        // 300 Hz from phase 0.
        const std::vector<float> reference = render(whole, 5000);
        const double step = 300.0 * kTwoPi / 44100.0;
        QCOMPARE(reference[0], 0.0f);
        for (std::size_t i = 0; i < 5000; ++i)
            QVERIFY2(std::abs(reference[i] - std::sin(double(i) * step) * 0.25) < 1e-6,
                     qPrintable(QString::number(i)));
        const float peak = *std::max_element(reference.begin(), reference.end() - 1);
        QVERIFY(peak > 0.2499f && peak <= 0.25f);

        // Calls of any size, 0 included, continue the same wave and touch nothing beyond.
        std::vector<float> joined;
        for (const unsigned long size : {1, 0, 7, 512, 0, 1000, 333, 3147}) {
            const std::vector<float> part = render(pieces, size);
            QCOMPARE(part[size], kSentinel);
            joined.insert(joined.end(), part.begin(), part.end() - 1);
        }
        QVERIFY(std::equal(joined.begin(), joined.end(), reference.begin()));
        QCOMPARE(pieces.phase(), whole.phase());

        // A new pitch is stored and heard from the next call on, from the phase reached.
        const double before = pieces.phase();
        setFrequency(pieces, 440.1f);
        QCOMPARE(pieces.storedFrequency(), double(440.1f));
        setFrequency(pieces, 1050.0f);
        QCOMPARE(pieces.phase(), before);
        QVERIFY(!pieces.isPlaying());
        const std::vector<float> changed = render(pieces, 100);
        QCOMPARE(changed[0], float(std::sin(before) * 0.25));
        for (std::size_t i = 0; i < 100; ++i)
            QVERIFY(std::abs(changed[i] -
                             std::sin(before + double(i) * 1050 * kTwoPi / 44100) * 0.25) < 1e-6);
    }

    void phaseStaysWithinOneTurnAfterEveryFrame() {
        for (float frequency : {50.0f, 3050.0f, 44100.0f}) {
            InspectablePlayer player;
            setFrequency(player, frequency);
            for (int frame = 0; frame < 20000; ++frame) {
                render(player, 1);
                QVERIFY2(player.phase() >= 0.0 && player.phase() <= kTwoPi,
                         qPrintable(QString("%1 Hz, frame %2: %3")
                                        .arg(frequency)
                                        .arg(frame)
                                        .arg(player.phase(), 0, 'g', 17)));
            }
        }
    }

    void phaseOfExactlyTwoPiIsNotWrapped() {
        InspectablePlayer player;
        setFrequency(player, 11025.0f);
        const double step = 11025.0 * kTwoPi / 44100.0;
        // A start phase from which one step lands exactly on 2 pi.
        double start = kTwoPi - step;
        while (start + step < kTwoPi)
            start = std::nextafter(start, 10.0);
        while (start + step > kTwoPi)
            start = std::nextafter(start, 0.0);
        QCOMPARE(start + step, kTwoPi);
        player.setPhase(start);
        render(player, 1);
        QCOMPARE(player.phase(), kTwoPi);
        // The next frame passes 2 pi and wraps back to one step.
        QCOMPARE(render(player, 1)[0], float(std::sin(kTwoPi) * 0.25));
        QVERIFY(std::abs(player.phase() - step) < 1e-12);
    }

    void startWithoutAudioOutputFails() {
        if (!testsupport::NoAudioOutput::possible())
            QSKIP("this machine has a sound card, so it always has an audio output");
        const testsupport::NoAudioOutput noOutput;
        QProcess child;
        child.setProcessEnvironment(
            testsupport::withEntries(QProcessEnvironment::systemEnvironment(),
                                     noOutput.environment() << QString(kChildVariable) + "=1"));
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput(), QByteArray("caught: Can't find default output\n"
                                                           "caught: Can't find default output\n"));
        // One report per failed start, and none of the device probes' chatter.
        const QStringList lines =
            QString::fromUtf8(child.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines)
            QVERIFY2(line.contains("DROVTonePlayer::createToneUnit") &&
                         line.endsWith("(DROVTonePlayer): Can't find default output"),
                     qPrintable(line));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildVariable))
        return startWithoutOutput();
    QCoreApplication app(argc, argv);
    TestToneRender test;
    return QTest::qExec(&test, argc, argv);
}

#include "tone_render_test.moc"
