#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QSettings>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>

namespace testsupport {

namespace {
const QString kService = QStringLiteral("de.tolvarek.zwirl");
const QString kPath = QStringLiteral("/de/tolvarek/zwirl");
const QString kControl = QStringLiteral("de.tolvarek.zwirl.Control");
} // namespace

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
           qEnvironmentVariableIsSet("DISPLAY") &&
           qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

QString installedBinary() {
    return qEnvironmentVariable("ZWIRL_INSTALLED_BINARY");
}

TempHome::TempHome() {
    for (const char* sub : {"Desktop", ".config", ".local/share", ".cache"})
        QDir(path()).mkpath(QString::fromLatin1(sub));
    QFile dirs(path() + QStringLiteral("/.config/user-dirs.dirs"));
    if (dirs.open(QIODevice::WriteOnly))
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
}

QVariantList TempHome::storedSamples() const {
    return QSettings(configFile(), QSettings::IniFormat).value(kSamplesKey).toList();
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
    QSettings settings(configFile(), QSettings::IniFormat);
    settings.setValue(kSamplesKey, stored);
    settings.setValue(kStartKey, start);
    settings.setValue(kEndKey, end);
}

QProcessEnvironment TempHome::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path() + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path() + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), path() + QStringLiteral("/.cache"));
    // The tests read what the application logs.
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return env;
}

AppInstance::AppInstance(const TempHome& home, QString binary)
    : m_home(home), m_binary(std::move(binary)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

AppInstance::~AppInstance() {
    if (isRunning())
        stop(SIGKILL, 10000);
}

bool AppInstance::start(int timeoutMs, const QStringList& extraEnv) {
    QProcessEnvironment env = m_home.environment();
    for (const QString& entry : extraEnv)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    m_process.setProcessEnvironment(env);
    m_process.start(m_binary, {});
    if (!m_process.waitForStarted(10000))
        return false;
    return waitFor(
               [this] {
                   output();
                   return !isRunning() || call(kControl, QStringLiteral("IsTracking")).type() ==
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

bool AppInstance::isRunning() const {
    return m_process.state() != QProcess::NotRunning;
}

QByteArray AppInstance::output() {
    m_output += m_process.readAll();
    return m_output;
}

QDBusMessage AppInstance::call(const QString& interface, const QString& method,
                               const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
}

QDBusMessage AppInstance::action(const QString& name) {
    return call(QStringLiteral("org.freedesktop.Application"), QStringLiteral("ActivateAction"),
                {name, QVariant::fromValue(QVariantList()), QVariant::fromValue(QVariantMap())});
}

bool AppInstance::isTracking() {
    return call(kControl, QStringLiteral("IsTracking")).arguments().value(0).toBool();
}

uint AppInstance::sampleCount() {
    return call(kControl, QStringLiteral("SampleCount")).arguments().value(0).toUInt();
}

bool AppInstance::isExporting() {
    return call(kControl, QStringLiteral("IsExporting")).arguments().value(0).toBool();
}

bool AppInstance::waitUntilSaved(int timeoutMs) {
    return waitFor([] { return !isExporting(); }, timeoutMs);
}

NotificationMonitor::NotificationMonitor() {
    m_busctl.start(QStringLiteral("busctl"), {QStringLiteral("--user"), QStringLiteral("monitor"),
                                              QStringLiteral("--json=short"),
                                              QStringLiteral("org.freedesktop.Notifications")});
    m_busctl.waitForStarted(5000);
    // busctl prints its first line once it is monitoring.
    waitFor(
        [this] { return m_busctl.bytesAvailable() > 0 || m_busctl.state() != QProcess::Running; },
        5000);
}

NotificationMonitor::~NotificationMonitor() {
    m_busctl.terminate();
    m_busctl.waitForFinished(3000);
}

QList<QPair<QString, QString>> NotificationMonitor::notifications() {
    m_buffer += m_busctl.readAllStandardOutput();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        const QJsonObject message = QJsonDocument::fromJson(line).object();
        if (message.value(QStringLiteral("member")).toString() != QLatin1String("Notify"))
            continue;
        const QJsonArray data = message.value(QStringLiteral("payload"))
                                    .toObject()
                                    .value(QStringLiteral("data"))
                                    .toArray();
        m_seen.append({data.at(3).toString(), data.at(4).toString()});
    }
    return m_seen;
}

bool NotificationMonitor::waitForBody(const QString& body, int timeoutMs) {
    return waitFor(
        [&] {
            const auto seen = notifications();
            return std::any_of(seen.cbegin(), seen.cend(),
                               [&](const auto& n) { return n.second == body; });
        },
        timeoutMs);
}

QJsonObject probe(const QString& path) {
    const ToolResult result =
        runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-of"),
                 QStringLiteral("json"), QStringLiteral("-show_format"),
                 QStringLiteral("-show_streams"), path});
    return QJsonDocument::fromJson(result.out).object();
}

} // namespace testsupport

