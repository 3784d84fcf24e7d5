// The installed application's tray icon, tray menu and main window in the test desktop, seen
// from outside as a user sees them: X windows found with xwininfo, pixels read with ImageMagick's
// import, clicks and keys sent with xdotool. A second desktop without a tray host shows that the
// application still comes up without one.
//
// With ZWIRL_SCREENSHOT_DIR set, the window's two pages and the open tray menu are saved there.
#include "support/TestSupport.h"

#include "ui/DROVMainWindowController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>

using namespace testsupport;

namespace {

const QString kAppClass = QStringLiteral("zwirl");
const QSize kMainWindowSize(300, 400);
// A corner of the screen that no window of the test covers, to park the pointer in.
const QPoint kParkingSpot(5, 795);
const int kWait = 20000;

// Colours of the two tray images: the circle is grey while idle, red during a run.
const QColor kIdleCircle(0x9a, 0x9a, 0x9a);
const QColor kActiveCircle(0xff, 0x67, 0x66);

struct XWindow {
    QString id;
    QString name;
    QString wmClass;
    QRect rect; // absolute position on the screen
    bool topLevel = false;
    QString topLevelClass; // the class of the top-level window it is part of
};

// Every window of the display, from `xwininfo -root -tree`.
QList<XWindow> allWindows() {
    static const QRegularExpression line(
        QStringLiteral(R"re(^(\s*)(0x[0-9a-f]+) (?:\(has no name\)|"(.*)"): \((.*)\)\s+)re"
                       R"re((\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)\s*$)re"));
    const ToolResult tree = runTool(QStringLiteral("xwininfo"),
                                    {QStringLiteral("-root"), QStringLiteral("-tree")}, kWait);
    QList<XWindow> windows;
    int topIndent = -1;
    QString currentTopClass;
    for (const QString& text : QString::fromUtf8(tree.out).split(u'\n')) {
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch())
            continue;
        XWindow w;
        w.id = m.captured(2);
        w.name = m.captured(3);
        w.wmClass = m.captured(4);
        w.rect = QRect(m.captured(7).toInt(), m.captured(8).toInt(), m.captured(5).toInt(),
                       m.captured(6).toInt());
        const int indent = int(m.captured(1).size());
        if (topIndent < 0)
            topIndent = indent;
        w.topLevel = indent == topIndent;
        if (w.topLevel)
            currentTopClass = w.wmClass;
        w.topLevelClass = currentTopClass;
        windows << w;
    }
    return windows;
}

struct WindowState {
    bool viewable = false;
    bool overrideRedirect = false;
};

WindowState stateOf(const QString& id) {
    const QString info = QString::fromUtf8(
        runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}, kWait).out);
    return {info.contains(QStringLiteral("Map State: IsViewable")),
            info.contains(QStringLiteral("Override Redirect State: yes"))};
}

bool isOurs(const XWindow& w) {
    return w.wmClass.startsWith(u'"' + kAppClass + u'"');
}

// The tray icon: a window of the application embedded in the tray host's panel.
std::optional<XWindow> trayIcon() {
    for (const XWindow& w : allWindows())
        if (!w.topLevel && isOurs(w) && w.topLevelClass.contains(QStringLiteral("trayer")) &&
            w.rect.width() >= 16 && w.rect.height() >= 16 && stateOf(w.id).viewable)
            return w;
    return std::nullopt;
}

// The main window: a mapped top-level window of the application at the window's size.
std::optional<XWindow> mainWindow() {
    for (const XWindow& w : allWindows()) {
        if (!w.topLevel || !isOurs(w) || w.rect.size() != kMainWindowSize)
            continue;
        const WindowState state = stateOf(w.id);
        if (state.viewable && !state.overrideRedirect)
            return w;
    }
    return std::nullopt;
}

// The open tray menu: a mapped override-redirect window of the application, taller than a
// tooltip.
std::optional<XWindow> trayMenu() {
    for (const XWindow& w : allWindows()) {
        if (!w.topLevel || !isOurs(w) || w.rect.height() < 60 || w.rect.width() < 100)
            continue;
        const WindowState state = stateOf(w.id);
        if (state.viewable && state.overrideRedirect)
            return w;
    }
    return std::nullopt;
}

