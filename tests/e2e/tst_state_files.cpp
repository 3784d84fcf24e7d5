// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever the installed application finds in its own files (the state folder, the settings
// file), each launch comes up, saves only valid clicks, never saves a run twice and quits on
// SIGTERM within a second.
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {

using Prepare = std::function<void(const TempHome&)>;

const QDateTime kStart(QDate(2026, 5, 6), QTime(7, 8, 9));
const double kNaN = std::nan(""), kInf = HUGE_VAL;
const QString kUnreadable = "could not read 1 run(s)";
const QString kDamaged = "could read only part of 1 run(s)";
const QRegularExpression kSaved("^Saved .*to the desktop");

// Three valid clicks beside whatever a case puts in the folder.
QString validJournal(const TempHome& home) {
    return home.writeJournal("valid.journal", samplePattern(3), kStart.addDays(-1));
}

void flipByte(const QString& path, qint64 at) {
    QFile file(path);
    char c = 0;
    if (file.open(QIODevice::ReadWrite) && file.seek(at) && file.getChar(&c) && file.seek(at))
        file.putChar(char(~c));
}

// The click counts of the files saved so far, in the order written.
QList<int> savedCounts(AppInstance& app) {
    QList<int> counts;
    static const QRegularExpression saved(", (\\d+) zwirl\\)");
    for (auto match = saved.globalMatch(QString::fromUtf8(app.output())); match.hasNext();)
        counts << match.next().captured(1).toInt();
    return counts;
}

// One launch: up, done with what it found, and gone within a second of SIGTERM.
bool launch(Session& s) {
    return s.start() && waitUntilSaved() && waitFor([] { return bool(mainWindow()); }) &&
           s.app.stop(SIGTERM, 1000) && s.app.exitStatus() == QProcess::NormalExit;
}

} // namespace

Q_DECLARE_METATYPE(Prepare)

class TestStateFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { requireEndToEnd(); }

    void everyLaunchComesUpAndSavesEachValidClickOnce_data() {
        QTest::addColumn<Prepare>("prepare");
        QTest::addColumn<QList<int>>("saved");
        QTest::addColumn<QString>("told"); // once, in the first launch's notifications
        // A target in the home is made there first.
        const auto link = [](const QString& target) {
            return [target](const TempHome& home) {
                validJournal(home);
                if (!target.startsWith("/dev/"))
                    ::mkfifo(qPrintable(home.path() + target), 0600);
                QFile::link(target.startsWith("/dev/") ? target : home.path() + target,
                            home.journalFolder() + "/x.journal");
            };
        };
        QTest::newRow("link to /dev/zero") << Prepare(link("/dev/zero")) << QList{3} << kUnreadable;
        QTest::newRow("link to a FIFO") << Prepare(link("/fifo")) << QList{3} << kUnreadable;
        QTest::newRow("FIFO") << Prepare([](const TempHome& home) {
            ::mkfifo(qPrintable(validJournal(home).replace("valid", "fifo")), 0600);
        }) << QList{3} << kUnreadable;
        QTest::newRow("folder") << Prepare([](const TempHome& home) {
            QDir().mkpath(validJournal(home).replace("valid", "folder"));
        }) << QList{3} << kUnreadable;
        QTest::newRow("no permission") << Prepare([](const TempHome& home) {
            QFile(home.writeJournal("closed.journal", samplePattern(2), kStart)).setPermissions({});
            validJournal(home);
        }) << QList{3} << kUnreadable;
        QTest::newRow("empty, from a full disk") << Prepare([](const TempHome& home) {
            QFile(validJournal(home).replace("valid", "empty")).open(QIODevice::WriteOnly);
        }) << QList{3} << QString();
        QTest::newRow("name not in UTF-8") << Prepare([](const TempHome& home) {
            const QString path = home.writeJournal("latin.journal", samplePattern(4), kStart);
            ::rename(qPrintable(path),
                     (QFile::encodeName(home.journalFolder()) + "/\xe9t\xe9.journal"));
        }) << QList{4} << QString();
        QTest::newRow("2 GB sparse") << Prepare([](const TempHome& home) {
            QFile(home.writeJournal("sparse.journal", samplePattern(3), kStart))
                .resize(qint64(2) << 30);
        }) << QList{3} << kDamaged;
        for (const int record : {0, 1500})
            QTest::addRow("flipped byte in record %d", record)
                << Prepare([record](const TempHome& home) {
                       flipByte(home.writeJournal("run.journal", samplePattern(3000), kStart),
                                32 + 32 * record + 5);
                   })
                << QList{2999} << kDamaged;
        const QList<QList<double>> invalid{{kNaN, 0, 0},   {0, -kInf, 0}, {0, 0, kInf},
                                           {-1e300, 0, 0}, {0, 1.5, 0},   {0.5, 0.5, 0.5}};
        QTest::newRow("invalid clicks in the quit keys")
            << Prepare([invalid](const TempHome& home) {
                   home.storeRun(invalid, kStart, kStart.addSecs(5));
               })
            << QList{1} << QString();
        QTest::newRow("invalid clicks in a journal") << Prepare([invalid](const TempHome& home) {
            home.writeJournal("run.journal", invalid, kStart);
        }) << QList{1} << kDamaged;
        QTest::newRow("read-only state folder") << Prepare([](const TempHome& home) {
            QFile(QFileInfo(validJournal(home)).path())
                .setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }) << QList{3} << "cannot remove the file";
        QTest::newRow("read-only ~/.config") << Prepare([](const TempHome& home) {
            home.storeRun(samplePattern(4), kStart, kStart.addSecs(5));
            for (const QString& folder :
                 {home.path() + "/.config", QFileInfo(home.configFile()).path()})
                QFile(folder).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }) << QList{4} << "could not write its settings file";
        QTest::newRow("link at the next split name") << Prepare([](const TempHome& home) {
            home.storeRun(samplePattern(12000), kStart, kStart.addSecs(5));
            QDir().mkpath(home.journalFolder());
            QFile victim(home.path() + "/victim");
            victim.open(QIODevice::WriteOnly) && victim.write("victim");
            QFile::link(victim.fileName(),
                        home.journalFolder() +
                            kStart.toString("/'run-'yyyyMMdd-HHmmss-zzz'-part000001.journal'"));
        }) << QList{9999, 2001} << kUnreadable;
    }

    void everyLaunchComesUpAndSavesEachValidClickOnce() {
        QFETCH(Prepare, prepare);
        QFETCH(QList<int>, saved);
        QFETCH(QString, told);
        Session s;
        // Root would write where the cases forbid it.
        if (::geteuid() == 0)
            s.app.setLauncher({"setpriv", "--bounding-set", "-dac_override,-dac_read_search"});
        prepare(s.home);
        QVERIFY(launch(s));
        QCOMPARE(savedCounts(s.app), saved);
        QCOMPARE(filesIn(s.home.outputFolder(), "*.m4a").size(), saved.size());
        // However many runs it saved, the launch told of them once and opened the folder once.
        QVERIFY(waitFor([&] { return !s.notifications.bodies().filter(kSaved).isEmpty(); }));
        QCOMPARE(s.notifications.bodies().filter(kSaved).size(), 1);
        QCOMPARE(s.opener.opened().size(), 1);
        if (!told.isEmpty())
            QVERIFY(waitFor([&] { return s.notifications.bodies().filter(told).size() == 1; }));
        else
            QVERIFY(s.notifications.bodies().filter("zwirl could").isEmpty());
        // Nothing is saved twice, nor read again.
        QVERIFY(launch(s));
        QCOMPARE(savedCounts(s.app), saved);
        QCOMPARE(filesIn(s.home.outputFolder(), "*.m4a").size(), saved.size());
        QCOMPARE(s.opener.opened().size(), 1);
        QCOMPARE(s.notifications.bodies().filter(kUnreadable).size(), int(told == kUnreadable));
        QCOMPARE(s.notifications.bodies().filter(kDamaged).size(), int(told == kDamaged));
        if (QFile victim(s.home.path() + "/victim"); victim.open(QIODevice::ReadOnly))
            QCOMPARE(victim.readAll(), "victim");
        runTool("chmod", {"-R", "u+rwX", s.home.path()});
    }
};

QTEST_GUILESS_MAIN(TestStateFiles)
#include "tst_state_files.moc"
