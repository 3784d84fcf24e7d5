// The tone player on a real output: the test desktop's PulseAudio null sink, recorded from
// its monitor with parecord while the player plays, stops and toggles.
#include "sound/DROVTonePlayer.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace zwirl;

namespace {

constexpr double kRate = 44100.0;
// Long enough for the output's and the recorder's buffers to pass on what was played before.
constexpr int kSettleMs = 700;
constexpr int kListenMs = 600;

class InspectablePlayer : public DROVTonePlayer {
public:
    double phase() const { return m_theta; }
    bool isPlaying() const { return m_toneUnit != nullptr; }
};

// What reached the sink from about kSettleMs from now on, for kListenMs.
std::vector<float> listen(testsupport::SinkRecorder& recorder) {
    QTest::qWait(kSettleMs);
    return recorder.recordFor(kListenMs);
}

#define VERIFY_TONE(samples, hz)                                                                   \
    do {                                                                                           \
        const std::vector<float>& s_ = (samples);                                                  \
        QVERIFY2(s_.size() > std::size_t(kRate * kListenMs / 1000 / 2), "recorder fell behind");   \
        const testsupport::HeardSound t_ = testsupport::hear(s_);                                  \
        QVERIFY2(std::abs(t_.pitch - (hz)) < 2.0, qPrintable(describe(t_)));                       \
        QVERIFY2(t_.peak > 0.22 && t_.peak < 0.28, qPrintable(describe(t_)));                      \
    } while (false)

#define VERIFY_SILENCE(samples)                                                                    \
    do {                                                                                           \
        const std::vector<float>& s_ = (samples);                                                  \
        QVERIFY2(s_.size() > std::size_t(kRate * kListenMs / 1000 / 2), "recorder fell behind");   \
        const testsupport::HeardSound t_ = testsupport::hear(s_);                                  \
        QVERIFY2(t_.peak < 0.001, qPrintable(describe(t_)));                                       \
    } while (false)

} // namespace

class TestToneOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"),
                 "needs the test desktop's sound server: run inside tests/desktop.sh");
        QVERIFY(m_recorder.start());
        VERIFY_SILENCE(listen(m_recorder));
    }

    void playsDefaultPitchThenFollowsNewFreq() {
        InspectablePlayer player;
        player.start();
        QVERIFY(player.isPlaying());
        VERIFY_TONE(listen(m_recorder), 300.0);

        QTest::ignoreMessage(QtWarningMsg, "frequency: 1050.000000");
        player.newFreq(1050.0f);
        VERIFY_TONE(listen(m_recorder), 1050.0);

        player.stop();
        QVERIFY(!player.isPlaying());
        VERIFY_SILENCE(listen(m_recorder));
    }

    void startTogglesAndKeepsThePitch() {
        InspectablePlayer player;
        QTest::ignoreMessage(QtWarningMsg, "frequency: 700.000000");
        player.newFreq(700.0f);
        player.start();
        VERIFY_TONE(listen(m_recorder), 700.0);

        player.start();
        QVERIFY(!player.isPlaying());
        VERIFY_SILENCE(listen(m_recorder));

        player.start();
        QVERIFY(player.isPlaying());
        VERIFY_TONE(listen(m_recorder), 700.0);
        player.stop();
    }

    void noRenderCallFollowsStop() {
        InspectablePlayer player;
        player.start();
        // The phase moves while playing, so the check after stop has teeth.
        QVERIFY(testsupport::waitFor([&] { return player.phase() != 0.0; }, 5000));
        const double running = player.phase();
        QVERIFY(testsupport::waitFor([&] { return player.phase() != running; }, 5000));

        player.stop();
        const double stopped = player.phase();
        // Several of the output's periods.
        QTest::qWait(300);
        QCOMPARE(player.phase(), stopped);
        // A second stop does nothing.
        player.stop();
        QCOMPARE(player.phase(), stopped);
    }

    void destroyingAPlayingPlayerSilencesIt() {
        auto player = std::make_unique<DROVTonePlayer>();
        player->start();
        VERIFY_TONE(listen(m_recorder), 300.0);
        player.reset();
        VERIFY_SILENCE(listen(m_recorder));
    }

private:
    testsupport::SinkRecorder m_recorder;
};

QTEST_GUILESS_MAIN(TestToneOutput)

#include "tone_output_test.moc"
