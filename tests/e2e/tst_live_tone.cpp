// The live tone of the installed application, heard on the test desktop's null sink: its first
// pitch, the pitch a click sets, the toggle and the end of a run silencing it, and what the user
// is told when there is no audio output at all.
#include "support/TestSupport.h"

#include <QtTest>

#include <cmath>
#include <csignal>

using namespace testsupport;

namespace {

constexpr int kWindowMs = 600;
const QString kNoOutput = "Can't find default output";

// Listens window after window until one is a whole window of a sine at `hz` and a quarter of
// full scale, or of silence when `hz` is 0; the last window heard is left in `heard`.
bool hears(SinkRecorder& recorder, double hz, HeardSound& heard) {
    return waitFor(
        [&] {
            heard = hear(recorder.recordFor(kWindowMs));
            if (heard.count <= std::size_t(44100 * kWindowMs / 1000 / 2))
                return false;
            if (hz == 0)
                return heard.peak < 0.001;
            return std::abs(heard.pitch - hz) < 2.0 && heard.peak > 0.22 && heard.peak < 0.28 &&
                   std::abs(heard.rms - 0.25 / std::sqrt(2.0)) < 0.02;
        },
        10000);
}

#define VERIFY_HEARS(recorder, hz)                                                                 \
    do {                                                                                           \
        HeardSound heard_;                                                                         \
        QVERIFY2(hears(recorder, hz, heard_),                                                      \
                 qPrintable(QString("want %1 Hz: ").arg(hz) + describe(heard_)));                  \
    } while (false)

// The pitch of a click on a colour, as the application maps it: ((s * 100) * 10) + 50 in
// single precision.
double pitchFor(float sum) {
    return double(((sum * 100.0f) * 10.0f) + 50.0f);
}

int toldNoOutput(NotificationMonitor& notifications) {
    const auto seen = notifications.notifications();
    return int(std::count_if(seen.cbegin(), seen.cend(), [](const auto& note) {
        return note.summary == "zwirl" && note.body.contains(kNoOutput);
    }));
}

} // namespace

class TestLiveTone : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        requireEndToEnd();
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"), "the test desktop has no sound server");
    }

    void clicksSetThePitchAndTheToggleSilencesIt() {
        ColourStripes stripes({"#ff0000"});
        QVERIFY(stripes.isShown());
        SinkRecorder recorder;
        QVERIFY(recorder.start());
        VERIFY_HEARS(recorder, 0);

        Session s;
        QVERIFY(s.start());
        QCOMPARE(action("live-tone").type(), QDBusMessage::ReplyMessage);
        // Before any click the tone plays its initial 300 Hz.
        VERIFY_HEARS(recorder, 300.0);

        QVERIFY(startRun());
        QVERIFY(stripes.click(0));
        QVERIFY(waitFor([] { return sampleCount() == 1; }));
        QCOMPARE(pitchFor(1.0f), 1050.0);
        VERIFY_HEARS(recorder, pitchFor(1.0f));

        // Ending the run stops the tone before the recording is saved.
        action("stop");
        QVERIFY(waitUntilSaved());
        VERIFY_HEARS(recorder, 0);

        // Started again, it keeps the last click's pitch; a second live-tone turns it off.
        action("live-tone");
        VERIFY_HEARS(recorder, pitchFor(1.0f));
        action("live-tone");
        VERIFY_HEARS(recorder, 0);
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
    }

    void withoutAudioOutputTheUserIsToldAndTheAppGoesOn() {
        if (!QDir("/dev/snd").entryList({"controlC*"}, QDir::System).isEmpty())
            QSKIP("this machine has a sound card, so the application always has an output");
        // A session whose audio reaches nothing: no sound server at the address PulseAudio is
        // told, ALSA's default device is that server, and no JACK server.
        QTemporaryDir dir;
        QFile config(dir.filePath("asound.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
        config.close();
        Session s;
        QVERIFY(s.start({"PULSE_SERVER=unix:" + dir.filePath("no-server"),
                         "ALSA_CONFIG_PATH=" + config.fileName(),
                         "JACK_DEFAULT_SERVER=zwirl-no-server"}));
        QCOMPARE(action("live-tone").type(), QDBusMessage::ReplyMessage);
        QVERIFY2(waitFor([&] { return toldNoOutput(s.notifications) == 1; }),
                 s.app.output().constData());
        QVERIFY(s.app.output().contains(kNoOutput.toUtf8()));

        // Still running and answering; a second try fails the same way, without a crash.
        QVERIFY(s.app.isRunning());
        QCOMPARE(callApp("de.tolvarek.zwirl.Control", "IsTracking").type(),
                 QDBusMessage::ReplyMessage);
        QVERIFY(!isTracking());
        action("live-tone");
        QVERIFY(waitFor([&] { return toldNoOutput(s.notifications) == 2; }));
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestLiveTone)
#include "tst_live_tone.moc"
