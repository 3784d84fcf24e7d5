// SPDX-License-Identifier: GPL-3.0-or-later
// The tone player on a real output: the test desktop's PulseAudio null sink, recorded from
// its monitor with parecord while the player plays, stops and toggles.
#include "sound/DROVTonePlayer.h"
#include "support/TestSupport.h"

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

} // namespace

class TestToneOutput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"),
                 "needs the test desktop's sound server: run inside tests/desktop.sh");
        QVERIFY(m_recorder.start());
        VERIFY_HEARS(m_recorder, 0);
    }

    void playsFollowsNewFreqTogglesAndStopsWhenDestroyed() {
        auto player = std::make_unique<InspectablePlayer>();
        player->start();
        QVERIFY(player->isPlaying());
        VERIFY_HEARS(m_recorder, 300.0);
        QTest::ignoreMessage(QtDebugMsg, "frequency: 1050.000000");
        player->newFreq(1050.0f);
        VERIFY_HEARS(m_recorder, 1050.0);
        player->start(); // start toggles
        QVERIFY(!player->isPlaying());
        VERIFY_HEARS(m_recorder, 0);
        player->start(); // the pitch survives
        QVERIFY(player->isPlaying());
        VERIFY_HEARS(m_recorder, 1050.0);
        player.reset();
        VERIFY_HEARS(m_recorder, 0);
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
