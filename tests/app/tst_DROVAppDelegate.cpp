// SPDX-License-Identifier: GPL-3.0-or-later
// The controller and its parts in process, with a home of their own: what the run store keeps,
// what an export writes and where it opens the folder, the click limit, and quitting while
// exports run.
#include "app/DROVAppDelegate.h"
#include "app/ExportQueue.h"
#include "app/RunJournal.h"
#include "app/RunStore.h"
#include "capture/fake/FakeClickSource.h"
#include "media/Media.h"
#include "services/Settings.h"
#include "ui/DROVDebugWindowController.h"
#include "ui/DROVMainWindowController.h"

#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QtTest>

using namespace zwirl;
using testsupport::filesIn;
using testsupport::waitFor;

namespace {

// The application's parts as main() composes them, over the test's home.
struct App {
    Settings settings;
    RunStore store{settings};
    ExportQueue exports{store};
    FakeClickSource clicks;
    DROVAppDelegate delegate{settings, store, exports, clicks};

    bool waitUntilSaved() {
        return waitFor([this] { return !exports.isBusy(); }, 60000);
    }
    void click(int count, ClickSample colour) {
        for (int i = 0; i < count; ++i)
            clicks.click({}, colour);
    }
};

QList<QMessageBox*> shownMessageBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
            boxes << box;
    return boxes;
}

} // namespace

// Stands in for the file manager: records where and on which thread a folder was opened.
class FolderOpener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
    bool onMainThread = true;
public Q_SLOTS:
    void open(const QUrl& url) {
        opened << url;
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
    }
};

class TestDROVAppDelegate : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<FolderOpener> m_opener; // no file manager opens during the tests
    const QString m_key = "de.tolvarek.zwirl.quit-key-";
    static QString folder() { return ExportQueue::outputFolderPath(); }

