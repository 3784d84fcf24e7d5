#pragma once
// Helpers for tests that run programs, drive the installed application over the session bus
// and watch what it tells the desktop.

#include <QByteArray>
#include <QColor>
#include <QDBusMessage>
#include <QDateTime>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
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
bool waitFor(const std::function<bool()>& condition, int timeoutMs);

// True inside tests/desktop.sh.
bool inTestDesktop();

// The installed binary the end-to-end tests drive.
QString installedBinary();

// A home folder of the test's own, with the XDG folders and a Desktop.
class TempHome {
public:
    TempHome();
    QString path() const { return m_dir.path(); }
    QString desktopFolder() const { return path() + QStringLiteral("/Desktop"); }
    QString outputFolder() const { return desktopFolder() + QStringLiteral("/zwirl"); }
    QString configFile() const { return path() + QStringLiteral("/.config/zwirl/zwirl.conf"); }
    QString autostartFolder() const { return path() + QStringLiteral("/.config/autostart"); }
    QProcessEnvironment environment() const;

    // The run kept under the quit keys of the configuration file.
    static inline const QString kSamplesKey = QStringLiteral("de.tolvarek.zwirl.quit-key-samples");
    static inline const QString kStartKey = QStringLiteral("de.tolvarek.zwirl.quit-key-startdate");
    static inline const QString kEndKey = QStringLiteral("de.tolvarek.zwirl.quit-key-enddate");
    QVariantList storedSamples() const;
    bool hasAnyQuitKey() const;
    void storeRun(const QList<QList<double>>& samples, const QDateTime& start,
                  const QDateTime& end) const;

private:
    QTemporaryDir m_dir;
};

// The application, started as a child process with a home of its own.
class AppInstance {
public:
    explicit AppInstance(const TempHome& home, QString binary = installedBinary());
    ~AppInstance();

    // Starts the process and waits until it answers on the session bus.
    bool start(int timeoutMs = 15000, const QStringList& extraEnv = {});
    // Sends the signal and waits for the process to end; false on timeout.
    bool stop(int signalNumber, int timeoutMs = 60000);
    bool isRunning() const;
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    qint64 pid() const { return m_process.processId(); }
    QByteArray output();

    static QDBusMessage call(const QString& interface, const QString& method,
                             const QVariantList& args = {});
    static QDBusMessage action(const QString& name);
    static bool isTracking();
    static uint sampleCount();
    static bool isExporting();
    // Waits until no export job runs.
    static bool waitUntilSaved(int timeoutMs = 120000);

private:
    const TempHome& m_home;
    QString m_binary;
    QProcess m_process;
    QByteArray m_output;
};

// Records the Notify calls on the session bus while it lives.
class NotificationMonitor {
public:
    NotificationMonitor();
    ~NotificationMonitor();
    // Summary and body of each Notify call seen so far, in order.
    QList<QPair<QString, QString>> notifications();
    bool waitForBody(const QString& body, int timeoutMs = 10000);

private:
    QProcess m_busctl;
    QByteArray m_buffer;
    QList<QPair<QString, QString>> m_seen;
};

// The files in `folder` that match `pattern`, by name.
QStringList filesIn(const QString& folder, const QString& pattern);

// ffprobe's JSON for a media file (format and streams).
QJsonObject probe(const QString& path);
// The audio stream and the attached picture of a probe's result; empty when there is none.
QJsonObject audioStreamOf(const QJsonObject& probed);
QJsonObject attachedPictureOf(const QJsonObject& probed);

} // namespace testsupport

namespace testsupport {

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

private:
    QTemporaryDir m_dir;
    QProcess m_display;
    QPoint m_origin;
    int m_stripeWidth;
    int m_height;
    bool m_shown = false;
};

// The colour of one pixel of the screen as the X server shows it; invalid when unreadable.
QColor screenPixel(QPoint point);

// Left clicks with xdotool at a point of the screen.
bool clickAt(QPoint point, int count = 1);

// An xdg-open that records what it was asked to open; pathEntry() puts it first on the
// application's PATH (AppInstance::start's extra environment).
class OpenRecorder {
public:
    OpenRecorder();
    QString pathEntry() const;
    QStringList opened() const;

private:
    QString log() const { return m_dir.path() + QStringLiteral("/opened.log"); }
    QTemporaryDir m_dir;
};

// Records the test desktop's null sink from its monitor, as mono float samples at 44100 Hz,
// for as long as it lives.
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
// (0 with fewer than ten periods), its peak and RMS as fractions of full scale.
struct HeardSound {
    std::size_t count = 0;
    double pitch = 0;
    double peak = 0;
    double rms = 0;
};
HeardSound hear(const std::vector<float>& samples);
QString describe(const HeardSound& heard);

// The X windows of the desktop that are mapped and carry exactly this name.
QStringList visibleWindowsNamed(const QString& name);

} // namespace testsupport