// What the screen shows in `area`.
QImage grabScreen(const QRect& area) {
    const ToolResult shot =
        runTool(QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                 QStringLiteral("%1x%2+%3+%4")
                     .arg(area.width())
                     .arg(area.height())
                     .arg(area.x())
                     .arg(area.y()),
                 QStringLiteral("png:-")},
                kWait);
    QImage image = QImage::fromData(shot.out, "PNG");
    return image.convertToFormat(QImage::Format_RGB32);
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

// How many pixels lie within a small distance of `colour`.
int pixelsNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - colour.red()) <= 6 &&
                std::abs(qGreen(p) - colour.green()) <= 6 &&
                std::abs(qBlue(p) - colour.blue()) <= 6)
                ++count;
        }
    return count;
}

bool xdotool(const QStringList& args) {
    return runTool(QStringLiteral("xdotool"), args, kWait).exitCode == 0;
}

bool clickAndPark(QPoint point) {
    return xdotool({QStringLiteral("mousemove"), QString::number(point.x()),
                    QString::number(point.y()), QStringLiteral("click"), QStringLiteral("1"),
                    QStringLiteral("mousemove"), QString::number(kParkingSpot.x()),
                    QString::number(kParkingSpot.y())});
}

bool pressKeys(const QStringList& keys) {
    return xdotool(
        QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100")} +
        keys);
}

bool parkPointer() {
    return xdotool({QStringLiteral("mousemove"), QString::number(kParkingSpot.x()),
                    QString::number(kParkingSpot.y())});
}

// Waits until the screen area shows the same picture twice in a row (animations done).
QImage settledImage(const QRect& area) {
    QImage last = grabScreen(area);
    QImage settled;
    waitFor(
        [&] {
            QImage next = grabScreen(area);
            const bool same = !next.isNull() && next == last;
            last = std::move(next);
            if (same)
                settled = last;
            return same;
        },
        kWait);
    return settled;
}

// The main window as its form (the one compiled into the application) lays it out and draws it,
// built in this process into a window that is never put on the screen: where its buttons are,
// and how the start button looks with each of its titles.
class ReferenceWindow {
public:
    ReferenceWindow() {
        m_window = m_controller.window();
        if (!m_controller.buttonStart())
            return;
        m_window->setAttribute(Qt::WA_DontShowOnScreen);
        m_window->show();
        const QRect start = buttonRect(QStringLiteral("buttonStart"));
        for (const QString& title : {QStringLiteral("Start"), QStringLiteral("Stop tracking"),
                                     QStringLiteral("Saving to desktop...")}) {
            m_controller.buttonStart()->setText(title);
            m_titles[title] = m_window->grab(start).toImage().convertToFormat(QImage::Format_RGB32);
        }
        m_controller.checkButtonTitle();
    }

    bool isValid() const { return m_titles.size() == 3; }
    QStringList titles() const { return m_titles.keys(); }
    QImage titleImage(const QString& title) const { return m_titles.value(title); }

    // The button's place in window coordinates; empty when the file has no such button.
    QRect buttonRect(const QString& name) const {
        const QWidget* button = m_window ? m_window->findChild<QWidget*>(name) : nullptr;
        return button ? QRect(button->mapTo(m_window, QPoint()), button->size()) : QRect();
    }

    // The title whose drawing is clearly the nearest to `shot`; empty when none is.
    QString titleShownIn(const QImage& shot) const {
        QList<QPair<double, QString>> ranked;
        for (auto it = m_titles.cbegin(); it != m_titles.cend(); ++it)
            ranked.append({difference(shot, it.value()), it.key()});
        std::sort(ranked.begin(), ranked.end());
        const bool clear = ranked[0].first < 4.0 && ranked[0].first * 3.0 < ranked[1].first;
        return clear ? ranked[0].second : QString();
    }

    // The start button's title as `window` on the screen shows it.
    QString startButtonTitle(const XWindow& window) const {
        return titleShownIn(grabScreen(
            buttonRect(QStringLiteral("buttonStart")).translated(window.rect.topLeft())));
    }

    // The centre of the named button of `window` on the screen.
    QPoint centreOf(const XWindow& window, const QString& name) const {
        return window.rect.topLeft() + buttonRect(name).center();
    }

private:
    zwirl::DROVMainWindowController m_controller;
    QWidget* m_window = nullptr;
    QMap<QString, QImage> m_titles;
};

