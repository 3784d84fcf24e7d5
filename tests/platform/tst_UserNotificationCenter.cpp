// Notifications through the test desktop's notification server (dunst), observed with dunstctl.
#include "platform/UserNotificationCenter.h"

#include "support/TestSupport.h"

#include <QtTest>

using namespace testsupport;

namespace {

int displayedCount() {
    return runTool(QStringLiteral("dunstctl"),
                   {QStringLiteral("count"), QStringLiteral("displayed")})
        .out.trimmed()
        .toInt();
}

struct RecordingDelegate : UserNotificationCenterDelegate {
    QList<UserNotification> activated;
    void userNotificationCenterDidActivateNotification(UserNotificationCenter*,
                                                       const UserNotification& note) override {
        activated.append(note);
    }
};

UserNotification note(const QString& text) {
    UserNotification n;
    n.title = QStringLiteral("zwirl");
    n.informativeText = text;
    return n;
}

} // namespace

class TestUserNotificationCenter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    }

    void deliveredNotificationsShowAndAreRemovedFromTheServer() {
        auto* center = UserNotificationCenter::defaultUserNotificationCenter();
        QVERIFY(center->deliverNotification(note(QStringLiteral("first"))));
        QVERIFY(center->deliverNotification(note(QStringLiteral("second & <third>"))));
        QVERIFY(waitFor([] { return displayedCount() == 2; }, 5000));
        const QList<UserNotification> delivered = center->deliveredNotifications();
        QCOMPARE(delivered.size(), 2);
        QVERIFY(delivered[0].identifier != 0 && delivered[0].identifier != delivered[1].identifier);

        center->removeDeliveredNotification(delivered[0]);
        QVERIFY(waitFor([] { return displayedCount() == 1; }, 5000));
        QCOMPARE(center->deliveredNotifications().size(), 1);
        center->removeAllDeliveredNotifications();
        QVERIFY(waitFor([] { return displayedCount() == 0; }, 5000));
        QVERIFY(center->deliveredNotifications().isEmpty());
    }

    void aClickedNotificationReachesTheDelegate() {
        auto* center = UserNotificationCenter::defaultUserNotificationCenter();
        RecordingDelegate delegate;
        center->setDelegate(&delegate);
        QVERIFY(center->deliverNotification(note(QStringLiteral("click me"))));
        QVERIFY(waitFor([] { return displayedCount() == 1; }, 5000));
        const quint32 id = center->deliveredNotifications().constLast().identifier;

        // The server's default action is what a click on the notification does.
        runTool(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")});
        QVERIFY(waitFor([&] { return !delegate.activated.isEmpty(); }, 5000));
        QCOMPARE(delegate.activated.size(), 1);
        QCOMPARE(delegate.activated.first().identifier, id);
        QCOMPARE(delegate.activated.first().informativeText, QStringLiteral("click me"));
        center->setDelegate(nullptr);
        center->removeAllDeliveredNotifications();
    }
};

QTEST_MAIN(TestUserNotificationCenter)
#include "tst_UserNotificationCenter.moc"
