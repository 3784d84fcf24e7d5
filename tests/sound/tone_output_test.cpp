// The tone player on a real output: the test desktop's PulseAudio null sink, recorded from
// its monitor with parecord while the player plays, stops and toggles.
#include "sound/DROVTonePlayer.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double kRate = 44100.0;
// Long enough for the output's and the recorder's buffers to pass on what was played before.
constexpr int kSettleMs = 700;
constexpr int kListenMs = 600;

class InspectablePlayer : public DROVTonePlayer {
public:
    double phase() const { return theta; }
    bool isPlaying() const { return toneUnit != nullptr; }
};

// Records the null sink's monitor as mono float samples for as long as it lives.
class MonitorRecorder {
public:
    bool start() {
        m_process.start(QStringLiteral("parecord"),
                        {QStringLiteral("--device=zwirl_null.monitor"), QStringLiteral("--raw"),
                         QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                         QStringLiteral("--rate=44100"), QStringLiteral("--latency-msec=20")});
        if (!m_process.waitForStarted(5000))
            return false;
        // The sink renders ahead by up to two seconds of the silent stream before it follows
        // the recorder's short latency; samples flow steadily from then on.
        for (int waited = 0; waited < 8000; waited += 100) {
            QTest::qWait(100);
            if (take().size() > std::size_t(kRate / 20))
                return true;
        }
        return false;
    }

    ~MonitorRecorder() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // What reached the sink from about kSettleMs from now on, for kListenMs.
    std::vector<float> listen() {
        QTest::qWait(kSettleMs);
        take();
        QTest::qWait(kListenMs);
        return take();
    }

private:
    std::vector<float> take() {
        m_pending += m_process.readAllStandardOutput();
        const qsizetype whole = m_pending.size() / qsizetype(sizeof(float));
        std::vector<float> samples(static_cast<std::size_t>(whole));
        std::memcpy(samples.data(), m_pending.constData(), std::size_t(whole) * sizeof(float));
        m_pending.remove(0, whole * qsizetype(sizeof(float)));
        return samples;
    }

    QProcess m_process;
    QByteArray m_pending;
};

struct Tone {
    double frequency = 0;
    float peak = 0;
};

// The pitch from the median distance between rising zero crossings (interpolated between
// samples), which a dropped buffer here and there does not move.
Tone measure(const std::vector<float>& samples) {
    Tone tone;
    std::vector<double> crossings;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        tone.peak = std::max(tone.peak, std::abs(samples[i]));
        const float a = samples[i - 1], b = samples[i];
        if (a < 0 && b >= 0)
            crossings.push_back(double(i - 1) + double(a) / double(a - b));
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(crossings[i] - crossings[i - 1]);
    if (periods.size() < 10)
        return tone;
    std::nth_element(periods.begin(), periods.begin() + qsizetype(periods.size() / 2),
                     periods.end());
    tone.frequency = kRate / periods[periods.size() / 2];
    return tone;
}

QByteArray describe(const Tone& tone, std::size_t count) {
    return QStringLiteral("%1 Hz, peak %2, %3 samples")
        .arg(tone.frequency)
        .arg(tone.peak)
        .arg(count)
        .toUtf8();
}

#define VERIFY_TONE(samples, hz)                                                                   \
    do {                                                                                           \
        const std::vector<float>& s_ = (samples);                                                  \
        QVERIFY2(s_.size() > std::size_t(kRate * kListenMs / 1000 / 2), "recorder fell behind");   \
        const Tone t_ = measure(s_);                                                               \
        QVERIFY2(std::abs(t_.frequency - (hz)) < 2.0, describe(t_, s_.size()).constData());        \
        QVERIFY2(t_.peak > 0.22f && t_.peak < 0.28f, describe(t_, s_.size()).constData());         \
    } while (false)

#define VERIFY_SILENCE(samples)                                                                    \
    do {                                                                                           \
        const std::vector<float>& s_ = (samples);                                                  \
        QVERIFY2(s_.size() > std::size_t(kRate * kListenMs / 1000 / 2), "recorder fell behind");   \
        const Tone t_ = measure(s_);                                                               \
        QVERIFY2(t_.peak < 0.001f, describe(t_, s_.size()).constData());                           \
    } while (false)

} // namespace

class TestToneOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"),
                 "needs the test desktop's sound server: run inside tests/desktop.sh");
        QVERIFY(m_recorder.start());
        VERIFY_SILENCE(m_recorder.listen());
    }

    void playsDefaultPitchThenFollowsNewFreq() {
        InspectablePlayer player;
        player.start();
        QVERIFY(player.isPlaying());
        VERIFY_TONE(m_recorder.listen(), 300.0);

        QTest::ignoreMessage(QtWarningMsg, "frequency: 1050.000000");
        player.newFreq(1050.0f);
        VERIFY_TONE(m_recorder.listen(), 1050.0);

        player.stop();
        QVERIFY(!player.isPlaying());
        VERIFY_SILENCE(m_recorder.listen());
    }

    void startTogglesAndKeepsThePitch() {
        InspectablePlayer player;
        QTest::ignoreMessage(QtWarningMsg, "frequency: 700.000000");
        player.newFreq(700.0f);
        player.start();
        VERIFY_TONE(m_recorder.listen(), 700.0);

        player.start();
        QVERIFY(!player.isPlaying());
        VERIFY_SILENCE(m_recorder.listen());

        player.start();
        QVERIFY(player.isPlaying());
        VERIFY_TONE(m_recorder.listen(), 700.0);
        player.stop();
    }

    void noRenderCallFollowsStop() {
        InspectablePlayer player;
        player.start();
        QTest::qWait(300);
        // An unsynchronised read of a double that the output thread writes (never torn on
        // x86-64): it only shows that the phase moves while playing, so that the check after
        // stop has teeth.
        const double running = player.phase();
        QTest::qWait(100);
        QVERIFY(player.phase() != running);

        player.stop();
        const double stopped = player.phase();
        QTest::qWait(300);
        QCOMPARE(player.phase(), stopped);
        // A second stop does nothing.
        player.stop();
        QCOMPARE(player.phase(), stopped);
    }

    void destroyingAPlayingPlayerSilencesIt() {
        auto player = std::make_unique<DROVTonePlayer>();
        player->start();
        VERIFY_TONE(m_recorder.listen(), 300.0);
        player.reset();
        VERIFY_SILENCE(m_recorder.listen());
    }

private:
    MonitorRecorder m_recorder;
};

QTEST_GUILESS_MAIN(TestToneOutput)

#include "tone_output_test.moc"
