// SPDX-License-Identifier: GPL-3.0-or-later
// The installed application's tray icon, tray menu and main window in the test desktop, seen
// from outside as a user sees them: X windows found with xwininfo, pixels read with ImageMagick's
// import, clicks and keys sent with xdotool. A second desktop without a tray host shows that the
// application still comes up without one.
#include "support/TestSupport.h"

#include "ui/DROVMainWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScreen>
#include <QToolTip>
#include <QtTest>

#include <csignal>
#include <cstring>

using namespace testsupport;

namespace {

// Colours of the two tray images: the circle is grey while idle, red during a run.
const QColor kIdleCircle(0x9a, 0x9a, 0x9a);
const QColor kActiveCircle(0xff, 0x67, 0x66);

std::optional<XWindow> trayIcon() {
    for (const XWindow& w : appWindows())
        if (w.inTray && w.rect.width() >= 16 && w.rect.height() >= 16)
            return w;
    return std::nullopt;
}

// The open tray menu: a mapped override-redirect window of the application, taller than a
// tooltip.
std::optional<XWindow> trayMenu() {
    for (const XWindow& w : appWindows())
        if (w.topLevel && w.rect.height() >= 60 && w.rect.width() >= 100 &&
            runTool("xwininfo", {"-id", w.id}).out.contains("Override Redirect State: yes"))
            return w;
    return std::nullopt;
}

// Mean difference per colour channel, 0 (same) to 255; 255 as well for different sizes.
double difference(const QImage& a, const QImage& b) {
    if (a.isNull() || a.size() != b.size())
        return 255.0;
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

// The key of the drawing that is clearly the nearest to `shot`; empty when none is.
QString clearlyNearest(const QImage& shot, const QMap<QString, QImage>& drawings) {
    QList<std::pair<double, QString>> ranked;
    for (auto it = drawings.cbegin(); it != drawings.cend(); ++it)
        ranked.append({difference(shot, it.value()), it.key()});
    std::sort(ranked.begin(), ranked.end());
    const bool clear =
        ranked.size() > 1 && ranked[0].first < 4.0 && ranked[0].first * 3.0 < ranked[1].first;
    return clear ? ranked[0].second : QString();
}

// How many pixels lie within a small distance of `colour`.
int pixelsNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            count += std::abs(p.red() - colour.red()) <= 6 &&
                     std::abs(p.green() - colour.green()) <= 6 &&
                     std::abs(p.blue() - colour.blue()) <= 6;
        }
    return count;
}

// Sends keys or clicks, then parks the pointer in a corner that no window of the test covers.
bool xdotool(const QStringList& args) {
    return runTool("xdotool", QStringList(args) << "mousemove"
                                                << "5"
                                                << "795")
               .exitCode == 0;
}

bool clickAndPark(QPoint point) {
    return xdotool(
        {"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
}

// The tooltip of the tray icon as it shows while the pointer rests on the icon: a mapped
// override-redirect window of the application, lower than a menu.
QImage trayTooltipImage(const XWindow& icon) {
    // Moved onto the icon, not parked: the pointer must rest there.
    const QPoint centre = icon.rect.center();
    if (runTool("xdotool",
                {"mousemove", QString::number(centre.x() + 1), QString::number(centre.y()),
                 "mousemove", QString::number(centre.x()), QString::number(centre.y())})
            .exitCode != 0)
        return {};
    std::optional<XWindow> tip;
    waitFor([&] {
        for (const XWindow& w : appWindows())
            if (w.topLevel && w.rect.height() < 60 && !w.inTray && w.rect.width() > 20 &&
                runTool("xwininfo", {"-id", w.id}).out.contains("Override Redirect State: yes"))
                return bool(tip = w);
        return false;
    });
    return tip ? grabScreen(tip->rect) : QImage();
}

// How this process's Qt draws `text` as a tooltip.
QImage tooltipDrawing(const QString& text) {
    QToolTip::showText(QPoint(0, 0), text);
    QImage drawn;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("qtooltip_label") && widget->isVisible())
            drawn = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QToolTip::hideText();
    return drawn;
}

// Waits until the screen area shows the same picture twice in a row (animations done).
QImage settledImage(const QRect& area) {
    QImage last = grabScreen(area);
    QImage settled;
    waitFor([&] {
        QImage next = grabScreen(area);
        if (!next.isNull() && next == last)
            settled = next;
        last = std::move(next);
        return !settled.isNull();
    });
    return settled;
}

QRect screenRect() {
    return QGuiApplication::primaryScreen()->geometry();
}

bool openTrayMenu(std::optional<XWindow>& menu) {
    std::optional<XWindow> icon;
    return waitFor([&] { return bool(icon = trayIcon()); }) && clickAndPark(icon->rect.center()) &&
           waitFor([&] { return bool(menu = trayMenu()); });
}

// Picks the tray menu's item at `position` (from 1, separators not counted) with the keyboard.
bool chooseFromTrayMenu(int position) {
    std::optional<XWindow> menu;
    QStringList keys{"key", "--delay", "100"};
    for (int i = 0; i < position; ++i)
        keys << "Down";
    return openTrayMenu(menu) && xdotool(keys << "Return") && waitFor([] { return !trayMenu(); });
}

// The tray menu as it shows, opened and closed again.
QImage trayMenuImage() {
    std::optional<XWindow> menu;
    if (!openTrayMenu(menu))
        return {};
    const QImage shown = settledImage(menu->rect);
    return xdotool({"key", "Escape"}) && waitFor([] { return !trayMenu(); }) ? shown : QImage();
}

// The first and the last row in which two pictures of one size differ.
std::pair<int, int> changedRows(const QImage& a, const QImage& b) {
    std::pair rows(-1, -1);
    for (int y = 0; y < a.height() && a.size() == b.size(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), a.bytesPerLine()) != 0)
            rows = {rows.first < 0 ? y : rows.first, y};
    return rows;
}

