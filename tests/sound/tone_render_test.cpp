// The tone player's render function, called directly (no audio device), and its start on a
// machine without any audio output (in a child process with its own environment).
#include "sound/DROVTonePlayer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
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

struct RenderResult {
    // The n requested samples followed by one sentinel that must stay untouched.
    std::vector<float> samples;
};

RenderResult render(DROVTonePlayer& player, unsigned long frames) {
    RenderResult result{std::vector<float>(frames + 1, kSentinel)};
    DROVTonePlayer::renderTone(&player, result.samples.data(), frames);
    return result;
}

void expectFrequencyLog(float value) {
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QString::asprintf("frequency: %f", value)));
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
    void newPlayerPlays300HzFromPhaseZero() {
        InspectablePlayer player;
        QCOMPARE(player.rate(), 44100.0);
        QVERIFY(!player.isPlaying());
        player.stop();
        QVERIFY(!player.isPlaying());
        const RenderResult result = render(player, 1);
        QCOMPARE(result.samples[0], 0.0f);
        QCOMPARE(result.samples[1], kSentinel);
        // About 0.0427 radians per frame at 300 Hz and 44100 Hz.
        QVERIFY(std::abs(player.phase() - 300.0 * kTwoPi / 44100.0) < 1e-15);
        QVERIFY(std::abs(player.phase() - 0.0427) < 1e-4);
    }

    void zeroFramesLeavePhaseAndBufferAlone() {
        InspectablePlayer player;
        player.setPhase(1.234);
        const RenderResult result = render(player, 0);
        QCOMPARE(player.phase(), 1.234);
        QCOMPARE(result.samples[0], kSentinel);
    }

    void samplesAreQuarterScaleSine() {
        InspectablePlayer player;
        player.setPhase(0.5);
        const RenderResult result = render(player, 2048);
        const double step = 300.0 * kTwoPi / 44100.0;
        float peak = 0;
        for (std::size_t i = 0; i < 2048; ++i) {
            const double expected = std::sin(0.5 + double(i) * step) * 0.25;
            QVERIFY2(std::abs(result.samples[i] - expected) < 1e-6, qPrintable(QString::number(i)));
            peak = std::max(peak, std::abs(result.samples[i]));
        }
        QCOMPARE(result.samples[2048], kSentinel);
        // 2048 frames span more than a whole period.
        QVERIFY(peak > 0.2499f && peak <= 0.25f);
    }

    void phaseStaysWithinOneTurnAfterEveryFrame_data() {
        QTest::addColumn<float>("frequency");
        QTest::newRow("lowest mapped pitch") << 50.0f;
        QTest::newRow("default") << 300.0f;
        QTest::newRow("highest mapped pitch") << 3050.0f;
        QTest::newRow("half the sample rate") << 22050.0f;
        QTest::newRow("the sample rate") << 44100.0f;
    }
    void phaseStaysWithinOneTurnAfterEveryFrame() {
        QFETCH(float, frequency);
        InspectablePlayer player;
        expectFrequencyLog(frequency);
        player.newFreq(frequency);
        for (int frame = 0; frame < 20000; ++frame) {
            render(player, 1);
            QVERIFY2(
                player.phase() >= 0.0 && player.phase() <= kTwoPi,
                qPrintable(
                    QStringLiteral("frame %1: %2").arg(frame).arg(player.phase(), 0, 'g', 17)));
        }
    }

    void phaseOfExactlyTwoPiIsNotWrapped() {
        InspectablePlayer player;
        expectFrequencyLog(11025.0f);
        player.newFreq(11025.0f);
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
        const RenderResult next = render(player, 1);
        QCOMPARE(next.samples[0], float(std::sin(kTwoPi) * 0.25));
        QVERIFY(std::abs(player.phase() - step) < 1e-12);
    }

    void splitCallsContinueTheSameWave() {
        InspectablePlayer whole;
        const RenderResult reference = render(whole, 5000);

        InspectablePlayer pieces;
        std::vector<float> joined;
        for (const unsigned long size : {1, 0, 7, 512, 0, 1000, 333, 3147}) {
            const RenderResult part = render(pieces, size);
            QCOMPARE(part.samples[size], kSentinel);
            joined.insert(joined.end(), part.samples.begin(), part.samples.end() - 1);
        }
        QCOMPARE(joined.size(), std::size_t(5000));
        for (std::size_t i = 0; i < joined.size(); ++i)
            QVERIFY2(joined[i] == reference.samples[i], qPrintable(QString::number(i)));
        QCOMPARE(pieces.phase(), whole.phase());
    }

    void frequencyChangeTakesEffectAtNextCall() {
        InspectablePlayer player;
        render(player, 100);
        const double before = player.phase();

        expectFrequencyLog(440.1f);
        player.newFreq(440.1f);
        QCOMPARE(player.storedFrequency(), double(440.1f));
        expectFrequencyLog(1050.0f);
        player.newFreq(1050.0f);
        QCOMPARE(player.storedFrequency(), 1050.0);
        QCOMPARE(player.phase(), before);
        QVERIFY(!player.isPlaying());

        const RenderResult result = render(player, 100);
        const double step = 1050.0 * kTwoPi / 44100.0;
        // The first sample continues from the old phase: no jump in the wave.
        QCOMPARE(result.samples[0], float(std::sin(before) * 0.25));
        for (std::size_t i = 0; i < 100; ++i)
            QVERIFY(std::abs(result.samples[i] - std::sin(before + double(i) * step) * 0.25) <
                    1e-6);
    }

    void startWithoutAudioOutputFails() {
        // A sound card gives PortAudio a real output that no environment can hide.
        if (!QDir(QStringLiteral("/dev/snd"))
                 .entryList({QStringLiteral("controlC*")}, QDir::System)
                 .isEmpty())
            QSKIP("this machine has a sound card, so it always has an audio output");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // ALSA's default device is the sound server, as on a desktop, but no server runs.
        QFile config(dir.filePath(QStringLiteral("asound.conf")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
        config.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        env.insert(QStringLiteral("ALSA_CONFIG_PATH"), config.fileName());
        env.insert(QStringLiteral("PULSE_SERVER"),
                   QStringLiteral("unix:") + dir.filePath(QStringLiteral("no-server")));
        env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), QStringLiteral("zwirl-no-server"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        const QString err = QString::fromUtf8(child.readAllStandardError());

        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(out, QStringLiteral("caught: Can't find default output\n"
                                     "caught: Can't find default output\n"));
        const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
        // One report per failed start, and none of the device probes' chatter.
        QCOMPARE(lines.size(), 2);
        for (const QString& line : lines) {
            QVERIFY2(
                line.contains(QStringLiteral("DROVTonePlayer::createToneUnit")) &&
                    line.endsWith(QStringLiteral("(DROVTonePlayer): Can't find default output")),
                qPrintable(line));
        }
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