namespace testsupport {

ColourStripes::ColourStripes(const QStringList& colours, QPoint origin, int stripeWidth, int height)
    : m_origin(origin), m_stripeWidth(stripeWidth), m_height(height) {
    QStringList args;
    for (const QString& colour : colours)
        args << QStringLiteral("-size") << QStringLiteral("%1x%2").arg(stripeWidth).arg(height)
             << QStringLiteral("xc:%1").arg(colour);
    const QString image = m_dir.path() + QStringLiteral("/stripes.png");
    args << QStringLiteral("+append") << image;
    if (runTool(QStringLiteral("convert"), args).exitCode != 0)
        return;
    const QString title = QStringLiteral("stripes-%1").arg(QCoreApplication::applicationPid());
    m_display.start(QStringLiteral("display"),
                    {QStringLiteral("-geometry"),
                     QStringLiteral("+%1+%2").arg(origin.x()).arg(origin.y()),
                     QStringLiteral("-title"), title, image});
    // Shown once the window is mapped and painted.
    m_shown = runTool(QStringLiteral("xdotool"),
                      {QStringLiteral("search"), QStringLiteral("--sync"),
                       QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title},
                      10000)
                  .exitCode == 0;
    // Mapped is not yet painted: wait until the first stripe shows its colour.
    m_shown = m_shown &&
              waitFor([&] { return screenPixel(centreOf(0)) == QColor(colours.first()); }, 10000);
}

QColor screenPixel(QPoint point) {
    const ToolResult pixel =
        runTool(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                 QStringLiteral("1x1+%1+%2").arg(point.x()).arg(point.y()),
                 QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("txt:-")});
    const QRegularExpressionMatch hex =
        QRegularExpression(QStringLiteral("#[0-9A-Fa-f]{6}")).match(QString::fromUtf8(pixel.out));
    return hex.hasMatch() ? QColor(hex.captured()) : QColor();
}

ColourStripes::~ColourStripes() {
    m_display.terminate();
    if (!m_display.waitForFinished(3000))
        m_display.kill();
}

QPoint ColourStripes::centreOf(int index) const {
    return m_origin + QPoint(index * m_stripeWidth + m_stripeWidth / 2, m_height / 2);
}

bool clickAt(QPoint point, int count) {
    return runTool(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(point.x()),
                    QString::number(point.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
                    QString::number(count), QStringLiteral("--delay"), QStringLiteral("20"),
                    QStringLiteral("1")})
               .exitCode == 0;
}

OpenRecorder::OpenRecorder() {
    QFile script(m_dir.path() + QStringLiteral("/xdg-open"));
    if (script.open(QIODevice::WriteOnly))
        script.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n").arg(log()).toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString OpenRecorder::pathEntry() const {
    return QStringLiteral("PATH=%1:%2").arg(m_dir.path(), qEnvironmentVariable("PATH"));
}