private Q_SLOTS:
    void initTestCase() {
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
            qunsetenv(name);
        QApplication::setApplicationDisplayName("zwirl");
    }
    void init() {
        m_opener = std::make_unique<FolderOpener>();
        QDesktopServices::setUrlHandler("file", m_opener.get(), "open");
        m_home = std::make_unique<QTemporaryDir>();
        qputenv("HOME", m_home->path().toUtf8());
    }
    void cleanup() { QDesktopServices::unsetUrlHandler("file"); }

    void storedValuesAreCheckedAndRunsKeptInOrder() {
        const QVariantList stored{
            QVariantList{0.5, 0.25, 1.0},
            QVariantList{"0.1", 0.2, 0.3},     // as a settings file gives them back
            QVariantList{0.1, 0.2},            // too short
            "red",                             // not a list
            QVariantList{0.1, "green", 0.3},   // not a number
            QVariantList{1.0, 0.0, 0.0, 99.0}, // extra values are ignored
            QVariantList{qQNaN(), 0.5, 0.5},   // not numbers from 0 to 1
            QVariantList{0.5, "-inf", 0.5},
            QVariantList{0.5, 0.5, 1e300},
            QVariantList{-0.1, 0.5, 0.5},
        };
        QCOMPARE(Settings::validSamples(stored).value_or(Samples()),
                 (Samples{{0.5, 0.25, 1.0}, {0.1, 0.2, 0.3}, {1.0, 0.0, 0.0}}));
        QVERIFY(!Settings::validSamples(QVariantList{"x", 3}));
        QVERIFY(!Settings::validSamples(QVariantList{}));

        Settings settings;
        QSettings raw(Settings::defaultFileName(), QSettings::IniFormat);
        raw.setValue("de.tolvarek.zwirl.startup-key", "maybe");
        raw.setValue(m_key + "startdate", 42);
        raw.sync();
        settings.sync();
        QVERIFY(!settings.startAtLogin());
        QVERIFY(!settings.quitStartDate().isValid());
        settings.setStartAtLogin(false);
        QCOMPARE(settings.startAtLogin(), std::optional<bool>(false));

        // The run an earlier version kept under the quit keys comes back; later runs queue
        // behind it, and saving one takes out that one alone.
        const QDateTime start(QDate(2026, 12, 6), QTime(7, 20, 0));
        raw.setValue(m_key + "samples", QVariantList{QVariant(QVariantList{0.5, 0.25, 1.0})});
        raw.setValue(m_key + "startdate", start);
        raw.setValue(m_key + "enddate", start.addSecs(9));
        raw.sync();
        settings.sync();
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

        // A line Qt cannot read keeps no write from being told as done.
        QFile file(Settings::defaultFileName());
        QVERIFY(file.open(QIODevice::Append) && file.write("[broken\n") && file.flush());
        Settings reread;
        RunStore rereadStore(reread);
        QVERIFY(rereadStore.add(first));
        QVERIFY(rereadStore.remove(first));

        // However many entries are dropped, the log has one line for them.
        QTest::failOnWarning(QRegularExpression("."));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^dropping .*: 1000000 of 1000000"));
        QTest::ignoreMessage(QtWarningMsg, "the stored clicks hold no valid sample");
        QVERIFY(!Settings::validSamples(QStringList(1000000, "x")));
    }

    void startFadesTheWindowOutThenTracks() {
        App app;
        app.delegate.showWindow();
        QPointer<QWidget> window = app.delegate.mainWindowController()->window();
        QVERIFY(window->isVisible());

        app.delegate.controllerStartAction();
        app.delegate.controllerStartAction(); // a second press during the fade changes nothing
        QVERIFY(!app.delegate.isTracking());
        QList<double> opacities;
        QVERIFY(waitFor([&] {
            if (window)
                opacities << window->windowOpacity();
            return app.delegate.isTracking();
        }));
        QVERIFY(!app.delegate.mainWindowController());
        QVERIFY(!window || !window->isVisible());
        // The window faded: it went down step by step, never back up.
        QVERIFY(std::any_of(opacities.cbegin(), opacities.cend(),
                            [](double o) { return o > 0.0 && o < 1.0; }));
        QVERIFY(std::is_sorted(opacities.crbegin(), opacities.crend()));
        app.delegate.controllerStopAction();
        QVERIFY(!app.delegate.isTracking());

        // Closed by its toggle while it fades, the window still lets the run start.
        app.delegate.showWindow();
        app.delegate.controllerStartAction();
        app.delegate.showWindow();
        QVERIFY(!app.delegate.mainWindowController());
        QVERIFY(waitFor([&] { return app.delegate.isTracking(); }));
        app.delegate.controllerStopAction();
    }

    // The 9999th click ends the run inside its own handler, which returns with the alert open;
    // the export tells the user and opens the folder on the main thread.
    void theClickLimitStopsTheRunAndOpensTheFolder() {
        App app;
        app.delegate.startTracking();
        app.click(9998, {0.2, 0.4, 0.6});
        QVERIFY(app.delegate.isTracking());
        app.clicks.click({}, std::nullopt);
        QVERIFY(!app.delegate.isTracking());
        app.click(1, {1, 1, 1}); // after the run: ignored
        QVERIFY(app.delegate.recordedSamples().empty());

        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(alert);
        QCOMPARE(alert->windowTitle(), "zwirl");
        QCOMPARE(alert->text(), "zwirl");
        QCOMPARE(alert->informativeText(),
                 "You've reached 9999 clicks - that's a lot of data and we will stop counting "
                 "now! listen to your clicks (located on the desktop).");
        QCOMPARE(alert->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        alert->accept();

        QVERIFY(app.waitUntilSaved());
        QCOMPARE(m_opener->opened, QList<QUrl>{QUrl::fromLocalFile(folder())});
        QVERIFY(m_opener->onMainThread);
        QCOMPARE(filesIn(folder(), "zwirl_*").size(), 2);
    }

    void exportsEndingInTheSameSecondKeepTheirOwnFiles() {
        App app;
        const QDateTime end(QDate(2026, 3, 4), QTime(5, 6, 7));
        app.exports.enqueue({.run = {{{1, 0, 0}}, end.addSecs(-5), end}});
        app.exports.enqueue({.run = {{{0, 0, 1}, {0, 1, 0}}, end.addSecs(-5), end}});
        QVERIFY(app.waitUntilSaved());
        const QString base = folder() + "/zwirl_040326_050607";
        QCOMPARE(filesIn(folder()),
                 (QStringList{"zwirl_040326_050607.m4a", "zwirl_040326_050607.png",
                              "zwirl_040326_050607_2.m4a", "zwirl_040326_050607_2.png"}));
        // Each picture shows its own run: one red square, and a blue and a green one.
        QCOMPARE(QImage(base + ".png").pixelColor(5, 606), QColor(Qt::red));
        QCOMPARE(QImage(base + "_2.png").pixelColor(5, 606), QColor(Qt::blue));
    }

    // A run without clicks saves nothing and leaves the rest of its batch told as one.
    void aBatchIsToldWithoutItsRunsOfNoClicks() {
        App app;
        std::vector<ExportRequest> runs(2, {.tell = ExportRequest::Tell::NotifyAndOpenFolder});
        runs[1].run = {{{1, 0, 0}}, QDateTime::currentDateTime(), QDateTime::currentDateTime()};
        app.exports.enqueue(std::move(runs), "batch");
        QVERIFY(app.waitUntilSaved());
        QCOMPARE(m_opener->opened, QList<QUrl>{QUrl::fromLocalFile(folder())});
    }

    // A quit while the launch still saves the stored run keeps the new run's clicks.
    void quitDuringTheRestoreKeepsTheNewRun() {
        const QDateTime end(QDate(2026, 1, 2), QTime(10, 5, 0));
        App app;
        Samples many;
        for (int i = 0; i < 9999; ++i)
            many.push_back({(i % 7) / 7.0, (i % 3) / 3.0, (i % 11) / 11.0});
        app.store.add({many, end.addSecs(-300), end});
        app.delegate.applicationDidFinishLaunching();
        QVERIFY(app.delegate.isExporting());
        app.delegate.startTracking();
        app.click(3, {0.5, 0.5, 0.5});
        app.delegate.applicationWillTerminate();

        const std::vector<RecordedRun> kept = app.store.runs();
        QCOMPARE(kept.size(), std::size_t(1));
        QCOMPARE(kept[0].samples, Samples(3, ClickSample{0.5, 0.5, 0.5}));
        QCOMPARE(filesIn(folder(), "zwirl_020126_100500.*").size(), 2);
    }

    // A reported colour that is not three numbers from 0 to 1 is a click without a colour.
    void invalidColoursAreClicksWithoutColour() {
        App app;
        app.delegate.startTracking();
        app.clicks.click({}, ClickSample{qQNaN(), 0.5, 0.5});
        app.clicks.click({}, ClickSample{0.5, 2.0, -qInf()});
        app.click(1, {0.5, 0.5, 0.5});
        QCOMPARE(app.delegate.recordedSamples(), (Samples{{0, 0, 0}, {0, 0, 0}, {0.5, 0.5, 0.5}}));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("dropped the colours of 2 clicks"));
        app.delegate.controllerStopAction();
        QVERIFY(app.waitUntilSaved());
    }

    // The debug window shows each click's colour as it is recorded, a click without one as
    // black, and the colour of a click made before it opened. Its tray item shows only then.
    void theDebugWindowShowsTheLastClick() {
        App app;
        const auto debugItemVisible = []() -> std::optional<bool> {
            for (QWidget* menu : QApplication::topLevelWidgets())
                for (QAction* item : menu->actions())
                    if (item->text() == "Debug Window")
                        return item->isVisible();
            return std::nullopt;
        };
        app.delegate.applicationDidFinishLaunching();
        QCOMPARE(debugItemVisible(), std::optional(false));
        app.delegate.startTracking();
        app.click(1, {0.25, 0.5, 1.0});
        app.delegate.showDebugWindow();
        QWidget* window = nullptr;
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (shown->isVisible() && shown->windowTitle() == "zwirl Debug")
                window = shown;
        QVERIFY(window);
        const auto shows = [window](const QString& name) {
            return window->findChild<DROVColorView*>()->color().name() == name &&
                   window->findChild<QLabel*>()->text() == "Last click: " + name;
        };
        QVERIFY(shows("#4080ff"));
        QCOMPARE(debugItemVisible(), std::optional(true));
        app.clicks.click({}, std::nullopt);
        QVERIFY(shows("#000000"));
        app.delegate.controllerStopAction();
        QVERIFY(app.waitUntilSaved());
        window->close();
    }

    // Of two journals whose files were being named when their process ended, the one whose
    // audio file is there is not saved again; the other is.
    void aRunWhoseFilesWereNamedIsNotSavedAgain() {
        const QDateTime end(QDate(2026, 2, 3), QTime(4, 5, 6));
        for (const RecordedRun& run : {RecordedRun{{{1, 0, 0}}, end.addSecs(-5), end},
                                       RecordedRun{{{0, 1, 0}}, end.addSecs(5), end.addSecs(10)}})
            QVERIFY(RunJournal::markSaved(RunJournal::write(run), 1, run.end));
        QDir().mkpath(folder());
        QVERIFY(QFile(folder() + "/zwirl_030226_040506.m4a").open(QIODevice::WriteOnly));
        App app;
        app.delegate.applicationDidFinishLaunching();
        QVERIFY(app.waitUntilSaved());
        QCOMPARE(filesIn(folder()),
                 (QStringList{"zwirl_030226_040506.m4a", "zwirl_030226_040516.m4a",
                              "zwirl_030226_040516.png"}));
        QVERIFY(filesIn(RunJournal::folderPath()).isEmpty());
    }

    // A journal longer than a file takes is split, at once, into journals of a file each.
    void aLongJournalIsSavedAsFilesOfAtMostTheClickLimit() {
        const QDateTime end(QDate(2026, 2, 3), QTime(4, 5, 6));
        const Samples many(10000, ClickSample{0.5, 0.25, 1.0});
        QVERIFY(!RunJournal::write({many, end.addSecs(-60), end}).isEmpty());
        App app;
        app.delegate.applicationDidFinishLaunching();
        QList<qint64> records;
        for (const QString& name : filesIn(RunJournal::folderPath()))
            records << (QFileInfo(RunJournal::folderPath() + u'/' + name).size() - 32) / 32;
        QCOMPARE(records, (QList<qint64>{9999, 1}));
        app.delegate.applicationWillTerminate();
    }

    // A logout that stores the run and is then cancelled leaves its clicks to the store alone.
    void aCancelledLogoutSavesTheRunOnce() {
        App app;
        app.delegate.startTracking();
        app.click(2, {1, 0, 0});
        app.delegate.applicationWillTerminate(); // the session asks to save; no quit follows
        QCOMPARE(app.store.runs().size(), std::size_t(1));
        QVERIFY(app.delegate.recordedSamples().empty());

        app.delegate.startTracking();
        app.click(1, {0, 0, 1});
        QCOMPARE(app.delegate.recordedSamples(), (Samples{ClickSample{0, 0, 1}}));
        app.delegate.controllerStopAction();
        QVERIFY(app.waitUntilSaved());
        QCOMPARE(app.store.runs().size(), std::size_t(1));
        QCOMPARE(filesIn(folder(), "*.m4a").size(), 1); // the later run's
    }

    // A start takes zwirl's own windows off the screen and no other (the tray icon's belongs
    // to the panel); the About box brings them back.
    void aStartHidesOnlyZwirlsWindows() {
        App app;
        QWidget other;
        other.show();
        app.delegate.showAbout();
        QCOMPARE(shownMessageBoxes().size(), 1);
        QPointer<QWidget> about = shownMessageBoxes()[0];
        app.delegate.showWindow();
        app.delegate.controllerStartAction();
        QVERIFY(waitFor([&] { return app.delegate.isTracking(); }));
        QVERIFY(!about->isVisible() && !app.delegate.mainWindowController());
        QVERIFY(other.isVisible());
        app.delegate.showAbout();
        QVERIFY(about->isVisible());
        app.delegate.controllerStopAction();
        about->close();
    }

    // The launch's saving of an earlier run ends with the window open, also when the user
    // opened it meanwhile.
    void theRestoreShowsTheWindowAndLeavesAnOpenOne() {
        for (const bool openedMeanwhile : {false, true}) {
            App app;
            app.store.add(
                {{{1, 0, 0}}, QDateTime::currentDateTime(), QDateTime::currentDateTime()});
            app.delegate.applicationDidFinishLaunching();
            QVERIFY(app.delegate.isExporting() && !app.delegate.mainWindowController());
            if (openedMeanwhile)
                app.delegate.showWindow();
            QVERIFY(app.waitUntilSaved());
            DROVMainWindowController* shown = app.delegate.mainWindowController();
            QVERIFY2(shown && shown->window()->isVisible(), openedMeanwhile ? "opened" : "closed");
        }
    }

    // One About box, asked for twice: the version, the licence, the web site and the versions
    // of the libraries zwirl runs with, in text that can be selected and copied.
    void aboutIsOneBoxWithVersionsToCopy() {
        App app;
        app.delegate.showAbout();
        app.delegate.showAbout();
        const QList<QMessageBox*> boxes = shownMessageBoxes();
        QCOMPARE(boxes.size(), 1);
        const QString text = boxes[0]->text();
        for (const QString& part : {QString("GPL-3.0-or-later"), QString("https://tolvarek.de"),
                                    QString("Qt ") + qVersion()})
            QVERIFY2(text.contains(part), qPrintable(part));
        const QList<std::pair<QString, QString>> libraries = media::libraryVersions();
        QCOMPARE(libraries.size(), 3);
        for (const auto& [library, version] : libraries) {
            QVERIFY2(QRegularExpression("^\\d+\\.\\d+").match(version).hasMatch(),
                     qPrintable(version));
            QVERIFY(text.contains(library + ' ' + version));
        }
        QVERIFY(boxes[0]->textInteractionFlags() & Qt::TextSelectableByMouse);
        boxes[0]->close();
    }
};

QTEST_MAIN(TestDROVAppDelegate)
#include "tst_DROVAppDelegate.moc"