QRect screenRect() {
    return QGuiApplication::primaryScreen()->geometry();
}

void saveScreenshot(const QImage& image, const QString& name) {
    const QString folder = qEnvironmentVariable("ZWIRL_SCREENSHOT_DIR");
    if (folder.isEmpty() || image.isNull())
        return;
    QDir().mkpath(folder);
    QVERIFY(image.save(folder + u'/' + name));
}

QString listFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files).join(u' ');
}

} // namespace

class TestTrayWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(inTestDesktop(), "run inside tests/desktop.sh");
        QVERIFY2(QFileInfo(installedBinary()).isExecutable(), qPrintable(installedBinary()));
        QVERIFY2(!allWindows().isEmpty(), "xwininfo lists no windows");
        if (!qEnvironmentVariableIsEmpty("ZWIRL_SCREENSHOT_DIR"))
            runTool(QStringLiteral("xsetroot"),
                    {QStringLiteral("-solid"), QStringLiteral("#50565e")});
    }

    void init() { QVERIFY(parkPointer()); }

    void trayIconShowsWhetherARunIsOpen() {
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        std::optional<XWindow> icon;
        QVERIFY2(waitFor([&] { return bool(icon = trayIcon()); }, kWait),
                 "no icon of the application in the tray");
        QCOMPARE(icon->rect.size(), QSize(22, 22));

        // Idle: the grey image, not a trace of the red one.
        QImage idle;
        QVERIFY(waitFor(
            [&] {
                idle = grabScreen(icon->rect);
                return pixelsNear(idle, kIdleCircle) > 100;
            },
            kWait));
        QCOMPARE(pixelsNear(idle, kActiveCircle), 0);

        // During a run the red image, in the same place: the icon stays in the tray even though
        // starting a run hides the application's windows.
        QCOMPARE(AppInstance::action(QStringLiteral("start")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([] { return AppInstance::isTracking(); }, kWait));
        QImage active;
        QVERIFY2(waitFor(
                     [&] {
                         icon = trayIcon();
                         if (!icon)
                             return false;
                         active = grabScreen(icon->rect);
                         return pixelsNear(active, kActiveCircle) > 100;
                     },
                     kWait),
                 "the tray icon did not turn red during the run");
        QCOMPARE(pixelsNear(active, kIdleCircle), 0);
        QVERIFY(difference(idle, active) > 10.0);

        // After the run the idle image comes back, pixel for pixel.
        QCOMPARE(AppInstance::action(QStringLiteral("stop")).type(), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([] { return !AppInstance::isTracking(); }, kWait));
        QVERIFY2(waitFor(
                     [&] {
                         icon = trayIcon();
                         return icon && grabScreen(icon->rect) == idle;
                     },
                     kWait),
                 "the idle tray image did not come back");
        QVERIFY(AppInstance::waitUntilSaved());
        QVERIFY(app.stop(SIGTERM));
    }

    void leftClickOnTheTrayIconOpensTheMenu() {
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        // Launch shows the main window; close it so that the menu's item has to open it.
        QVERIFY(waitFor([] { return bool(mainWindow()); }, kWait));
        AppInstance::action(QStringLiteral("toggle-window"));
        QVERIFY(waitFor([] { return !mainWindow(); }, kWait));

        std::optional<XWindow> icon;
        QVERIFY(waitFor([&] { return bool(icon = trayIcon()); }, kWait));
        QVERIFY(!trayMenu());
        std::optional<XWindow> menu;
        QVERIFY(clickAndPark(icon->rect.center()));
        QVERIFY2(waitFor([&] { return bool(menu = trayMenu()); }, kWait),
                 "a left click on the tray icon opened no menu");
        // The menu opens on the screen right below the icon in the top panel, leaving it in view.
        QVERIFY(screenRect().contains(menu->rect));
        QVERIFY2(!menu->rect.intersects(icon->rect), "the menu covers the tray icon");
        QVERIFY(menu->rect.top() > icon->rect.bottom() &&
                menu->rect.top() - icon->rect.bottom() <= 4);
        QVERIFY(menu->rect.right() >= icon->rect.left());
        const QRect around = menu->rect.united(icon->rect).adjusted(-16, -4, 4, 16) & screenRect();
        saveScreenshot(settledImage(around), QStringLiteral("tray-menu.png"));

        // The first item shows the main window, and the menu goes.
        QVERIFY(pressKeys({QStringLiteral("Down"), QStringLiteral("Return")}));
        QVERIFY2(waitFor([] { return bool(mainWindow()); }, kWait),
                 "the menu's first item did not open the main window");
        QVERIFY(waitFor([] { return !trayMenu(); }, kWait));

        // The last item quits, successfully.
        QVERIFY(waitFor([&] { return bool(icon = trayIcon()); }, kWait));
        QVERIFY(clickAndPark(icon->rect.center()));
        QVERIFY(waitFor([&] { return bool(trayMenu()); }, kWait));
        QVERIFY(pressKeys({QStringLiteral("Up"), QStringLiteral("Return")}));
        QVERIFY2(waitFor([&] { return !app.isRunning(); }, kWait),
                 "the menu's last item did not quit");
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    }

    void toggleWindowOpensAndClosesTheCentredWindow() {
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        QVERIFY(waitFor([] { return bool(mainWindow()); }, kWait));
        for (int round = 0; round < 2; ++round) {
            AppInstance::action(QStringLiteral("toggle-window"));
            QVERIFY2(waitFor([] { return !mainWindow(); }, kWait), "the window did not close");
            AppInstance::action(QStringLiteral("toggle-window"));
            std::optional<XWindow> window;
            QVERIFY2(waitFor([&] { return bool(window = mainWindow()); }, kWait),
                     "the window did not open");
            QVERIFY(qAbs(window->rect.center().x() - screenRect().center().x()) <= 1);
            QVERIFY(qAbs(window->rect.center().y() - screenRect().center().y()) <= 1);
        }
        QVERIFY(app.stop(SIGTERM));
    }

    void windowPagesSwapAndComeBack() {
        const ReferenceWindow reference;
        QVERIFY(reference.isValid());
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        std::optional<XWindow> window;
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }, kWait));
        const QImage menuPage = settledImage(window->rect);
        QVERIFY(!menuPage.isNull());
        // The background: white with the band across the top 190 pixels.
        QCOMPARE(QColor(menuPage.pixel(2, 189)), QColor(255, 103, 102));
        QCOMPARE(QColor(menuPage.pixel(2, 190)), QColor(Qt::white));
        saveScreenshot(menuPage, QStringLiteral("main-window.png"));

        QVERIFY(clickAndPark(reference.centreOf(*window, QStringLiteral("buttonHowTo"))));
        QImage howTo;
        QVERIFY(waitFor(
            [&] {
                howTo = settledImage(window->rect);
                return difference(howTo, menuPage) > 5.0;
            },
            kWait));
        QCOMPARE(QColor(howTo.pixel(2, 189)), QColor(255, 103, 102));
        saveScreenshot(howTo, QStringLiteral("how-to.png"));

        // Back: the menu page as it was.
        QVERIFY(clickAndPark(reference.centreOf(*window, QStringLiteral("buttonBackText"))));
        QVERIFY2(waitFor([&] { return settledImage(window->rect) == menuPage; }, kWait),
                 "the menu page did not come back as it was");
        QVERIFY(app.stop(SIGTERM));
    }

    void startAndStopWithTheWindowsButton() {
        const ReferenceWindow reference;
        QVERIFY(reference.isValid());
        // The titles tell themselves apart, or reading them off the screen proves nothing.
        for (const QString& title : reference.titles())
            QCOMPARE(reference.titleShownIn(reference.titleImage(title)), title);

        ColourStripes stripes({QStringLiteral("#ff0000"), QStringLiteral("#00ff00")},
                              QPoint(60, 560), 60, 120);
        QVERIFY(stripes.isShown());
        TempHome home;
        AppInstance app(home);
        QVERIFY(app.start());
        std::optional<XWindow> window;
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }, kWait));
        QVERIFY(waitFor([&] { return reference.startButtonTitle(*window) == "Start"; }, kWait));

        // Start: the window fades out and goes, and only then the run begins.
        QVERIFY(clickAndPark(reference.centreOf(*window, QStringLiteral("buttonStart"))));
        bool windowGoneWhenTracking = false;
        QVERIFY2(waitFor(
                     [&] {
                         if (!AppInstance::isTracking())
                             return false;
                         windowGoneWhenTracking = !mainWindow();
                         return true;
                     },
                     kWait),
                 "the start button began no run");
        QVERIFY(windowGoneWhenTracking);
        QCOMPARE(AppInstance::sampleCount(), 0u);

        QVERIFY(clickAt(stripes.centreOf(0)));
        QVERIFY(clickAt(stripes.centreOf(1)));
        QVERIFY(waitFor([] { return AppInstance::sampleCount() == 2; }, kWait));

        // Opened during the run, the window offers to stop.
        AppInstance::action(QStringLiteral("toggle-window"));
        QVERIFY(waitFor([&] { return bool(window = mainWindow()); }, kWait));
        QVERIFY(parkPointer());
        QString shown;
        QVERIFY2(
            waitFor(
                [&] { return (shown = reference.startButtonTitle(*window)) == "Stop tracking"; },
                kWait),
            qPrintable(QStringLiteral("the button reads \"%1\"").arg(shown)));

        // Stop: the run ends at once, "Saving to desktop..." shows for a second, then "Start".
        QElapsedTimer sinceClick;
        sinceClick.start();
        QVERIFY(clickAndPark(reference.centreOf(*window, QStringLiteral("buttonStart"))));
        QVERIFY(waitFor([] { return !AppInstance::isTracking(); }, kWait));
        bool sawSaving = false;
        QVERIFY2(waitFor(
                     [&] {
                         shown = reference.startButtonTitle(*window);
                         sawSaving = sawSaving || shown == "Saving to desktop...";
                         return shown == "Start";
                     },
                     kWait),
                 qPrintable(QStringLiteral("the button reads \"%1\"").arg(shown)));
        const qint64 savingShownMs = sinceClick.elapsed();
        QVERIFY(sawSaving);
        QVERIFY2(savingShownMs >= 900, qPrintable(QString::number(savingShownMs)));
        QVERIFY(mainWindow());

        // The run was saved.
        QVERIFY(AppInstance::waitUntilSaved());
        const auto saved = [&] {
            return filesIn(home.outputFolder(), QStringLiteral("zwirl_*.m4a")).size() == 1 &&
                   filesIn(home.outputFolder(), QStringLiteral("zwirl_*.png")).size() == 1;
        };
        QVERIFY2(waitFor(saved, kWait), qPrintable(listFiles(home.outputFolder())));
        QCOMPARE(AppInstance::sampleCount(), 0u);
        QVERIFY(app.stop(SIGTERM));
    }

    // A desktop of its own, without a tray host: the window still shows at launch, and the
    // control interface answers.
    void withoutATrayHostTheWindowStillShows() {
        QTemporaryDir dir;
        const QString script = dir.filePath(QStringLiteral("no-tray.sh"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"sh(
"$ZWIRL_INSTALLED_BINARY" >"$HOME/app.log" 2>&1 &
app=$!
answer=
for _ in $(seq 400); do
  answer=$(busctl --user call de.tolvarek.zwirl /de/tolvarek/zwirl de.tolvarek.zwirl.Control IsTracking 2>/dev/null) && break
  sleep 0.05
done
echo "answer: $answer"
size=
for _ in $(seq 400); do
  for id in $(xdotool search --onlyvisible --classname zwirl 2>/dev/null); do
    s=$(xwininfo -id "$id" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    [ "$s" = 300x400 ] && size=$s
  done
  [ -n "$size" ] && break
  sleep 0.05
done
echo "window: $size"
trays=$(xdotool search --class trayer 2>/dev/null | wc -l)
echo "trays: $trays"
kill -TERM $app
wait $app
echo "exit: $?"
)sh");
        file.close();
        const QString desktop =
            qEnvironmentVariable("ZWIRL_SOURCE_DIR") + QStringLiteral("/tests/desktop.sh");
        const ToolResult run = runTool(desktop,
                                       {QStringLiteral("--no-tray"), QStringLiteral("--no-audio"),
                                        QStringLiteral("--"), QStringLiteral("bash"), script},
                                       120000);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(run.exitCode == 0, qPrintable(out + QString::fromUtf8(run.err)));
        QVERIFY2(out.contains(QStringLiteral("answer: b false")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("window: 300x400")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("trays: 0")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("exit: 0")), qPrintable(out));
    }
};

QTEST_MAIN(TestTrayWindow)
#include "tst_tray_window.moc"
