// Custom icons through the file manager's metadata store (gvfs), read back with `gio info`.
// Runs inside the test desktop, whose private session bus starts gvfs's metadata daemon.
#include "services/DROVHelper.h"
#include "services/FileIcon.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <cstring>

using namespace zwirl;

namespace {

const char* const kProbeArgument = "--set-icon-probe";

// The child's part: sets a custom icon on the path and says by its exit code whether that
// worked (0) or not (1).
int runSetIconProbe(const QString& path) {
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    return DROVHelper::setIconForPath(path, image) ? 0 : 1;
}

// The custom-icon value `gio info` reports for the path; empty when there is none.
QString customIconOf(const QString& path) {
    QProcess gio;
    gio.start(QStringLiteral("gio"), {QStringLiteral("info"), QStringLiteral("-a"),
                                      QStringLiteral("metadata::custom-icon"), path});
    if (!gio.waitForFinished(30000) || gio.exitCode() != 0)
        return QStringLiteral("<gio info failed>");
    const QString prefix = QStringLiteral("  metadata::custom-icon: ");
    for (const QString& line : QString::fromUtf8(gio.readAllStandardOutput()).split(u'\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return {};
}

QImage checkerImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.setPixel(x, y, ((x / 8 + y / 8) % 2) ? qRgb(200, 30, 60) : qRgba(0, 0, 0, 0));
    return image;
}

QImage imageAtUri(const QString& uri) {
    const QUrl url(uri);
    return url.isLocalFile() ? QImage(url.toLocalFile()) : QImage();
}

} // namespace

class TestDROVHelperIcon : public QObject {
    Q_OBJECT

    QTemporaryDir m_files{QDir::homePath() + QStringLiteral("/icon-test-XXXXXX")};
    QString m_self;

    QString newFile(const QString& name) const {
        const QString path = m_files.path() + u'/' + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }

    // Runs the probe in a child with the given environment changes and returns its exit code
    // (-1 when it did not finish within 20 s).
    int probeExitCode(const QString& path, const QProcessEnvironment& environment) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(m_self, {QString::fromLatin1(kProbeArgument), path});
        if (!child.waitForFinished(20000)) {
            child.kill();
            child.waitForFinished();
            return -1;
        }
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariableIsSet("ZWIRL_TEST_DESKTOP"),
                 "run inside the test desktop (tests/desktop.sh)");
        QVERIFY(m_files.isValid());
        m_self = QCoreApplication::applicationFilePath();
    }

    void anIconIsSetOnAFileAndReadBack() {
        const QString path = newFile(QStringLiteral("clicks with spaces & ümlauts.m4a"));
        const QImage image = checkerImage(512);
        QVERIFY(DROVHelper::setIconForPath(path, image));

        const QString uri = customIconOf(path);
        QVERIFY2(uri.startsWith(QStringLiteral("file://")), qPrintable(uri));
        QVERIFY2(QUrl(uri).toLocalFile().startsWith(zwirl::FileIcon::iconDirectory() + u'/'),
                 qPrintable(uri));
        const QImage stored = imageAtUri(uri);
        QCOMPARE(stored.convertToFormat(QImage::Format_ARGB32_Premultiplied), image);
    }

    void aFolderTakesTheIconAndANewIconReplacesTheOld() {
        const QString folder = m_files.path() + QStringLiteral("/zwirl");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(DROVHelper::setIconForPath(folder, checkerImage(64)));
        const QString first = customIconOf(folder);
        QVERIFY(!first.isEmpty());

        QImage other(64, 64, QImage::Format_ARGB32_Premultiplied);
        other.fill(Qt::blue);
        QVERIFY(DROVHelper::setIconForPath(folder, other));
        const QString second = customIconOf(folder);
        QVERIFY(second != first);
        QCOMPARE(imageAtUri(second).convertToFormat(QImage::Format_ARGB32_Premultiplied), other);
    }

    void theApplicationIconIsSetWhole() {
        const QString path = newFile(QStringLiteral("plain"));
        QVERIFY(DROVHelper::setIconForPath(path));
        const QImage expected(QStringLiteral(":/images/zwirl.png"));
        QVERIFY(expected.width() >= 128);
        QCOMPARE(imageAtUri(customIconOf(path)).convertToFormat(expected.format()), expected);
    }

    void aNullImageRemovesTheCustomIcon() {
        const QString path = newFile(QStringLiteral("removed"));
        QVERIFY(DROVHelper::setIconForPath(path, checkerImage(32)));
        QVERIFY(!customIconOf(path).isEmpty());
        QVERIFY(DROVHelper::setIconForPath(path, QImage()));
        QCOMPARE(customIconOf(path), QString());
    }

    void aMissingFileGetsNoIcon() {
        QVERIFY(!DROVHelper::setIconForPath(m_files.path() + QStringLiteral("/missing"),
                                            checkerImage(32)));
        QVERIFY(!DROVHelper::setIconForPath(QString(), checkerImage(32)));
    }

    void theProbeWorksWhereTheStoreIs() {
        const QString path = newFile(QStringLiteral("probe-ok"));
        QCOMPARE(probeExitCode(path, QProcessEnvironment::systemEnvironment()), 0);
        QVERIFY(!customIconOf(path).isEmpty());
    }

    // Without the metadata store the answer is false, and quickly.
    void withoutTheMetadataStoreTheAnswerIsNo_data() {
        QTest::addColumn<QString>("setting");
        QTest::addRow("bus address pointing nowhere") << "nowhere";
        QTest::addRow("no session bus at all") << "none";
        QTest::addRow("a bus without gvfs") << "bare";
    }

    void withoutTheMetadataStoreTheAnswerIsNo() {
        QFETCH(QString, setting);
        const QString path = newFile(QStringLiteral("probe-") + setting);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QTemporaryDir runtime;
        QProcess bus;
        if (setting == QLatin1String("nowhere")) {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               QStringLiteral("unix:path=") + runtime.path() +
                                   QStringLiteral("/no-bus-here"));
        } else if (setting == QLatin1String("none")) {
            // No address and no bus socket in the runtime folder; the display stays, so an
            // automatic bus launch would be possible and must not happen.
            environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        } else {
            // A session bus with no services to activate.
            const QString config = runtime.path() + QStringLiteral("/bus.conf");
            QFile file(config);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type>"
                       "<listen>unix:tmpdir=/tmp</listen><policy context=\"default\">"
                       "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                       "<allow own=\"*\"/></policy></busconfig>\n");
            file.close();
            bus.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
            QVERIFY(bus.waitForStarted());
            QVERIFY(bus.waitForReadyRead(10000));
            const QString address = QString::fromUtf8(bus.readLine()).trimmed();
            QVERIFY(!address.isEmpty());
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        }
        const int exitCode = probeExitCode(path, environment);
        if (bus.state() != QProcess::NotRunning) {
            bus.terminate();
            bus.waitForFinished(5000);
        }
        QCOMPARE(exitCode, 1);
        QCOMPARE(customIconOf(path), QString());
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kProbeArgument) == 0) {
        QCoreApplication app(argc, argv);
        return runSetIconProbe(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    TestDROVHelperIcon test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_DROVHelperIcon.moc"
