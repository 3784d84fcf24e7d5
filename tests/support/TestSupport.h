// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers for tests that run programs, drive the installed application over the session bus
// and watch what it shows and tells the desktop.

#include <QColor>
#include <QDBusMessage>
#include <QDateTime>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <vector>

namespace testsupport {

struct ToolResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end; exitCode -1 when it could not start or timed out.
ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs = 60000,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Polls `condition` while serving events until it holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 20000);

// True inside tests/desktop.sh.
bool inTestDesktop();
// The installed binary the end-to-end tests drive.
QString installedBinary();
// For an end-to-end test's initTestCase: the test desktop and the installed binary are there.
void requireEndToEnd();

// A home folder of the test's own, with the XDG folders and a Desktop.
class TempHome {
public:
    TempHome();
    QString path() const { return m_dir.path(); }
    QString outputFolder() const { return path() + "/Desktop/zwirl"; }
    QString configFile() const { return path() + "/.config/zwirl/zwirl.conf"; }
    QString autostartFolder() const { return path() + "/.config/autostart"; }
    QString journalFolder() const { return path() + "/.local/state/zwirl"; }
    QProcessEnvironment environment() const;

    QVariant config(const QString& key) const;
    void setConfig(const QString& key, const QVariant& value) const;
    // The run kept under the quit keys of the configuration file.
    static inline const QString kSamplesKey = "de.tolvarek.zwirl.quit-key-samples";
    static inline const QString kStartKey = "de.tolvarek.zwirl.quit-key-startdate";
    static inline const QString kEndKey = "de.tolvarek.zwirl.quit-key-enddate";
    QVariantList storedSamples() const { return config(kSamplesKey).toList(); }
    bool hasAnyQuitKey() const;
    void storeRun(const QList<QList<double>>& samples, const QDateTime& start,
                  const QDateTime& end) const;

    // A run journal in the application's format, as a process that ended without a quit
    // leaves it: a header with the version, the record size and the start time, then a record
    // per click. Returns its path.
    QString writeJournal(const QString& name, const QList<QList<double>>& samples,
                         const QDateTime& start, quint32 version = 1,
                         quint32 recordSize = 32) const;

private:
    QTemporaryDir m_dir;
};

// The application as a child process with a home of its own; it can start again once ended.
class AppInstance {
public:
    explicit AppInstance(const TempHome& home) : m_home(home) {}
    ~AppInstance();

