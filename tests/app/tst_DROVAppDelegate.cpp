// The controller and its parts in process, with a home of their own: what the run store keeps,
// what an export writes and where it opens the folder, the click limit, and quitting while
// exports run.
#include "app/DROVAppDelegate.h"
#include "app/ExportQueue.h"
#include "app/RunStore.h"
#include "capture/fake/FakeClickSource.h"
#include "services/Settings.h"
#include "ui/DROVMainWindowController.h"

#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace zwirl;

namespace {

// The application's parts as main() composes them, over the test's home.
struct App {
    Settings settings;
    RunStore store{settings};
    ExportQueue exports{store};
    FakeClickSource clicks;
    DROVAppDelegate delegate{settings, store, exports, clicks};

    bool waitUntilSaved() {
        return testsupport::waitFor([this] { return !exports.isBusy(); }, 60000);
    }
};

Samples manySamples(int count) {
    Samples samples;
    for (int i = 0; i < count; ++i)
        samples.push_back({(i % 7) / 7.0, (i % 3) / 3.0, (i % 11) / 11.0});
    return samples;
}

} // namespace

// Stands in for the file manager: records where and on which thread a folder was opened.
class FolderOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
    bool onMainThread = true;
    void reset() {
        opened.clear();
        onMainThread = true;
    }
public Q_SLOTS:
    void open(const QUrl& url) {
        opened << url;
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    }
};

class TestDROVAppDelegate : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_home;
    FolderOpener m_opener; // no file manager opens during the tests
    QString folder() const { return ExportQueue::outputFolderPath(); }

