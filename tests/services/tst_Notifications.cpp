// Notifications through the test desktop's notification server (dunst), observed with dunstctl.
#include "services/DROVHelper.h"
#include "services/Notifications.h"

#include "support/TestSupport.h"

#include <QThread>
#include <QtTest>

#include <cstring>

using namespace testsupport;
using zwirl::Notifications;

namespace {

const char* const kDeliverArgument = "--deliver";

int displayedCount() {
    return runTool(QStringLiteral("dunstctl"),
                   {QStringLiteral("count"), QStringLiteral("displayed")})
        .out.trimmed()
        .toInt();
}

bool displayedBecomes(int count) {
    return waitFor([count] { return displayedCount() == count; }, 5000);
}

// How many ids of delivered notifications are kept for later processes.
int keptIds() {
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/zwirl/notifications"));
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh"); }

    void init() {
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        QVERIFY(displayedBecomes(0));
    }

    void notificationsFromAnyThreadShowAndAreTakenDown() {
        DROVHelper::notify(QStringLiteral("first & <second>"));
        QThread* worker = QThread::create([] { DROVHelper::notify(QString()); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QVERIFY(displayedBecomes(2));
        QVERIFY(waitFor([] { return keptIds() == 2; }, 5000));
        Notifications::removeAllDelivered();
        QVERIFY(displayedBecomes(0));
        QCOMPARE(keptIds(), 0);
        const QString shown =
            QString::fromUtf8(runTool(QStringLiteral("dunstctl"), {QStringLiteral("history")}).out);
        // dunst reads markup: the text goes escaped, so that it shows as it was given.
        QVERIFY2(shown.contains(QStringLiteral("\"first &amp; &lt;second&gt;\"")),
                 qPrintable(shown));
    }

    // A later process takes down what an earlier one delivered.
    void anotherProcessesNotificationsAreTakenDown() {
        QProcess earlier;
        earlier.start(QCoreApplication::applicationFilePath(),
                      {QString::fromLatin1(kDeliverArgument)});
        QVERIFY(earlier.waitForFinished(10000));
        QCOMPARE(earlier.exitCode(), 0);
        QVERIFY(displayedBecomes(1));
        Notifications::removeAllDelivered();
        QVERIFY(displayedBecomes(0));
    }

    void aClickIsReported() {
        Notifications notifications;
        QSignalSpy activated(&notifications, &Notifications::activated);
        DROVHelper::notify(QStringLiteral("click me"));
        QVERIFY(displayedBecomes(1));
        QVERIFY(waitFor([] { return keptIds() == 1; }, 5000));
        // The server's default action is what a click on the notification does.
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")});
        QVERIFY(activated.wait(5000));
        QCOMPARE(activated.size(), 1);
        Notifications::remove(activated.first().first().toUInt());
        QVERIFY(displayedBecomes(0));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], kDeliverArgument) == 0) {
        Notifications::deliver(QStringLiteral("from an earlier process"));
        // Done once the server has answered and the id is kept.
        return waitFor([] { return keptIds() == 1; }, 5000) ? 0 : 1;
    }
    TestNotifications test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Notifications.moc"
