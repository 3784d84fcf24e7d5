// SPDX-License-Identifier: GPL-3.0-or-later
// The live tone of the installed application, heard on the test desktop's null sink: its first
// pitch, the pitch a click sets, the toggle and the end of a run silencing it, and what the user
// is told when there is no audio output at all.
#include "support/TestSupport.h"

#include <QtTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kNoOutput = "Can't find default output";

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
        // Red: components summing to 1, 1000 Hz above the 50 Hz base.
        VERIFY_HEARS(recorder, 1050.0);
        // zwirl's debug lines (the pitch at each click) come only after zwirl --debug.
        QVERIFY(!s.app.output().contains("frequency:"));
        QCOMPARE(action("debug").type(), QDBusMessage::ReplyMessage);
        QVERIFY(stripes.click(0));
        QVERIFY(waitFor([&] { return s.app.output().contains("frequency: 1050"); }));

        // Ending the run stops the tone before the recording is saved.
        action("stop");
        QVERIFY(waitUntilSaved());
        VERIFY_HEARS(recorder, 0);

        // Started again, it keeps the last click's pitch; a second live-tone turns it off.
        action("live-tone");
        VERIFY_HEARS(recorder, 1050.0);
        action("live-tone");
        VERIFY_HEARS(recorder, 0);
        QVERIFY(s.app.stop(SIGTERM));
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
    }

    void withoutAudioOutputTheUserIsToldAndTheAppGoesOn() {
        if (!NoAudioOutput::possible())
            QSKIP("this machine has a sound card, so the application always has an output");
        const NoAudioOutput noOutput;
        Session s;
        QVERIFY(s.start(noOutput.environment()));
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
