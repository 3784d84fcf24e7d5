// The tone player on a real output: the test desktop's PulseAudio null sink, recorded from
// its monitor with parecord while the player plays, stops and toggles.
#include "sound/DROVTonePlayer.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace zwirl;

namespace {

class InspectablePlayer : public DROVTonePlayer {
public:
    double phase() const { return m_theta; }
    bool isPlaying() const { return m_toneUnit != nullptr; }
};

// Empty once what reaches the sink, in one stretch of 600 ms, is a tone of `hz` at a quarter of
// full scale (silence for 0); otherwise, after 8 s of listening, what was heard last. The
// output's and the recorder's buffers pass on what played before for a while, so the sink is
// heard until it changes.
QString mismatch(testsupport::SinkRecorder& recorder, double hz) {
    QString heardLast;
    QDeadlineTimer deadline(8000);
    while (!deadline.hasExpired()) {
        const std::vector<float> samples = recorder.recordFor(600);
        if (samples.size() < 44100 * 600 / 1000 / 2)
            return "recorder fell behind";
        const testsupport::HeardSound heard = testsupport::hear(samples);
        const bool match =
            hz == 0 ? heard.peak < 0.001
                    : std::abs(heard.pitch - hz) < 2.0 && heard.peak > 0.22 && heard.peak < 0.28;
        if (match)
            return {};
        heardLast = testsupport::describe(heard);
    }
    return heardLast;
}

} // namespace

#define VERIFY_HEARD(hz)                                                                           \
    do {                                                                                           \
        const QString mismatch_ = mismatch(m_recorder, hz);                                        \
        QVERIFY2(mismatch_.isEmpty(), qPrintable(mismatch_));                                      \
    } while (false)

class TestToneOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"),
                 "needs the test desktop's sound server: run inside tests/desktop.sh");
        QVERIFY(m_recorder.start());
        VERIFY_HEARD(0);
    }

    void playsFollowsNewFreqTogglesAndStopsWhenDestroyed() {
        auto player = std::make_unique<InspectablePlayer>();
        player->start();
        QVERIFY(player->isPlaying());
        VERIFY_HEARD(300.0);
        QTest::ignoreMessage(QtWarningMsg, "frequency: 1050.000000");
        player->newFreq(1050.0f);
        VERIFY_HEARD(1050.0);
        player->start(); // start toggles
        QVERIFY(!player->isPlaying());
        VERIFY_HEARD(0);
        player->start(); // the pitch survives
        QVERIFY(player->isPlaying());
        VERIFY_HEARD(1050.0);
        player.reset();
        VERIFY_HEARD(0);
    }

    void noRenderCallFollowsStop() {
        // Started, a player's phase moves with each of its render calls: two of them are seen.
        const auto startAndHearTwoCalls = [](InspectablePlayer& player) {
            player.start();
            if (!testsupport::waitFor([&] { return player.phase() != 0.0; }, 5000))
                return false;
            const double running = player.phase();
            return testsupport::waitFor([&] { return player.phase() != running; }, 5000);
        };
        InspectablePlayer player;
        // The phase moves while playing, so the check after stop has teeth.
        QVERIFY(startAndHearTwoCalls(player));
        player.stop();
        QVERIFY(!player.isPlaying());
        const double stopped = player.phase();
        // Another player's render calls show that the output went on meanwhile.
        InspectablePlayer other;
        QVERIFY(startAndHearTwoCalls(other));
        other.stop();
        QCOMPARE(player.phase(), stopped);
        player.stop(); // a second stop does nothing
        QCOMPARE(player.phase(), stopped);
    }

private:
    testsupport::SinkRecorder m_recorder;
};

QTEST_GUILESS_MAIN(TestToneOutput)
#include "tone_output_test.moc"