QStringList OpenRecorder::opened() const {
    QFile file(log());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

namespace {

QJsonObject firstStream(const QJsonObject& probed,
                        const std::function<bool(const QJsonObject&)>& wanted) {
    for (const auto& s : probed.value(QStringLiteral("streams")).toArray())
        if (wanted(s.toObject()))
            return s.toObject();
    return {};
}

} // namespace

QJsonObject audioStreamOf(const QJsonObject& probed) {
    return firstStream(probed, [](const QJsonObject& stream) {
        return stream.value(QStringLiteral("codec_type")).toString() == QLatin1String("audio");
    });
}

QJsonObject attachedPictureOf(const QJsonObject& probed) {
    return firstStream(probed, [](const QJsonObject& stream) {
        return stream.value(QStringLiteral("disposition"))
                   .toObject()
                   .value(QStringLiteral("attached_pic"))
                   .toInt() == 1;
    });
}

QStringList filesIn(const QString& folder, const QString& pattern) {
    return QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
}

SinkRecorder::~SinkRecorder() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SinkRecorder::start() {
    m_process.start(QStringLiteral("parecord"),
                    {QStringLiteral("--device=zwirl_null.monitor"), QStringLiteral("--raw"),
                     QStringLiteral("--format=float32le"), QStringLiteral("--channels=1"),
                     QStringLiteral("--rate=44100"), QStringLiteral("--latency-msec=20")});
    if (!m_process.waitForStarted(5000))
        return false;
    // The sink renders ahead of the desktop's silent stream at first, then follows the
    // recorder's short latency; samples flow steadily from then on.
    std::size_t received = 0;
    return waitFor(
        [&] {
            received += take().size();
            return received > 44100 / 20;
        },
        8000);
}

std::vector<float> SinkRecorder::recordFor(int ms) {
    take();
    QTest::qWait(ms);
    return take();
}

std::vector<float> SinkRecorder::take() {
    m_pending += m_process.readAllStandardOutput();
    const qsizetype whole = m_pending.size() / qsizetype(sizeof(float));
    std::vector<float> samples(static_cast<std::size_t>(whole));
    std::memcpy(samples.data(), m_pending.constData(), std::size_t(whole) * sizeof(float));
    m_pending.remove(0, whole * qsizetype(sizeof(float)));
    return samples;
}

HeardSound hear(const std::vector<float>& samples) {
    HeardSound heard;
    heard.count = samples.size();
    std::vector<double> crossings;
    double sumOfSquares = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double x = samples[i];
        heard.peak = std::max(heard.peak, std::abs(x));
        sumOfSquares += x * x;
        if (i > 0 && samples[i - 1] < 0 && samples[i] >= 0) {
            const double a = samples[i - 1];
            crossings.push_back(double(i - 1) + a / (a - x));
        }
    }
    heard.rms = samples.empty() ? 0 : std::sqrt(sumOfSquares / double(samples.size()));
    std::vector<double> periods;
    for (std::size_t i = 1; i < crossings.size(); ++i)
        periods.push_back(crossings[i] - crossings[i - 1]);
    if (periods.size() >= 10) {
        std::nth_element(periods.begin(), periods.begin() + qsizetype(periods.size() / 2),
                         periods.end());
        heard.pitch = 44100.0 / periods[periods.size() / 2];
    }
    return heard;
}

QString describe(const HeardSound& heard) {
    return QStringLiteral("%1 Hz, peak %2, rms %3, %4 samples")
        .arg(heard.pitch)
        .arg(heard.peak)
        .arg(heard.rms)
        .arg(heard.count);
}

QStringList visibleWindowsNamed(const QString& name) {
    const ToolResult found = runTool(
        QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
         QStringLiteral("^%1$").arg(QRegularExpression::escape(name))});
    return QString::fromUtf8(found.out).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace testsupport
