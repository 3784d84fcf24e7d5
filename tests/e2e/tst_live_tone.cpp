// The live tone of the installed application, heard on the test desktop's null sink: its first
// pitch, the pitch a click sets, the toggle and the end of a run silencing it, and what the user
// is told when there is no audio output at all.
#include "support/TestSupport.h"

#include <QDir>
#include <QtTest>

#include <cmath>
#include <csignal>

using namespace testsupport;

namespace {

constexpr double kRate = 44100.0;
constexpr int kWindowMs = 600;
// Long enough for the output's buffers, the sink and the recorder to pass a change on.
constexpr int kChangeTimeoutMs = 10000;
const QString kNoOutput = QStringLiteral("Can't find default output");

// A whole window of a sine at `hz` and a quarter of full scale.
bool isTone(const HeardSound& heard, double hz) {
    return heard.count > std::size_t(kRate * kWindowMs / 1000 / 2) &&
           std::abs(heard.pitch - hz) < 2.0 && heard.peak > 0.22 && heard.peak < 0.28 &&
           std::abs(heard.rms - 0.25 / std::sqrt(2.0)) < 0.02;
}

bool isSilence(const HeardSound& heard) {
    return heard.count > std::size_t(kRate * kWindowMs / 1000 / 2) && heard.peak < 0.001;
}

// Listens window after window until one satisfies `expected`; the last one heard is left in
// `heard` for the failure message.
bool hearsWithin(SinkRecorder& recorder, const std::function<bool(const HeardSound&)>& expected,
                 HeardSound& heard) {
    QElapsedTimer clock;
    clock.start();
    do {
        heard = hear(recorder.recordFor(kWindowMs));
        if (expected(heard))
            return true;
    } while (clock.elapsed() < kChangeTimeoutMs);
    return false;
}

#define VERIFY_HEARS_TONE(recorder, hz)                                                            \
    do {                                                                                           \
        HeardSound heard_;                                                                         \
        QVERIFY2(hearsWithin(                                                                      \
                     recorder, [](const HeardSound& h) { return isTone(h, hz); }, heard_),         \
                 qPrintable(QStringLiteral("want %1 Hz: ").arg(hz) + describe(heard_)));           \
    } while (false)

#define VERIFY_HEARS_SILENCE(recorder)                                                             \
    do {                                                                                           \
        HeardSound heard_;                                                                         \
        QVERIFY2(hearsWithin(recorder, isSilence, heard_),                                         \
                 qPrintable(QStringLiteral("want silence: ") + describe(heard_)));                 \
    } while (false)

// The pitch of a click on a colour, as the application maps it: ((s * 100) * 10) + 50 in
// single precision.
double pitchFor(float sum) {
    return double(((sum * 100.0f) * 10.0f) + 50.0f);
}

// A session whose audio reaches nothing: no sound server at the address PulseAudio is told,
// ALSA's default device is that server, and no JACK server.
class NoAudioOutput {
public:
    NoAudioOutput() {
        QFile config(m_dir.filePath(QStringLiteral("asound.conf")));
        if (config.open(QIODevice::WriteOnly))
            config.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
    }
    QStringList environment() const {
        return {QStringLiteral("PULSE_SERVER=unix:") + m_dir.filePath(QStringLiteral("no-server")),
                QStringLiteral("ALSA_CONFIG_PATH=") + m_dir.filePath(QStringLiteral("asound.conf")),
                QStringLiteral("JACK_DEFAULT_SERVER=zwirl-no-server")};
    }

private:
    QTemporaryDir m_dir;
};

bool hasSoundCard() {
    return !QDir(QStringLiteral("/dev/snd"))
                .entryList({QStringLiteral("controlC*")}, QDir::System)
                .isEmpty();
}

} // namespace

class TestLiveTone : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"), "the test desktop has no sound server");
        QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
    }

    void clicksSetThePitchAndTheToggleSilencesIt() {
        ColourStripes stripes({QStringLiteral("#ff0000")});
        QVERIFY(stripes.isShown());
        SinkRecorder recorder;
        QVERIFY(recorder.start());
        VERIFY_HEARS_SILENCE(recorder);

        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        QCOMPARE(AppInstance::action(QStringLiteral("live-tone")).type(),
                 QDBusMessage::ReplyMessage);
        // Before any click the tone plays its initial 300 Hz.
        VERIFY_HEARS_TONE(recorder, 300.0);

        AppInstance::action(QStringLiteral("start"));
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, 5000));
        QVERIFY(clickAt(stripes.centreOf(0)));
        QVERIFY(waitFor([] { return AppInstance::sampleCount() == 1; }, 5000));
        QCOMPARE(pitchFor(1.0f), 1050.0);
        VERIFY_HEARS_TONE(recorder, pitchFor(1.0f));

        // Ending the run stops the tone before the recording is saved.
        AppInstance::action(QStringLiteral("stop"));
        QVERIFY(AppInstance::waitUntilSaved());
        VERIFY_HEARS_SILENCE(recorder);

        // Started again, it keeps the last click's pitch; a second live-tone turns it off.
        AppInstance::action(QStringLiteral("live-tone"));
        VERIFY_HEARS_TONE(recorder, pitchFor(1.0f));
        AppInstance::action(QStringLiteral("live-tone"));
        VERIFY_HEARS_SILENCE(recorder);
        QVERIFY(app.isRunning());
        QVERIFY(app.stop(SIGTERM));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    }

    void withoutAudioOutputTheUserIsToldAndTheAppGoesOn() {
        if (hasSoundCard())
            QSKIP("this machine has a sound card, so the application always has an output");
        NoAudioOutput noOutput;
        NotificationMonitor notifications;
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start(15000, noOutput.environment()));
        QCOMPARE(AppInstance::action(QStringLiteral("live-tone")).type(),
                 QDBusMessage::ReplyMessage);
        const auto told = [&] {
            const auto seen = notifications.notifications();
            return std::any_of(seen.cbegin(), seen.cend(), [](const auto& note) {
                return note.first == QLatin1String("zwirl") && note.second.contains(kNoOutput);
            });
        };
        QVERIFY2(waitFor(told, 10000), app.output().constData());
        QVERIFY(app.output().contains(kNoOutput.toUtf8()));

        // Still running and answering; a second try fails the same way, without a crash.
        QVERIFY(app.isRunning());
        QCOMPARE(AppInstance::call(QStringLiteral("de.tolvarek.zwirl.Control"),
                                   QStringLiteral("IsTracking"))
                     .type(),
                 QDBusMessage::ReplyMessage);
        QVERIFY(!AppInstance::isTracking());
        AppInstance::action(QStringLiteral("live-tone"));
        QVERIFY(waitFor(
            [&] {
                const auto seen = notifications.notifications();
                return std::count_if(seen.cbegin(), seen.cend(), [](const auto& note) {
                           return note.second.contains(kNoOutput);
                       }) == 2;
            },
            10000));
        QVERIFY(app.isRunning());
        QVERIFY(app.stop(SIGTERM));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestLiveTone)
#include "tst_live_tone.moc"