    // Starts the process and waits until it answers on the session bus.
    bool start(const QStringList& extraEnv = {}, int timeoutMs = 20000);
    // A program and its arguments that later starts run the binary through (e.g. setpriv).
    void setLauncher(const QStringList& launcher) { m_launcher = launcher; }
    // Sends the signal and waits for the process to end; false on timeout.
    bool stop(int signalNumber, int timeoutMs = 60000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    // Everything the process printed so far.
    QByteArray output();

private:
    const TempHome& m_home;
    QStringList m_launcher;
    QProcess m_process;
    QByteArray m_output;
};

// Calls to the running application.
QDBusMessage callApp(const QString& interface, const QString& method,
                     const QVariantList& args = {});
QDBusMessage action(const QString& name);
bool isTracking();
uint sampleCount();
bool isExporting();
// A property of the control interface; invalid when it cannot be read.
QVariant controlProperty(const QString& name);
// Asks for a run and waits until it is open.
bool startRun();
// Waits until no export runs.
bool waitUntilSaved(int timeoutMs = 120000);

// The messages that `busctl --user monitor` shows for `args`, as its JSON, while it lives.
class BusMonitor {
public:
    explicit BusMonitor(const QStringList& args);
    ~BusMonitor();
    // Every message seen so far, in order.
    const QList<QJsonObject>& messages();

private:
    QProcess m_busctl;
    QByteArray m_buffer;
    QList<QJsonObject> m_messages;
};

// One Notify call: what was asked for, and the id the server answered (0 until it has).
struct Notification {
    QString appIcon;
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;
    uint id = 0;
};

// Records the Notify calls on the session bus while it lives.
class NotificationMonitor {
public:
    NotificationMonitor() : m_bus({"org.freedesktop.Notifications"}) {}
    // Each Notify call seen so far, in order.
    QList<Notification> notifications();
    QStringList bodies();
    bool waitForBody(const QString& body, int timeoutMs = 10000);

private:
    BusMonitor m_bus;
};

// An xdg-open that records what it was asked to open; pathEntry() puts it first on PATH.
class OpenRecorder {
public:
    OpenRecorder();
    QString pathEntry() const;
    QStringList opened() const;

private:
    QTemporaryDir m_dir;
};

// One end-to-end case: a home of its own, the notifications and the folders the application
// opens, and the application, whose start puts the recording xdg-open on its PATH.
struct Session {
    TempHome home;
    OpenRecorder opener;
    NotificationMonitor notifications;
    AppInstance app{home};
    bool start(QStringList env = {}, int timeoutMs = 20000) {
        return app.start(env << opener.pathEntry(), timeoutMs);
    }
};

// The files in `folder` that match `pattern`, by name.
QStringList filesIn(const QString& folder, const QString& pattern = "*");
// ffprobe's JSON for a media file (format and streams).
QJsonObject probe(const QString& path);

// A window of another X client (ImageMagick's display) showing vertical stripes of the given
// colours, each `stripeWidth` pixels wide, with its top-left corner at `origin`.
class ColourStripes {
public:
    ColourStripes(const QStringList& colours, QPoint origin = {200, 200}, int stripeWidth = 60,
                  int height = 200);
    ~ColourStripes();
    bool isShown() const { return m_shown; }
    // The centre of stripe `index` in root-window coordinates.
    QPoint centreOf(int index) const;
    // A left click on the stripe once it shows its colour (no menu of the viewer is over it).
    bool click(int index) const;

private:
    QTemporaryDir m_dir;
    QProcess m_display;
    QStringList m_colours;
    QPoint m_origin;
    int m_stripeWidth;
    int m_height;
    bool m_shown = false;
};

// The colour of one pixel of the screen as the X server shows it; invalid when unreadable.
QColor screenPixel(QPoint point);
// What the screen shows in `area`.
QImage grabScreen(const QRect& area);
// Left clicks with xdotool at a point of the screen.
bool clickAt(QPoint point, int count = 1);

// A mapped X window of the application, from xwininfo: a top-level window, or the tray icon
// embedded in the tray host's panel.
struct XWindow {
    QString id;
    QString name;
    QRect rect; // on the screen
    bool topLevel = false;
    bool inTray = false;
};
QList<XWindow> appWindows();
// The main window: the mapped top-level window at the window's size.
std::optional<XWindow> mainWindow();

// `count` stored click samples that go through a few colours.
QList<QList<double>> samplePattern(int count);

// `env` with `entries` of the form NAME=value added or replacing what it had.
QProcessEnvironment withEntries(QProcessEnvironment env, const QStringList& entries);

// An environment whose audio reaches nothing: no sound server at the address PulseAudio is
// told, ALSA's default device is that server (as on a desktop), and no JACK server. A sound card
// gives PortAudio a real output that no environment can hide: `possible()` is false then.
class NoAudioOutput {
public:
    NoAudioOutput();
    static bool possible();
    // Entries of the form NAME=value.
    QStringList environment() const;

private:
    QTemporaryDir m_dir;
};

// Records the test desktop's null sink as mono float samples at 44100 Hz while it lives.
class SinkRecorder {
public:
    ~SinkRecorder();
    // Starts parecord and waits until samples flow steadily.
    bool start();
    // Drops what arrived so far, then records for `ms`.
    std::vector<float> recordFor(int ms);

private:
    std::vector<float> take();
    QProcess m_process;
    QByteArray m_pending;
};

// A stretch of recorded sound: its pitch from the median period between rising zero crossings
// (0 with fewer than `minPeriods` periods, ten unless given), its peak and RMS as fractions of full
// scale.
struct HeardSound {
    std::size_t count = 0;
    double pitch = 0;
    double peak = 0;
    double rms = 0;
};
HeardSound hear(const std::vector<float>& samples, std::size_t minPeriods = 10);
QString describe(const HeardSound& heard);
// Empty when each 50 ms click of a decoded export sounds at the pitch of its colour, whose
// components sum to `sums[k]` (the edges of each segment left out, up to 5 % and 30 Hz off);
// otherwise the first click that does not.
QString clickPitchMismatch(const std::vector<int16_t>& pcm, const QList<double>& sums);

// Empty once what reaches the sink, in one stretch of 600 ms, is a sine of `hz` at a quarter of
// full scale (silence for 0); otherwise, after 10 s of listening, what was heard last. The
// output's and the recorder's buffers pass on what played before for a while, so the sink is
// heard until it changes.
QString mismatchHeard(SinkRecorder& recorder, double hz);

#define VERIFY_HEARS(recorder, hz)                                                                 \
    do {                                                                                           \
        const QString mismatch_ = testsupport::mismatchHeard(recorder, hz);                        \
        QVERIFY2(mismatch_.isEmpty(),                                                              \
                 qPrintable(QString("want %1 Hz: %2").arg(hz).arg(mismatch_)));                    \
    } while (false)

// Another application on a Wayland desktop (zwirl_colour_window beside the test): a full-screen
// window with a colour on each half.
class Halves {
public:
    Halves(const QString& left, const QString& right);
    ~Halves();
    // Waits until the window last said `state`: whether the pointer is on it ("in", "out").
    bool becomes(const QByteArray& state, int timeoutMs = 20000);

private:
    QProcess m_process;
    QByteArray m_said;
};

// Whether a stored click sample is the colour of these 8-bit components.
bool sameColour(const QVariant& stored, int red, int green, int blue);

// Pointer input as a user makes it on GNOME, through the compositor's remote desktop
// interface; the remote session lasts while this object (and the bus connection) does.
class RemotePointer {
public:
    RemotePointer();
    ~RemotePointer();
    bool isReady() const { return m_ready; }
    bool moveTo(QPoint point);
    // Presses or releases the left button.
    bool button(bool pressed);
    // Moves the pointer to `point` and presses the left button for `holdMs`, then leaves it up
    // as long.
    bool click(QPoint point, int holdMs = 100);

private:
    QString m_session;
    QString m_stream;
    bool m_ready = false;
};

} // namespace testsupport
