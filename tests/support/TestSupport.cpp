// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>

namespace testsupport {

ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs,
                   const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    ToolResult result;
    if (!process.waitForStarted(10000))
        return result;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

bool inTestDesktop() {
    return qEnvironmentVariableIsSet("ZWIRL_TEST_DESKTOP") &&
           (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")) &&
           qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

QString installedBinary() {
    return qEnvironmentVariable("ZWIRL_INSTALLED_BINARY");
}

void requireEndToEnd() {
    QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh or tests/gnome-session.sh");
    QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
}

TempHome::TempHome() {
    for (const char* sub : {"Desktop", ".config", ".local/share", ".cache"})
        QDir(path()).mkpath(sub);
    QFile dirs(path() + "/.config/user-dirs.dirs");
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
}

QProcessEnvironment TempHome::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", path());
    env.insert("XDG_CONFIG_HOME", path() + "/.config");
    env.insert("XDG_DATA_HOME", path() + "/.local/share");
    env.insert("XDG_CACHE_HOME", path() + "/.cache");
    env.insert("XDG_STATE_HOME", path() + "/.local/state");
    // The tests read what the application logs.
    env.insert("QT_FORCE_STDERR_LOGGING", "1");
    return env;
}

QVariant TempHome::config(const QString& key) const {
    return QSettings(configFile(), QSettings::IniFormat).value(key);
}

void TempHome::setConfig(const QString& key, const QVariant& value) const {
    QSettings(configFile(), QSettings::IniFormat).setValue(key, value);
}

bool TempHome::hasAnyQuitKey() const {
    const QSettings settings(configFile(), QSettings::IniFormat);
    return settings.contains(kSamplesKey) || settings.contains(kStartKey) ||
           settings.contains(kEndKey);
}

void TempHome::storeRun(const QList<QList<double>>& samples, const QDateTime& start,
                        const QDateTime& end) const {
    QVariantList stored;
    for (const auto& s : samples)
        stored.append(QVariant(QVariantList{s[0], s[1], s[2]}));
    setConfig(kSamplesKey, stored);
    setConfig(kStartKey, start);
    setConfig(kEndKey, end);
}

QString TempHome::writeJournal(const QString& name, const QList<QList<double>>& samples,
                               const QDateTime& start, quint32 version, quint32 recordSize) const {
    QDir().mkpath(journalFolder());
    QFile file(journalFolder() + u'/' + name);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    // Blocks of 32 bytes in the machine's order, each ending in a CRC-16 of what precedes it.
    const auto block = [&](QByteArray bytes) {
        const quint32 sum = qChecksum(bytes);
        file.write(bytes.append(reinterpret_cast<const char*>(&sum), sizeof sum));
    };
    QByteArray header("ZWIRLRUN");
    const quint32 reserved = 0;
    const qint64 startMs = start.toMSecsSinceEpoch();
    for (const auto& [field, size] : std::initializer_list<std::pair<const void*, int>>{
             {&version, 4}, {&recordSize, 4}, {&startMs, 8}, {&reserved, 4}})
        header.append(static_cast<const char*>(field), size);
    block(header);
    for (quint32 i = 0; i < quint32(samples.size()); ++i) {
        QByteArray record;
        for (double c : samples[int(i)])
            record.append(reinterpret_cast<const char*>(&c), sizeof c);
        block(record.append(reinterpret_cast<const char*>(&i), sizeof i));
    }
    return file.fileName();
}

AppInstance::~AppInstance() {
    stop(SIGKILL, 10000);
}

QProcessEnvironment withEntries(QProcessEnvironment env, const QStringList& entries) {
    for (const QString& entry : entries)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    return env;
}

bool AppInstance::start(const QStringList& extraEnv, int timeoutMs) {
    m_process.setProcessEnvironment(withEntries(m_home.environment(), extraEnv));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_launcher.isEmpty())
        m_process.start(installedBinary(), {});
    else
        m_process.start(m_launcher.first(), m_launcher.mid(1) << installedBinary());
    return m_process.waitForStarted(10000) &&
           waitFor(
               [this] {
                   output();
                   return !isRunning() ||
                          callApp("de.tolvarek.zwirl.Control", "IsTracking").type() ==
                              QDBusMessage::ReplyMessage;
               },
               timeoutMs) &&
           isRunning();
}

bool AppInstance::stop(int signalNumber, int timeoutMs) {
    if (!isRunning())
        return true;
    ::kill(pid_t(m_process.processId()), signalNumber);
    const bool ended = waitFor([this] { return !isRunning(); }, timeoutMs);
    output();
    return ended;
}

QByteArray AppInstance::output() {
    return m_output += m_process.readAll();
}

QDBusMessage callApp(const QString& interface, const QString& method, const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall("de.tolvarek.zwirl", "/de/tolvarek/zwirl",
                                                          interface, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
}

QDBusMessage action(const QString& name) {
    return callApp("org.freedesktop.Application", "ActivateAction",
                   {name, QVariant::fromValue(QVariantList()), QVariant::fromValue(QVariantMap())});
}

namespace {
// The answer; nothing when the call failed (an error's only argument is its text).
QVariant control(const char* method) {
    const QDBusMessage reply = callApp("de.tolvarek.zwirl.Control", method);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0) : QVariant();
}
} // namespace

bool isTracking() {
    return control("IsTracking").toBool();
}

uint sampleCount() {
    return control("SampleCount").toUInt();
}

bool isExporting() {
    return control("IsExporting").toBool();
}

QVariant controlProperty(const QString& name) {
    const QDBusMessage reply =
        callApp("org.freedesktop.DBus.Properties", "Get", {"de.tolvarek.zwirl.Control", name});
    return reply.type() == QDBusMessage::ReplyMessage
               ? reply.arguments().value(0).value<QDBusVariant>().variant()
               : QVariant();
}

bool startRun() {
    return action("start").type() == QDBusMessage::ReplyMessage && waitFor(isTracking);
}

bool waitUntilSaved(int timeoutMs) {
    return waitFor([] { return !isExporting(); }, timeoutMs);
}

BusMonitor::BusMonitor(const QStringList& args) {
    m_busctl.start("busctl", QStringList{"--user", "monitor", "--json=short"} + args);
    m_busctl.waitForStarted(5000);
    // busctl prints its first line once it is monitoring.
    waitFor(
        [this] { return m_busctl.bytesAvailable() > 0 || m_busctl.state() != QProcess::Running; },
        5000);
}

BusMonitor::~BusMonitor() {
    m_busctl.terminate();
    m_busctl.waitForFinished(3000);
}

const QList<QJsonObject>& BusMonitor::messages() {
    m_buffer += m_busctl.readAllStandardOutput();
    for (qsizetype end; (end = m_buffer.indexOf('\n')) >= 0; m_buffer.remove(0, end + 1))
        if (const QJsonObject message = QJsonDocument::fromJson(m_buffer.left(end)).object();
            !message.isEmpty())
            m_messages.append(message);
    return m_messages;
}

QList<Notification> NotificationMonitor::notifications() {
    QList<Notification> seen;
    // Which call each answer belongs to: the caller's name and its serial number.
    QHash<QString, qsizetype> calls;
    for (const QJsonObject& message : m_bus.messages()) {
        const QJsonArray data = message["payload"]["data"].toArray();
        const auto text = [&](const char* key) { return message[key].toVariant().toString(); };
        if (text("member") == "Notify") {
            calls.insert(text("sender") + text("cookie"), seen.size());
            QStringList actions;
            for (const QJsonValue& action : data[5].toArray())
                actions << action.toString();
            seen.append({data[2].toString(), uint(data[1].toInteger()), data[3].toString(),
                         data[4].toString(), actions});
        } else if (text("type") == "method_return") {
            const auto call = calls.constFind(text("destination") + text("reply_cookie"));
            if (call != calls.cend())
                seen[*call].id = uint(data[0].toInteger());
        }
    }
    return seen;
}

QStringList NotificationMonitor::bodies() {
    QStringList bodies;
    for (const Notification& notification : notifications())
        bodies << notification.body;
    return bodies;
}

bool NotificationMonitor::waitForBody(const QString& body, int timeoutMs) {
    return waitFor([&] { return bodies().contains(body); }, timeoutMs);
}

OpenRecorder::OpenRecorder() {
    QFile script(m_dir.filePath("xdg-open"));
    if (script.open(QIODevice::WriteOnly))
        script.write(
            QString("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(m_dir.filePath("opened.log")).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString OpenRecorder::pathEntry() const {
    return QString("PATH=%1:%2").arg(m_dir.path(), qEnvironmentVariable("PATH"));
}

QStringList OpenRecorder::opened() const {
    QFile file(m_dir.filePath("opened.log"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
               : QStringList();
}

QStringList filesIn(const QString& folder, const QString& pattern) {
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

QJsonObject probe(const QString& path) {
    return QJsonDocument::fromJson(runTool("ffprobe", {"-v", "error", "-of", "json", "-show_format",
                                                       "-show_streams", path})
                                       .out)
        .object();
}

ColourStripes::ColourStripes(const QStringList& colours, QPoint origin, int stripeWidth, int height)
    : m_colours(colours), m_origin(origin), m_stripeWidth(stripeWidth), m_height(height) {
    QStringList args;
    for (const QString& colour : colours)
        args << "-size" << QString("%1x%2").arg(stripeWidth).arg(height) << "xc:" + colour;
    const QString image = m_dir.filePath("stripes.png");
    if (runTool("convert", args << "+append" << image).exitCode != 0)
        return;
    const QString title = QString("stripes-%1").arg(QCoreApplication::applicationPid());
    m_display.start("display", {"-geometry", QString("+%1+%2").arg(origin.x()).arg(origin.y()),
                                "-title", title, image});
    // Shown once the window is mapped and painted, its first stripe showing its colour. The
    // viewer's first start can take long on a loaded machine.
    m_shown = runTool("xdotool", {"search", "--sync", "--onlyvisible", "--name", title}, 30000)
                      .exitCode == 0 &&
              waitFor([&] { return screenPixel(centreOf(0)) == QColor(colours.first()); }, 30000);
}

ColourStripes::~ColourStripes() {
    m_display.terminate();
    if (!m_display.waitForFinished(3000))
        m_display.kill();
}

QPoint ColourStripes::centreOf(int index) const {
    return m_origin + QPoint(index * m_stripeWidth + m_stripeWidth / 2, m_height / 2);
}

bool ColourStripes::click(int index) const {
    return waitFor([&] { return screenPixel(centreOf(index)) == QColor(m_colours[index]); }) &&
           clickAt(centreOf(index));
}

QColor screenPixel(QPoint point) {
    const QImage pixel = grabScreen(QRect(point, QSize(1, 1)));
    return pixel.isNull() ? QColor() : pixel.pixelColor(0, 0);
}

QImage grabScreen(const QRect& area) {
    const ToolResult shot = runTool(
        "import",
        {"-window", "root", "-crop",
         QString("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
         "png:-"});
    return QImage::fromData(shot.out, "PNG").convertToFormat(QImage::Format_RGB32);
}

bool clickAt(QPoint point, int count) {
    return runTool("xdotool", {"mousemove", QString::number(point.x()), QString::number(point.y()),
                               "click", "--repeat", QString::number(count), "--delay", "20", "1"})
               .exitCode == 0;
}

QList<XWindow> appWindows() {
    static const QRegularExpression line(
        R"re(^(\s*)(0x[0-9a-f]+) (?:\(has no name\)|"(.*)"): \((.*)\)\s+)re"
        R"re((\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)\s*$)re");
    QStringList mapped;
    for (const QByteArray& id :
         runTool("xdotool", {"search", "--onlyvisible", "--classname", "zwirl"}).out.split('\n'))
        if (!id.isEmpty())
            mapped << QString::number(id.toULongLong(), 16);
    const ToolResult tree = runTool("xwininfo", {"-root", "-tree"});
    QList<XWindow> windows;
    int topIndent = -1;
    QString topClass;
    for (const QString& text : QString::fromUtf8(tree.out).split(u'\n')) {
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch())
            continue;
        const int indent = int(m.captured(1).size());
        if (topIndent < 0)
            topIndent = indent;
        if (indent == topIndent)
            topClass = m.captured(4);
        if (mapped.contains(m.captured(2).mid(2)) && m.captured(4).startsWith("\"zwirl\""))
            windows << XWindow{m.captured(2), m.captured(3),
                               QRect(m.captured(7).toInt(), m.captured(8).toInt(),
                                     m.captured(5).toInt(), m.captured(6).toInt()),
                               indent == topIndent,
                               indent != topIndent && topClass.contains("trayer")};
    }
    return windows;
}

std::optional<XWindow> mainWindow() {
    for (const XWindow& w : appWindows())
        if (w.topLevel && w.rect.size() == QSize(300, 400))
            return w;
    return std::nullopt;
}

SinkRecorder::~SinkRecorder() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SinkRecorder::start() {
    m_process.start("parecord", {"--device=zwirl_null.monitor", "--raw", "--format=float32le",
                                 "--channels=1", "--rate=44100", "--latency-msec=20"});
    if (!m_process.waitForStarted(5000))
        return false;
    // The sink renders ahead of the desktop's silent stream at first, then follows the
    // recorder's short latency; samples flow steadily from then on.
    std::size_t received = 0;
    return waitFor([&] { return (received += take().size()) > 44100 / 20; }, 8000);
}

// A recording of a given length: the time is what is measured, not a pause.
std::vector<float> SinkRecorder::recordFor(int ms) {
    take();
    QTest::qWait(ms);
    return take();
}

std::vector<float> SinkRecorder::take() {
    m_pending += m_process.readAllStandardOutput();
    const qsizetype bytes = m_pending.size() / qsizetype(sizeof(float)) * qsizetype(sizeof(float));
    std::vector<float> samples(std::size_t(bytes) / sizeof(float));
    std::copy_n(m_pending.constData(), bytes, reinterpret_cast<char*>(samples.data()));
    m_pending.remove(0, bytes);
    return samples;
}

HeardSound hear(const std::vector<float>& samples, std::size_t minPeriods) {
    HeardSound heard;
    heard.count = samples.size();
    std::vector<double> crossings;
    double sumOfSquares = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = samples[i];
        heard.peak = std::max(heard.peak, std::abs(x));
        sumOfSquares += x * x;
        if (i > 0 && samples[i - 1] < 0 && x >= 0)
            crossings.push_back(double(i - 1) + samples[i - 1] / (samples[i - 1] - x));
    }
    heard.rms = samples.empty() ? 0 : std::sqrt(sumOfSquares / double(samples.size()));
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(crossings[i] - crossings[i - 1]);
    if (!periods.empty() && periods.size() >= minPeriods) {
        std::nth_element(periods.begin(), periods.begin() + qsizetype(periods.size() / 2),
                         periods.end());
        heard.pitch = 44100.0 / periods[periods.size() / 2];
    }
    return heard;
}

QString describe(const HeardSound& heard) {
    return QString("%1 Hz, peak %2, rms %3, %4 samples")
        .arg(heard.pitch)
        .arg(heard.peak)
        .arg(heard.rms)
        .arg(heard.count);
}

QString clickPitchMismatch(const std::vector<int16_t>& pcm, const QList<double>& sums) {
    if (pcm.size() < std::size_t(sums.size()) * 2205)
        return QString("%1 frames for %2 clicks").arg(pcm.size()).arg(sums.size());
    for (qsizetype k = 0; k < sums.size(); ++k) {
        const double want = 50.0 + 1000.0 * sums[k];
        const auto first = pcm.begin() + std::ptrdiff_t(k) * 2205 + 200;
        // A 50 Hz click shows only two periods in its segment.
        const double got = hear(std::vector<float>(first, first + 1800), 1).pitch;
        if (std::abs(got - want) > want * 0.05 + 30)
            return QString("click %1: %2 Hz, want %3").arg(k).arg(got).arg(want);
    }
    return {};
}

QList<QList<double>> samplePattern(int count) {
    QList<QList<double>> samples;
    for (int i = 0; i < count; ++i)
        samples.append({(i % 7) / 7.0, (i % 3) / 3.0, (i % 11) / 11.0});
    return samples;
}

NoAudioOutput::NoAudioOutput() {
    QFile config(m_dir.filePath("asound.conf"));
    if (config.open(QIODevice::WriteOnly))
        config.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
}

bool NoAudioOutput::possible() {
    return QDir("/dev/snd").entryList({"controlC*"}, QDir::System).isEmpty();
}

QStringList NoAudioOutput::environment() const {
    return {"PULSE_SERVER=unix:" + m_dir.filePath("no-server"),
            "ALSA_CONFIG_PATH=" + m_dir.filePath("asound.conf"),
            "JACK_DEFAULT_SERVER=zwirl-no-server"};
}

QString mismatchHeard(SinkRecorder& recorder, double hz) {
    constexpr int windowMs = 600;
    QString heardLast = "nothing";
    const bool matched = waitFor(
        [&] {
            const std::vector<float> samples = recorder.recordFor(windowMs);
            if (samples.size() <= std::size_t(44100 * windowMs / 1000 / 2)) {
                heardLast = "the recorder fell behind";
                return false;
            }
            const HeardSound heard = hear(samples);
            heardLast = describe(heard);
            if (hz == 0)
                return heard.peak < 0.001;
            return std::abs(heard.pitch - hz) < 2.0 && heard.peak > 0.22 && heard.peak < 0.28 &&
                   std::abs(heard.rms - 0.25 / std::sqrt(2.0)) < 0.02;
        },
        10000);
    return matched ? QString() : heardLast;
}

} // namespace testsupport

namespace testsupport {

namespace {
const QString kMutter = "org.gnome.Mutter.";
const QString kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";

QDBusMessage callMutter(const QString& path, const QString& interface, const QString& method,
                        const QVariantList& args = {}) {
    const QString service =
        interface.startsWith(kRemoteDesktop) ? kRemoteDesktop : kMutter + "ScreenCast";
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
}

QString objectPath(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage
               ? qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path()
               : QString();
}
} // namespace

RemotePointer::RemotePointer() {
    m_session =
        objectPath(callMutter("/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession"));
    if (m_session.isEmpty())
        return;
    const QDBusMessage id = callMutter(m_session, "org.freedesktop.DBus.Properties", "Get",
                                       {kRemoteDesktop + ".Session", "SessionId"});
    const QString screenCast = objectPath(callMutter(
        "/org/gnome/Mutter/ScreenCast", kMutter + "ScreenCast", "CreateSession",
        {QVariantMap{{"remote-desktop-session-id",
                      qvariant_cast<QDBusVariant>(id.arguments().value(0)).variant()}}}));
    m_stream = objectPath(callMutter(screenCast, kMutter + "ScreenCast.Session", "RecordMonitor",
                                     {"Meta-0", QVariantMap()}));
    m_ready =
        !m_stream.isEmpty() && callMutter(m_session, kRemoteDesktop + ".Session", "Start").type() ==
                                   QDBusMessage::ReplyMessage;
}

RemotePointer::~RemotePointer() {
    if (!m_session.isEmpty())
        callMutter(m_session, kRemoteDesktop + ".Session", "Stop");
}

bool RemotePointer::moveTo(QPoint point) {
    return callMutter(m_session, kRemoteDesktop + ".Session", "NotifyPointerMotionAbsolute",
                      {m_stream, double(point.x()), double(point.y())})
               .type() == QDBusMessage::ReplyMessage;
}

bool RemotePointer::button(bool pressed) {
    return callMutter(m_session, kRemoteDesktop + ".Session", "NotifyPointerButton",
                      {0x110 /* BTN_LEFT */, pressed})
               .type() == QDBusMessage::ReplyMessage;
}

bool RemotePointer::click(QPoint point, int holdMs) {
    if (!moveTo(point) || !button(true))
        return false;
    // How long a hand holds the button down, and keeps it up before the next press: the click
    // is made of the two events and the times around them.
    QThread::msleep(ulong(holdMs));
    const bool released = button(false);
    QThread::msleep(ulong(holdMs));
    return released;
}

Halves::Halves(const QString& left, const QString& right) {
    m_process.start(QCoreApplication::applicationDirPath() + "/zwirl_colour_window", {left, right});
}

Halves::~Halves() {
    m_process.kill();
    m_process.waitForFinished();
}

bool Halves::becomes(const QByteArray& state, int timeoutMs) {
    return waitFor(
        [&] {
            m_said += m_process.readAllStandardOutput();
            return m_said.trimmed().split('\n').last() == state;
        },
        timeoutMs);
}

bool sameColour(const QVariant& stored, int red, int green, int blue) {
    const QVariantList sample = stored.toList();
    return sample.size() == 3 && qFuzzyCompare(sample[0].toDouble(), red / 255.0) &&
           qFuzzyCompare(sample[1].toDouble(), green / 255.0) &&
           qFuzzyCompare(sample[2].toDouble(), blue / 255.0);
}

} // namespace testsupport
