// SPDX-License-Identifier: GPL-3.0-or-later
// The click source chosen for the session at each start, in the test desktop (an X server, no
// GNOME Shell or KWin on the bus): what the user is told on each kind of desktop, and that the
// clicks XWayland would show are recorded.
#include "capture/ClickSource.h"

#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace zwirl;
using namespace testsupport;

class TestSessionClickSource : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachDesktopGetsItsNotice_data() {
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<QByteArray>("desktop");
        QTest::addColumn<QStringList>("notices"); // over two runs
        const QString wayland =
            "This desktop runs Wayland: only clicks in X11 applications can be recorded.";
        QTest::newRow("X11") << QByteArray("x11") << QByteArray("GNOME") << QStringList();
        QTest::newRow("Wayland") << QByteArray("wayland") << QByteArray("sway")
                                 << QStringList{wayland, wayland};
        const QString kwin = "zwirl cannot see your clicks in this Plasma session: KWin runs "
                             "zwirl's effects only when it draws the desktop with OpenGL. Only "
                             "clicks in X11 applications are recorded.";
        QTest::newRow("Plasma without KWin's effects")
            << QByteArray("wayland") << QByteArray("KDE") << QStringList{kwin, kwin};
        QTest::newRow("GNOME without the extension")
            << QByteArray("wayland") << QByteArray("ubuntu:GNOME")
            << QStringList(2, "zwirl's GNOME Shell extension is not installed, so only clicks in "
                              "X11 applications are recorded. Installing zwirl again puts it in "
                              "place.");
    }
    void eachDesktopGetsItsNotice() {
        QFETCH(QByteArray, sessionType);
        QFETCH(QByteArray, desktop);
        QFETCH(QStringList, notices);
        qputenv("XDG_SESSION_TYPE", sessionType);
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        const std::unique_ptr<ClickSource> source = createClickSource();
        QSignalSpy told(source.get(), &ClickSource::notice);
        QSignalSpy offered(source.get(), &ClickSource::setUpOffered);
        QSignalSpy clicked(source.get(), &ClickSource::clicked);
        for (int run = 0; run < 2; ++run) {
            QVERIFY(source->start());
            // A compositor turns a run down only after the start: clicks are recorded once
            // XWayland's source has taken over.
            QVERIFY(waitFor([&] { return !clicked.isEmpty() || !clickAt({300, 300}); }));
            QVERIFY(!clicked.isEmpty());
            source->stop();
            clicked.clear();
        }
        QStringList said;
        for (const QSignalSpy* spy : {&told, &offered})
            for (const QList<QVariant>& notice : *spy)
                said << notice.first().toString();
        QCOMPARE(said, notices);
    }
};

QTEST_MAIN(TestSessionClickSource)
#include "tst_SessionClickSource.moc"
