// SPDX-License-Identifier: GPL-3.0-or-later
// Custom icons through the file manager's metadata store (gvfs), read back with `gio info`.
// Runs inside the test desktop, whose private session bus starts gvfs's metadata daemon.
#include "services/DROVHelper.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <cstring>

using namespace zwirl;
using namespace testsupport;

namespace {

const char* const kProbeArgument = "--set-icon-probe";

// The custom-icon value `gio info` reports for the path; empty when there is none.
QString customIconOf(const QString& path) {
    const ToolResult gio =
        runTool(QStringLiteral("gio"), {"info", "-a", "metadata::custom-icon", path});
    if (gio.exitCode != 0)
        return QStringLiteral("<gio info failed>");
    const QString prefix = QStringLiteral("  metadata::custom-icon: ");
    for (const QString& line : QString::fromUtf8(gio.out).split(u'\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return {};
}

QImage iconOf(const QString& path) {
    const QUrl url(customIconOf(path));
    return url.isLocalFile()
               ? QImage(url.toLocalFile()).convertToFormat(QImage::Format_ARGB32_Premultiplied)
               : QImage();
}

QImage solidImage(int side, QColor colour) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

} // namespace

class TestDROVHelperIcon : public QObject {
    Q_OBJECT

    QTemporaryDir m_files{QDir::homePath() + QStringLiteral("/icon-test-XXXXXX")};

    QString newFile(const QString& name) const {
        const QString path = m_files.path() + u'/' + name;
        if (QFile file(path); !file.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY(m_files.isValid());
    }

    void iconsAreSetReplacedAndRemoved() {
        // Half transparent, so that a lost alpha channel shows.
        QImage checker(512, 512, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x)
                checker.setPixel(x, y, (x / 8 + y / 8) % 2 ? qRgb(200, 30, 60) : 0u);
        const QString file = newFile(QStringLiteral("clicks with spaces & ümlauts.m4a"));
        QVERIFY(DROVHelper::setIconForPath(file, checker));
        const QString uri = customIconOf(file);
        const QString icons =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/zwirl/icons/";
        QVERIFY2(QUrl(uri).toLocalFile().startsWith(icons), qPrintable(uri));
        QCOMPARE(iconOf(file), checker);

        const QString folder = m_files.path() + QStringLiteral("/zwirl");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(DROVHelper::setIconForPath(folder, checker));
        QVERIFY(DROVHelper::setIconForPath(folder, solidImage(64, Qt::blue)));
        QCOMPARE(iconOf(folder), solidImage(64, Qt::blue));
        QVERIFY(DROVHelper::setIconForPath(folder, QImage()));
        QCOMPARE(customIconOf(folder), QString());

        // The application's icon, whole.
        QVERIFY(DROVHelper::setIconForPath(file));
        const QImage expected(QStringLiteral(":/images/zwirl.png"));
        QVERIFY(expected.width() >= 128);
        QCOMPARE(iconOf(file), expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));

        QVERIFY(!DROVHelper::setIconForPath(m_files.path() + QStringLiteral("/missing"), checker));
        QVERIFY(!DROVHelper::setIconForPath(QString(), checker));
    }

    // Without the metadata store the answer is false, and quickly (a child process, so that
    // the bus it sees can be chosen).
    void withoutTheMetadataStoreTheAnswerIsNo_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("exitCode");
        QTest::addRow("the test desktop's bus") << "desktop" << 0;
        QTest::addRow("bus address pointing nowhere") << "nowhere" << 1;
        QTest::addRow("no session bus at all") << "none" << 1;
        QTest::addRow("a bus without gvfs") << "bare" << 1;
    }

    void withoutTheMetadataStoreTheAnswerIsNo() {
        QFETCH(QString, setting);
        QFETCH(int, exitCode);
        const QString path = newFile(QStringLiteral("probe-") + setting);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QTemporaryDir runtime;
        QProcess bus;
        if (setting == QLatin1String("nowhere")) {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               QStringLiteral("unix:path=%1/no-bus-here").arg(runtime.path()));
        } else if (setting == QLatin1String("none")) {
            // No address and no bus socket; the display stays, so an automatic bus launch would
            // be possible and must not happen.
            environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        } else if (setting == QLatin1String("bare")) {
            const QString config = runtime.path() + QStringLiteral("/bus.conf");
            QFile file(config);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                       "<policy context=\"default\"><allow send_destination=\"*\"/>"
                       "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
            file.close();
            bus.start(QStringLiteral("dbus-daemon"),
                      {"--config-file=" + config, "--nofork", "--print-address"});
            QVERIFY(bus.waitForReadyRead(10000));
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               QString::fromUtf8(bus.readLine()).trimmed());
        }
        const ToolResult probe =
            runTool(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(kProbeArgument), path}, 20000, environment);
        bus.terminate();
        bus.waitForFinished(5000);
        QCOMPARE(probe.exitCode, exitCode);
        QCOMPARE(customIconOf(path).isEmpty(), exitCode != 0);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], kProbeArgument) == 0)
        return DROVHelper::setIconForPath(QString::fromLocal8Bit(argv[2]), solidImage(16, Qt::red))
                   ? 0
                   : 1;
    TestDROVHelperIcon test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_DROVHelperIcon.moc"
