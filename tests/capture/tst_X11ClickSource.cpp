// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 click source against real clicks (xdotool) in the test desktop: which presses it
// reports, with which position and colour, and which it drops.
#include "capture/x11/X11ClickSource.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtTest>

using namespace zwirl;
using namespace testsupport;

namespace {

// The clicks a source reports, in order.
struct ClickLog {
    struct Click {
        QPoint position;
        std::optional<ClickSample> colour;
    };
    std::vector<Click> clicks;
    QObject context;

    explicit ClickLog(ClickSource& source) {
        QObject::connect(&source, &ClickSource::clicked, &context,
                         [this](QPoint position, std::optional<ClickSample> colour) {
                             clicks.push_back({position, colour});
                         });
    }
    bool waitForClicks(std::size_t count) {
        return waitFor([&] { return clicks.size() >= count; }, 5000);
    }
};

ClickSample rgb(int red, int green, int blue) {
    return {red / 255.0, green / 255.0, blue / 255.0};
}

} // namespace

class TestX11ClickSource : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        m_stripes = std::make_unique<ColourStripes>(QStringList{"#ff6766", "#2040fe"},
                                                    QPoint(100, 100), 100, 150);
        QVERIFY(m_stripes->isShown());
        QVERIFY(m_source.start());
    }

    void reportsLeftPressesOnOtherWindowsWithTheirPixel() {
        ClickLog log(m_source);
        QVERIFY(clickAt(m_stripes->centreOf(0)));
        // Another button is not a click; a double click is two.
        QCOMPARE(runTool(QStringLiteral("xdotool"), {"click", "3"}).exitCode, 0);
        const QPoint blue = m_stripes->centreOf(1) + QPoint(3, 7);
        QVERIFY(clickAt(blue, 2));
        QVERIFY(log.waitForClicks(3));
        QCOMPARE(log.clicks.size(), std::size_t(3));
        QCOMPARE(log.clicks[0].position, m_stripes->centreOf(0));
        QCOMPARE(log.clicks[0].colour, rgb(0xff, 0x67, 0x66));
        for (int i : {1, 2}) {
            QCOMPARE(log.clicks[i].position, blue);
            QCOMPARE(log.clicks[i].colour, rgb(0x20, 0x40, 0xfe));
        }
        QCOMPARE(m_source.colourAt(blue), rgb(0x20, 0x40, 0xfe));
    }

    // Each press on a window of ours is dropped; the press on another window that follows
    // them is the first one reported.
    void dropsPressesOnItsOwnWindowsMenusAndTrayIcon() {
        ClickLog log(m_source);
        // The press that closes an open menu goes to the menu, wherever it is.
        QMenu menu;
        int triggered = 0;
        menu.addAction(QStringLiteral("First"), [&] { ++triggered; });
        menu.popup(QPoint(700, 150));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QVERIFY(clickAt(m_stripes->centreOf(0)));
        QVERIFY(waitFor([&] { return !menu.isVisible(); }, 3000));
        menu.popup(QPoint(700, 150));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QVERIFY(clickAt(menu.mapToGlobal(menu.actionGeometry(menu.actions().first()).center())));
        QVERIFY(waitFor([&] { return triggered == 1; }, 3000));

        // The tray host has taken the tray icon's window into its own.
        QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(), "the test desktop runs a tray");
        QPixmap pixmap(22, 22);
        pixmap.fill(Qt::magenta);
        QSystemTrayIcon tray{QIcon(pixmap)};
        int activations = 0;
        connect(&tray, &QSystemTrayIcon::activated, this, [&] { ++activations; });
        tray.show();
        QWidget* icon = nullptr;
        QVERIFY(waitFor(
            [&] {
                const auto shown = QApplication::topLevelWidgets();
                auto found = std::find_if(shown.begin(), shown.end(), [](QWidget* widget) {
                    return widget->inherits("QSystemTrayIconSys");
                });
                icon = found == shown.end() ? nullptr : *found;
                return icon != nullptr;
            },
            5000));
        QVERIFY(QTest::qWaitForWindowExposed(icon));
        QVERIFY(clickAt(tray.geometry().center()));
        QVERIFY(waitFor([&] { return activations == 1; }, 3000));

        // Last, as Qt takes the presses on it only once this test serves its events again.
        QWidget window;
        window.setGeometry(600, 300, 200, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(clickAt(QPoint(700, 360), 2));

        QVERIFY(clickAt(m_stripes->centreOf(1)));
        QVERIFY(log.waitForClicks(1));
        QCOMPARE(log.clicks.size(), std::size_t(1));
        QCOMPARE(log.clicks[0].position, m_stripes->centreOf(1));
    }

    // A press already read when the source stops is not reported either.
    void reportsNothingAfterStop() {
        X11ClickSource witness;
        QVERIFY(witness.start());
        ClickLog witnessed(witness);
        ClickLog log(m_source);
        QVERIFY(clickAt(m_stripes->centreOf(0)));
        m_source.stop();
        QVERIFY(clickAt(m_stripes->centreOf(1)));
        QVERIFY(witnessed.waitForClicks(2));
        QCoreApplication::processEvents();
        QVERIFY(log.clicks.empty());

        QVERIFY(m_source.start());
        QVERIFY(clickAt(m_stripes->centreOf(1)));
        QVERIFY(log.waitForClicks(1));
        QCOMPARE(log.clicks[0].position, m_stripes->centreOf(1));
    }

    // A point on no screen has no colour, also without an X server, where nothing starts.
    void aPointOnNoScreenHasNoColour() {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        for (const QPoint outside : {QPoint(-1, 10), QPoint(screen.right() + 1, 10)}) {
            QTest::ignoreMessage(QtDebugMsg, "Oops.");
            QVERIFY(!m_source.colourAt(outside));
        }
        QVERIFY(m_source.colourAt(screen.bottomRight()));

        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":4711");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Cannot connect to the X server"));
        X11ClickSource orphan;
        qputenv("DISPLAY", display);
        QVERIFY(!orphan.start());
        QTest::ignoreMessage(QtDebugMsg, "Oops.");
        QVERIFY(!orphan.colourAt({10, 10}));
    }

private:
    std::unique_ptr<ColourStripes> m_stripes;
    X11ClickSource m_source;
};

QTEST_MAIN(TestX11ClickSource)
#include "tst_X11ClickSource.moc"