private Q_SLOTS:
    void initTestCase() {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            qunsetenv(name);
        QApplication::setApplicationDisplayName(QStringLiteral("zwirl"));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opener, "open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init() {
        m_opener.reset();
        m_home = std::make_unique<QTemporaryDir>();
        qputenv("HOME", m_home->path().toUtf8());
    }

    void settingsKeepOnlyValidValues() {
        const QVariantList stored{
            QVariantList{0.5, 0.25, 1.0},
            QVariantList{QStringLiteral("0.1"), 0.2, 0.3},   // as a settings file gives them back
            QVariantList{0.1, 0.2},                          // too short
            QStringLiteral("red"),                           // not a list
            QVariantList{0.1, QStringLiteral("green"), 0.3}, // not a number
            QVariantList{1.0, 0.0, 0.0, 99.0},               // extra values are ignored
        };
        const std::optional<Samples> valid = Settings::validSamples(stored);
        QVERIFY(valid);
        QCOMPARE(*valid, (Samples{{0.5, 0.25, 1.0}, {0.1, 0.2, 0.3}, {1.0, 0.0, 0.0}}));
        QVERIFY(!Settings::validSamples(QVariantList{QStringLiteral("x"), 3}));
        QVERIFY(!Settings::validSamples(QVariantList{}));

        Settings settings;
        QSettings raw(Settings::defaultFileName(), QSettings::IniFormat);
        raw.setValue(QStringLiteral("de.tolvarek.zwirl.startup-key"), QStringLiteral("maybe"));
        raw.setValue(QStringLiteral("de.tolvarek.zwirl.quit-key-startdate"), 42);
        raw.sync();
        settings.sync();
        QVERIFY(!settings.startAtLogin());
        QVERIFY(!settings.quitStartDate().isValid());
        settings.setStartAtLogin(false);
        QCOMPARE(settings.startAtLogin(), std::optional<bool>(false));
    }

    // The run an earlier version kept under the quit keys comes back; later runs queue behind
    // it, and saving one takes out that one alone.
    void runStoreKeepsRunsInOrder() {
        const QDateTime start(QDate(2026, 12, 6), QTime(7, 20, 0));
        {
            QSettings raw(Settings::defaultFileName(), QSettings::IniFormat);
            raw.setValue(QStringLiteral("de.tolvarek.zwirl.quit-key-samples"),
                         QVariantList{QVariant(QVariantList{0.5, 0.25, 1.0})});
            raw.setValue(QStringLiteral("de.tolvarek.zwirl.quit-key-startdate"), start);
            raw.setValue(QStringLiteral("de.tolvarek.zwirl.quit-key-enddate"), start.addSecs(9));
        }
        Settings settings;
        RunStore store(settings);
        const RecordedRun first{{{0.5, 0.25, 1.0}}, start, start.addSecs(9)};
        const RecordedRun second{{{1, 0, 0}, {0, 1, 0}}, start.addDays(1), start.addDays(2)};
        QCOMPARE(store.runs(), std::vector<RecordedRun>{first});
        store.add(second);
        QCOMPARE(store.runs(), (std::vector<RecordedRun>{first, second}));
        QVERIFY(store.remove(first));
        QVERIFY(!store.remove(first));
        QCOMPARE(store.runs(), std::vector<RecordedRun>{second});
        QCOMPARE(*settings.quitSamples(), second.samples); // now under the quit keys
        QVERIFY(store.remove(second));
        QVERIFY(!settings.hasQuitRun());
    }

    void startFadesTheWindowOutThenTracks() {
        App app;
        DROVAppDelegate& delegate = app.delegate;
        delegate.showWindow();
        QVERIFY(delegate.mainWindowController());
        QPointer<QWidget> window = delegate.mainWindowController()->window();
        QVERIFY(window && window->isVisible());

        delegate.controllerStartAction();
        delegate.controllerStartAction(); // a second press during the fade changes nothing
        QVERIFY(delegate.isStarting());
        QVERIFY(!delegate.isTracking());
        QList<double> opacities;
        QVERIFY(testsupport::waitFor(
            [&] {
                if (window)
                    opacities << window->windowOpacity();
                return delegate.isTracking();
            },
            5000));
        QVERIFY(!delegate.isStarting());
        QVERIFY(!delegate.mainWindowController());
        QVERIFY(!window || !window->isVisible());
        // The window faded: it went down step by step, never back up.
        QVERIFY(std::any_of(opacities.cbegin(), opacities.cend(),
                            [](double o) { return o > 0.0 && o < 1.0; }));
        QVERIFY(std::is_sorted(opacities.crbegin(), opacities.crend()));
        delegate.controllerStopAction();
        QVERIFY(!delegate.isTracking());
    }

    void closingTheWindowDuringTheFadeStillStartsTheRun() {
        App app;
        app.delegate.showWindow();
        app.delegate.controllerStartAction();
        app.delegate.showWindow(); // the window's toggle closes it while it fades
        QVERIFY(!app.delegate.mainWindowController());
        QVERIFY(testsupport::waitFor([&] { return app.delegate.isTracking(); }, 5000));
        app.delegate.controllerStopAction();
    }

    // The 9999th click ends the run inside its own handler, which returns with the alert open;
    // the export tells the user and opens the folder on the main thread.
    void theClickLimitStopsTheRunAndOpensTheFolder() {
        App app;
        app.delegate.startTracking();
        for (int i = 0; i < 9998; ++i)
            app.clicks.click({}, ClickSample{0.2, 0.4, 0.6});
        QVERIFY(app.delegate.isTracking());
        app.clicks.click({}, std::nullopt);
        QVERIFY(!app.delegate.isTracking());
        app.clicks.click({}, ClickSample{1, 1, 1}); // after the run: ignored
        QVERIFY(app.delegate.recordedSamples().empty());

        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(alert);
        QCOMPARE(alert->windowTitle(), QStringLiteral("zwirl"));
        QCOMPARE(alert->text(), QStringLiteral("zwirl"));
        QCOMPARE(alert->informativeText(),
                 QStringLiteral("You've reached 9999 clicks - that's a lot of data and we will "
                                "stop counting now! listen to your clicks (located on the "
                                "desktop)."));
        QCOMPARE(alert->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        alert->accept();

        QVERIFY(app.waitUntilSaved());
        QCOMPARE(m_opener.opened, QList<QUrl>{QUrl::fromLocalFile(folder())});
        QVERIFY(m_opener.onMainThread);
        QCOMPARE(testsupport::filesIn(folder(), QStringLiteral("zwirl_*")).size(), 2);
    }

    void exportsEndingInTheSameSecondKeepTheirOwnFiles() {
        App app;
        const QDateTime end(QDate(2026, 3, 4), QTime(5, 6, 7));
        QStringList names;
        connect(&app.exports, &ExportQueue::exported, this,
                [&](const QString& name, bool saved) { names << (saved ? name : QString()); });
        app.exports.enqueue({{{1, 0, 0}}, end.addSecs(-5), end}, false, false);
        app.exports.enqueue({{{0, 0, 1}, {0, 1, 0}}, end.addSecs(-5), end}, false, false);
        QVERIFY(app.waitUntilSaved());
        QCOMPARE(names, (QStringList{QStringLiteral("zwirl_040326_050607"),
                                     QStringLiteral("zwirl_040326_050607_2")}));
        QCOMPARE(testsupport::filesIn(folder(), QStringLiteral("*")),
                 (QStringList{QStringLiteral("zwirl_040326_050607.m4a"),
                              QStringLiteral("zwirl_040326_050607.png"),
                              QStringLiteral("zwirl_040326_050607_2.m4a"),
                              QStringLiteral("zwirl_040326_050607_2.png")}));
        // Each picture shows its own run: one red square, and a blue and a green one.
        QCOMPARE(QImage(folder() + QStringLiteral("/zwirl_040326_050607.png")).pixelColor(5, 606),
                 QColor(Qt::red));
        QCOMPARE(QImage(folder() + QStringLiteral("/zwirl_040326_050607_2.png")).pixelColor(5, 606),
                 QColor(Qt::blue));
    }

    // A quit while the launch still saves the stored run keeps the new run's clicks.
    void quitDuringTheRestoreKeepsTheNewRun() {
        const QDateTime end(QDate(2026, 1, 2), QTime(10, 5, 0));
        App app;
        app.store.add({manySamples(9999), end.addSecs(-300), end});
        app.delegate.applicationDidFinishLaunching();
        QVERIFY(app.delegate.isExporting());
        app.delegate.startTracking();
        for (int i = 0; i < 3; ++i)
            app.clicks.click({}, ClickSample{0.5, 0.5, 0.5});
        app.delegate.applicationWillTerminate();

        const std::vector<RecordedRun> kept = app.store.runs();
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept[0].samples, Samples(3, ClickSample{0.5, 0.5, 0.5}));
        QCOMPARE(testsupport::filesIn(folder(), QStringLiteral("zwirl_020126_100500.*")).size(), 2);
    }

    // A logout that stores the run and is then cancelled leaves its clicks to the store alone.
    void aCancelledLogoutSavesTheRunOnce() {
        App app;
        app.delegate.startTracking();
        app.clicks.click({}, ClickSample{1, 0, 0});
        app.clicks.click({}, ClickSample{0, 1, 0});
        app.delegate.applicationWillTerminate(); // the session asks to save; no quit follows
        QCOMPARE(app.store.runs().size(), std::size_t(1));
        QVERIFY(app.delegate.recordedSamples().empty());

        app.delegate.startTracking();
        app.clicks.click({}, ClickSample{0, 0, 1});
        QCOMPARE(app.delegate.recordedSamples(), (Samples{ClickSample{0, 0, 1}}));
        app.delegate.controllerStopAction();
        QVERIFY(app.waitUntilSaved());
        QCOMPARE(app.store.runs().size(), std::size_t(1));
    }
};

QTEST_MAIN(TestDROVAppDelegate)
#include "tst_DROVAppDelegate.moc"