// The main window as its form (the one compiled into the application) lays it out and draws it,
// built in this process into a window that is never put on the screen: where its buttons are,
// and how the start button looks with each of its titles.
class ReferenceWindow {
public:
    ReferenceWindow() {
        m_window = m_controller.window();
        m_window->setAttribute(Qt::WA_DontShowOnScreen);
        m_window->show();
        const QRect start = buttonRect("buttonStart");
        for (const char* title : {"Start", "Stop tracking", "Saving to desktop..."}) {
            m_controller.buttonStart()->setText(title);
            m_titles[title] = m_window->grab(start).toImage().convertToFormat(QImage::Format_RGB32);
        }
        m_controller.checkButtonTitle();
    }

    // The button's place in window coordinates.
    QRect buttonRect(const QString& name) const {
        const QWidget* button = m_window->findChild<QWidget*>(name);
        return QRect(button->mapTo(m_window, QPoint()), button->size());
    }

    // The title whose drawing is clearly the nearest to `shot`; empty when none is.
    QString titleShownIn(const QImage& shot) const { return clearlyNearest(shot, m_titles); }

    // The start button's title as `window` on the screen shows it.
    QString startButtonTitle(const XWindow& window) const {
        return titleShownIn(
            grabScreen(buttonRect("buttonStart").translated(window.rect.topLeft())));
    }

    // The centre of the named button of `window` on the screen.
    QPoint centreOf(const XWindow& window, const QString& name) const {
        return window.rect.topLeft() + buttonRect(name).center();
    }

    zwirl::DROVMainWindowController m_controller;
    QWidget* m_window = nullptr;
    QMap<QString, QImage> m_titles;
};

} // namespace

class TestTrayWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void init() { QVERIFY(xdotool({})); }

    void trayIconShowsWhetherARunIsOpenAndOpensTheMenu() {
        Session s;
        QVERIFY(s.start());
        std::optional<XWindow> icon;
        QVERIFY2(waitFor([&] { return bool(icon = trayIcon()); }),
                 "no icon of the application in the tray");
        QCOMPARE(icon->rect.size(), QSize(22, 22));

        // Idle: the grey image, not a trace of the red one.
        QImage idle;
        QVERIFY(
            waitFor([&] { return pixelsNear(idle = grabScreen(icon->rect), kIdleCircle) > 100; }));
        QCOMPARE(pixelsNear(idle, kActiveCircle), 0);

        // During a run the red image, in the same place: the icon stays in the tray even though
        // starting a run hides the application's windows.
        QVERIFY(startRun());
        QImage active;
        QVERIFY2(waitFor([&] {
                     return (icon = trayIcon()) &&
                            pixelsNear(active = grabScreen(icon->rect), kActiveCircle) > 100;
                 }),
                 "the tray icon did not turn red during the run");
        QCOMPARE(pixelsNear(active, kIdleCircle), 0);
        QVERIFY(difference(idle, active) > 10.0);

        // Its tooltip tells the clicks of the run: drawn as this text, clearly not as another.
        QVERIFY(clickAt({400, 500}, 3));
        QVERIFY(waitFor([] { return sampleCount() == 3; }));
        QMap<QString, QImage> tooltips;
        for (const QString& text :
             QStringList{"zwirl: tracking, 3 clicks", "zwirl: tracking, 2 clicks",
                         "zwirl: tracking, 8 clicks", "zwirl"})
            tooltips[text] = tooltipDrawing(text);
        QCOMPARE(clearlyNearest(trayTooltipImage(*icon), tooltips), "zwirl: tracking, 3 clicks");
        QVERIFY(xdotool({}));

        // After the run the idle image comes back, pixel for pixel.
        QCOMPARE(action("stop").type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([] { return !isTracking(); }));
        QVERIFY2(waitFor([&] { return (icon = trayIcon()) && grabScreen(icon->rect) == idle; }),
                 "the idle tray image did not come back");
        QVERIFY(waitUntilSaved());

        // A left click opens the menu; the window, gone since the start, is for its item to open.
        QVERIFY(!mainWindow());
        std::optional<XWindow> menu;
        QVERIFY(waitFor([&] { return bool(icon = trayIcon()); }));
        QVERIFY(!trayMenu());
        QVERIFY(clickAndPark(icon->rect.center()));
        QVERIFY2(waitFor([&] { return bool(menu = trayMenu()); }),
                 "a left click on the tray icon opened no menu");
        // The menu opens on the screen right below the icon in the top panel, leaving it in view.
        QVERIFY(screenRect().contains(menu->rect));
        QVERIFY2(!menu->rect.intersects(icon->rect), "the menu covers the tray icon");
        QVERIFY(menu->rect.top() > icon->rect.bottom() &&
                menu->rect.top() - icon->rect.bottom() <= 4);
        QVERIFY(menu->rect.right() >= icon->rect.left());

        // The third item shows the main window, and the menu goes.
        QVERIFY(xdotool({"key", "--delay", "100", "Down", "Down", "Down", "Return"}));
        QVERIFY2(waitFor([] { return bool(mainWindow()); }),
                 "the menu's third item did not open the main window");
        QVERIFY(waitFor([] { return !trayMenu(); }));

        // The last item quits, successfully.
        QVERIFY(openTrayMenu(menu));
        QVERIFY(xdotool({"key", "--delay", "100", "Up", "Return"}));
        QVERIFY2(waitFor([&] { return !s.app.isRunning(); }), "the menu's last item did not quit");
        QCOMPARE(s.app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.app.exitCode(), 0);
    }

    // Open Recordings Folder (2) makes and opens the folder. Start or Stop Tracking (1), Live
    // Tone (4) and Start at Login (5) switch and back; each item shows its state, in its place.
    void trayMenuItemsActAndShowTheirState() {
        Session s;
        QVERIFY(s.start());
        const QString loginEntry = s.home.autostartFolder() + "/de.tolvarek.zwirl.desktop";
        QVERIFY(waitFor([&] { return QFileInfo::exists(loginEntry); }));
        QVERIFY(chooseFromTrayMenu(2));
        QVERIFY(waitFor([&] { return !s.opener.opened().isEmpty(); }));
        QCOMPARE(QUrl(s.opener.opened().first()).toLocalFile(), s.home.outputFolder());
        QVERIFY(QFileInfo(s.home.outputFolder()).isDir());

        const QImage idle = trayMenuImage();
        QVERIFY(!idle.isNull());
        int changedAbove = -1;
        for (const auto& [item, switched] : QList<std::pair<int, std::function<bool()>>>{
                 {1, isTracking},
                 {4, [] { return true; }},
                 {5, [&] { return !QFileInfo::exists(loginEntry); }}}) {
            QVERIFY(chooseFromTrayMenu(item));
            QVERIFY2(waitFor(switched), qPrintable(QString::number(item)));
            const auto [from, to] = changedRows(idle, trayMenuImage());
            QVERIFY2(from > changedAbove, qPrintable(QString("%1: %2").arg(item).arg(from)));
            changedAbove = to;
            QVERIFY(chooseFromTrayMenu(item));
            QVERIFY(waitFor([&] { return trayMenuImage() == idle; }));
        }
        QVERIFY(!isTracking() && QFileInfo::exists(loginEntry));
    }

    // Return presses the button that has the focus, the main button at first; Escape closes the
    // window; asked for again and again, the About box stays one window.
    void keysActInTheWindowAndAboutStaysOne() {
        Session s;
        QVERIFY(s.start());
        std::optional<XWindow> window;
        const QString site = zwirl::DROVMainWindowController::kMakerWebsite;
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }));
        QVERIFY(xdotool({"windowfocus", "--sync", window->id, "key", "Return"}));
        QVERIFY2(waitFor(isTracking), "Return began no run");
        QVERIFY(!mainWindow());
        action("toggle-window");
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }));
        // Two tabs on, the web site's button: Return opens the site and leaves the run alone.
        QVERIFY(xdotool({"windowfocus", "--sync", window->id, "key", "Tab", "Tab", "Return"}));
        QVERIFY(waitFor([&] { return s.opener.opened().contains(site); }));
        QVERIFY(isTracking());
        QVERIFY(xdotool({"windowfocus", "--sync", window->id, "key", "Escape"}));
        QVERIFY2(waitFor([] { return !mainWindow(); }), "Escape did not close the window");
        QVERIFY(isTracking());

        const auto aboutBoxes = [] {
            const QList<XWindow> windows = appWindows();
            return std::count_if(windows.cbegin(), windows.cend(), [](const XWindow& w) {
                return w.topLevel && w.name.startsWith("About");
            });
        };
        for (int i = 0; i < 50; ++i)
            QCOMPARE(action("about").type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return aboutBoxes() > 0; }));
        QCOMPARE(action("about").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(aboutBoxes(), 1);
    }

    // The window: opened and closed centred, its pages, and a run started and stopped with its
    // button.
    void theWindowTogglesSwapsItsPagesAndStartsAndStops() {
        const ReferenceWindow reference;
        // The titles tell themselves apart, or reading them off the screen proves nothing; each
        // fits its button.
        QAbstractButton* button = reference.m_controller.buttonStart();
        for (const QString& title : reference.m_titles.keys()) {
            QCOMPARE(reference.titleShownIn(reference.m_titles[title]), title);
            button->setText(title);
            QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(title));
        }
        ColourStripes stripes({"#ff0000", "#00ff00"}, QPoint(60, 560), 60, 120);
        QVERIFY(stripes.isShown());
        Session s;
        QVERIFY(s.start());
        std::optional<XWindow> window;
        QVERIFY(waitFor([] { return bool(mainWindow()); }));
        for (int round = 0; round < 2; ++round) {
            action("toggle-window");
            QVERIFY2(waitFor([] { return !mainWindow(); }), "the window did not close");
            action("toggle-window");
            QVERIFY2(waitFor([&] { return bool(window = mainWindow()); }),
                     "the window did not open");
            QVERIFY(qAbs(window->rect.center().x() - screenRect().center().x()) <= 1);
            QVERIFY(qAbs(window->rect.center().y() - screenRect().center().y()) <= 1);
        }

        const QImage menuPage = settledImage(window->rect);
        QVERIFY(!menuPage.isNull());
        // The background: white with the band across the top 190 pixels.
        QCOMPARE(menuPage.pixelColor(2, 189), QColor(255, 103, 102));
        QCOMPARE(menuPage.pixelColor(2, 190), QColor(Qt::white));

        QVERIFY(clickAndPark(reference.centreOf(*window, "buttonHowTo")));
        QImage howTo;
        QVERIFY(waitFor(
            [&] { return difference(howTo = settledImage(window->rect), menuPage) > 5.0; }));
        QCOMPARE(howTo.pixelColor(2, 189), QColor(255, 103, 102));

        // Back: the menu page as it was.
        QVERIFY(clickAndPark(reference.centreOf(*window, "buttonBackText")));
        QVERIFY2(waitFor([&] { return settledImage(window->rect) == menuPage; }),
                 "the menu page did not come back as it was");

        QVERIFY(waitFor([&] { return reference.startButtonTitle(*window) == "Start"; }));

        // Start: the window fades out and goes, and only then the run begins.
        QVERIFY(clickAndPark(reference.centreOf(*window, "buttonStart")));
        bool windowGoneWhenTracking = false;
        QVERIFY2(
            waitFor([&] { return isTracking() && (windowGoneWhenTracking = !mainWindow(), true); }),
            "the start button began no run");
        QVERIFY(windowGoneWhenTracking);
        QCOMPARE(sampleCount(), 0u);

        QVERIFY(stripes.click(0));
        QVERIFY(stripes.click(1));
        QVERIFY(waitFor([] { return sampleCount() == 2; }));

        // Opened during the run, the window offers to stop.
        action("toggle-window");
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }));
        QVERIFY(xdotool({}));
        QString shown;
        QVERIFY2(waitFor([&] {
                     return (shown = reference.startButtonTitle(*window)) == "Stop tracking";
                 }),
                 qPrintable("the button reads " + shown));

        // Stop: the run ends at once, "Saving to desktop..." shows for a second, then "Start".
        QElapsedTimer sinceClick;
        sinceClick.start();
        QVERIFY(clickAndPark(reference.centreOf(*window, "buttonStart")));
        QVERIFY(waitFor([] { return !isTracking(); }));
        bool sawSaving = false;
        QVERIFY2(waitFor([&] {
                     shown = reference.startButtonTitle(*window);
                     sawSaving = sawSaving || shown == "Saving to desktop...";
                     return shown == "Start";
                 }),
                 qPrintable("the button reads " + shown));
        QVERIFY(sawSaving);
        QVERIFY2(sinceClick.elapsed() >= 900, qPrintable(QString::number(sinceClick.elapsed())));
        QVERIFY(mainWindow());

        // The run was saved.
        QVERIFY(waitUntilSaved());
        QVERIFY2(waitFor([&] {
                     return filesIn(s.home.outputFolder(), "zwirl_*.m4a").size() == 1 &&
                            filesIn(s.home.outputFolder(), "zwirl_*.png").size() == 1;
                 }),
                 qPrintable(filesIn(s.home.outputFolder()).join(u' ')));
        QCOMPARE(sampleCount(), 0u);
        // The window told of the saving itself: no notification does. Notifications go out in
        // order, so the next start's would follow a "Saved".
        action("start");
        QVERIFY(s.notifications.waitForBody("Started tracking mouse clicks..."));
        QVERIFY(!s.notifications.bodies().contains("Saved your clicks to the desktop..."));
    }

    // A right click opens the menu beside the icon, never under the pointer, so that a second
    // one on the same spot picks no item unseen. The tray sits at the top here and, in a
    // desktop of its own, at the bottom.
    void aSecondRightClickOnTheIconPicksNothing() {
        if (!qEnvironmentVariableIsSet("ZWIRL_TRAY_EDGE")) {
            const ToolResult bottom = runTool(
                qEnvironmentVariable("ZWIRL_SOURCE_DIR") + "/tests/desktop.sh",
                {"--tray-edge", "bottom", "--no-audio", "--", "env", "ZWIRL_TRAY_EDGE=bottom",
                 QCoreApplication::applicationFilePath(), "aSecondRightClickOnTheIconPicksNothing"},
                120000);
            QVERIFY2(bottom.exitCode == 0, bottom.out.constData());
        }
        Session s;
        QVERIFY(s.start());
        std::optional<XWindow> icon, menu;
        QVERIFY(waitFor([&] { return bool(icon = trayIcon()); }));
        const QString x = QString::number(icon->rect.center().x()),
                      y = QString::number(icon->rect.center().y());
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(runTool("xdotool", {"mousemove", x, y, "click", "3"}).exitCode, 0);
            if (i % 2 == 0) {
                QVERIFY(waitFor([&] { return bool(menu = trayMenu()); }));
                QVERIFY2(!menu->rect.intersects(icon->rect), "the menu covers the tray icon");
            } else {
                QVERIFY(waitFor([] { return !trayMenu(); }));
            }
        }
        QVERIFY(!isTracking());
        QVERIFY(!s.notifications.bodies().contains("Started tracking mouse clicks..."));
    }

    // A desktop of its own, without a tray host: the window still shows at launch, and the
    // control interface answers.
    void withoutATrayHostTheWindowStillShows() {
        const ToolResult run =
            runTool(qEnvironmentVariable("ZWIRL_SOURCE_DIR") + "/tests/desktop.sh",
                    {"--no-tray", "--no-audio", "--", "bash", "-c", R"sh(
"$ZWIRL_INSTALLED_BINARY" >/dev/null 2>&1 & app=$!
for _ in $(seq 400); do busctl --user call de.tolvarek.zwirl /de/tolvarek/zwirl de.tolvarek.zwirl.Control IsTracking 2>/dev/null && break; sleep 0.05; done
for _ in $(seq 400); do xdotool search --onlyvisible --classname zwirl getwindowgeometry %@ 2>/dev/null | grep -q 'Geometry: 300x400' && echo "window: 300x400" && break; sleep 0.05; done
echo "trays: $(xdotool search --class trayer | wc -l)"
kill -TERM $app; wait $app; echo "exit: $?"
)sh"},
                    60000);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(run.exitCode == 0, qPrintable(out + QString::fromUtf8(run.err)));
        QVERIFY2(out.contains("b false\nwindow: 300x400\ntrays: 0\nexit: 0"), qPrintable(out));
    }
};

QTEST_MAIN(TestTrayWindow)
#include "tst_tray_window.moc"
