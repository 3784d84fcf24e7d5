// SPDX-License-Identifier: GPL-3.0-or-later
// Notifications through the test desktop's notification server (dunst), observed with dunstctl.
#include "services/DROVHelper.h"
#include "services/Notifications.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstring>

using namespace zwirl;
using namespace testsupport;

namespace {

const char* const kOwnServerArgument = "--own-server";

bool displayedBecomes(int count) {
    return waitFor(
        [count] {
            return runTool("dunstctl", {"count", "displayed"}).out.trimmed().toInt() == count;
        },
        5000);
}

// How many ids of delivered notifications are kept for later processes.
int keptIds() {
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/zwirl/notifications"));
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

std::atomic<bool> g_notifyReturned{false};

// A notification server on a thread of its own that notes whether it was called while the
// notifying call had not returned yet.
class Server : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::atomic<bool> calledDuringNotify{false};
    QString summary, body;
    QVariantMap hints;
public Q_SLOTS:
    QStringList GetCapabilities() {
        calledDuringNotify = calledDuringNotify || !g_notifyReturned;
        return {QStringLiteral("body")};
    }
    uint Notify(const QString&, uint, const QString&, const QString& summary_, const QString& body_,
                const QStringList&, const QVariantMap& hints_, int) {
        calledDuringNotify = calledDuringNotify || !g_notifyReturned;
        summary = summary_;
        body = body_;
        hints = hints_;
        return 7;
    }
};

// The child's part: notifies while owning the server's name on a bus of its own; succeeds when
// the server was asked only after the call returned, and the notification arrived whole.
int notifyOwnServer() {
    QThread serverThread;
    Server notifications;
    notifications.moveToThread(&serverThread);
    serverThread.start();
    QDBusConnection server =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    if (!server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                               QDBusConnection::ExportAllSlots) ||
        !server.registerService(QStringLiteral("org.freedesktop.Notifications")))
        return 2;
    DROVHelper::notify(QStringLiteral("a & b"));
    g_notifyReturned = true;
    const bool kept = waitFor([] { return keptIds() == 1; }, 10000);
    serverThread.quit();
    serverThread.wait();
    return kept && !notifications.calledDuringNotify && notifications.summary == u"zwirl" &&
                   notifications.body == u"a & b" &&
                   notifications.hints.value(QStringLiteral("suppress-sound")).toBool()
               ? 0
               : 1;
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh"); }

    void init() {
        runTool(QStringLiteral("dunstctl"), {"close-all"});
        QVERIFY(displayedBecomes(0));
    }

    // Shown from any thread; a click is reported and takes that one down; the rest go together.
    void notificationsShowAreClickedAndAreTakenDown() {
        Notifications notifications;
        QSignalSpy activated(&notifications, &Notifications::activated);
        DROVHelper::notify(QStringLiteral("first & <second>"));
        QThread* worker = QThread::create([] { DROVHelper::notify(QString()); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QVERIFY(displayedBecomes(2));
        QVERIFY(waitFor([] { return keptIds() == 2; }, 5000));
        // The server's default action is what a click on the notification does.
        runTool(QStringLiteral("dunstctl"), {"action", "0"});
        QVERIFY(activated.wait(5000));
        QCOMPARE(activated.size(), 1);
        Notifications::remove(activated.first().first().toUInt());
        QVERIFY(displayedBecomes(1));
        Notifications::removeAllDelivered();
        QVERIFY(displayedBecomes(0));
        QCOMPARE(keptIds(), 0);
        const QString shown = QString::fromUtf8(runTool("dunstctl", {"history"}).out);
        // dunst reads markup: the text goes escaped, so that it shows as it was given.
        QVERIFY2(shown.contains(QStringLiteral("\"first &amp; &lt;second&gt;\"")),
                 qPrintable(shown));
    }

    // The notifying thread never waits for the server (it used to, for up to 2 s): a child
    // process owns the server's name on a bus of its own.
    void notifyingNeverWaitsForTheServer() {
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        QVERIFY(bus.waitForReadyRead(10000));
        QTemporaryDir runtime;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QString::fromUtf8(bus.readLine()).trimmed());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        const ToolResult child = runTool(QCoreApplication::applicationFilePath(),
                                         {kOwnServerArgument}, 20000, environment);
        bus.terminate();
        bus.waitForFinished(5000);
        QCOMPARE(child.exitCode, 0);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], kOwnServerArgument) == 0)
        return notifyOwnServer();
    TestNotifications test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Notifications.moc"
