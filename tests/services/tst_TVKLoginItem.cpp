// The login item in the XDG autostart folder, checked on the files and with desktop-file-validate.
#include "services/TVKLoginItem.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace zwirl;

namespace {

const QString kAppPath = QStringLiteral("/opt/zwirl/bin/zwirl");

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString& path, const QString& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
}

QString entry(const QString& exec) {
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Other\nExec=%1\n").arg(exec);
}

} // namespace

class TestTVKLoginItem : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QString m_autostart;

    QString ownEntry() const { return m_autostart + QStringLiteral("/de.tolvarek.zwirl.desktop"); }
    QStringList entries() const {
        return QDir(m_autostart).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
    }

    // desktop-file-validate's verdict: empty when the file is valid.
    static QString validationErrors(const QString& path) {
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {path});
        if (!validate.waitForFinished(30000))
            return QStringLiteral("desktop-file-validate did not run");
        const QString output = QString::fromUtf8(validate.readAll());
        if (validate.exitStatus() != QProcess::NormalExit || validate.exitCode() != 0 ||
            output.contains(QStringLiteral("error")))
            return output.isEmpty() ? QStringLiteral("exit code %1").arg(validate.exitCode())
                                    : output;
        return {};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        m_autostart = m_config.path() + QStringLiteral("/autostart");
    }

    void init() { QDir(m_autostart).removeRecursively(); }

    void addingCreatesOneValidEntry() {
        TVKLoginItem::addAppAsLoginItem(kAppPath);
        QCOMPARE(entries(), QStringList{QStringLiteral("de.tolvarek.zwirl.desktop")});
        const QString text = readAll(ownEntry());
        for (const char* line : {"Type=Application", "Name=zwirl", "Exec=/opt/zwirl/bin/zwirl",
                                 "Icon=de.tolvarek.zwirl", "X-GNOME-Autostart-enabled=true"})
            QVERIFY2(text.split(u'\n').contains(QLatin1String(line)), line);
        const QString errors = validationErrors(ownEntry());
        QVERIFY2(errors.isEmpty(), qPrintable(errors));

        TVKLoginItem::addAppAsLoginItem(kAppPath);
        QCOMPARE(entries().size(), 1);
        QCOMPARE(readAll(ownEntry()), text);
    }

    // Paths with spaces, quotes, dollars, backslashes and percent signs are quoted so that
    // the entry stays valid and still names the same program.
    void awkwardPathsAreQuotedAndFoundAgain_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("execLine");
        QTest::addRow("space") << "/home/u/my apps/zwirl"
                               << "Exec=\"/home/u/my apps/zwirl\"";
        QTest::addRow("reserved characters") << "/tmp/a\"b$c`d\\e/zwirl"
                                             << "Exec=\"/tmp/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/zwirl\"";
        QTest::addRow("percent") << "/tmp/100%/zwirl"
                                 << "Exec=/tmp/100%%/zwirl";
        QTest::addRow("unicode") << "/tmp/Grüße/zwirl"
                                 << "Exec=/tmp/Grüße/zwirl";
    }

    void awkwardPathsAreQuotedAndFoundAgain() {
        QFETCH(QString, path);
        QFETCH(QString, execLine);
        TVKLoginItem::addAppAsLoginItem(path);
        const QStringList lines = readAll(ownEntry()).split(u'\n');
        QVERIFY2(lines.contains(execLine), qPrintable(lines.join(u'|')));
        const QString errors = validationErrors(ownEntry());
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        TVKLoginItem::deleteAppFromLoginItem(path);
        QVERIFY(entries().isEmpty());
    }

    void deletingRemovesEveryEntryOfTheAppAndNothingElse() {
        QVERIFY(QDir().mkpath(m_autostart));
        TVKLoginItem::addAppAsLoginItem(kAppPath);
        writeFile(m_autostart + QStringLiteral("/zwirl-copy.desktop"), entry(kAppPath));
        writeFile(m_autostart + QStringLiteral("/zwirl-quoted.desktop"),
                  entry(QStringLiteral("\"/opt/zwirl/bin/zwirl\" --flag %U")));
        writeFile(m_autostart + QStringLiteral("/other-case.desktop"),
                  entry(QStringLiteral("/opt/Zwirl/bin/zwirl")));
        writeFile(m_autostart + QStringLiteral("/other-app.desktop"),
                  entry(QStringLiteral("/usr/bin/other-app")));
        writeFile(m_autostart + QStringLiteral("/other-path.desktop"),
                  entry(QStringLiteral("/usr/local/bin/zwirl")));
        writeFile(m_autostart + QStringLiteral("/unreadable.desktop"),
                  QStringLiteral("this is no desktop entry\n"));
        writeFile(m_autostart + QStringLiteral("/no-exec.desktop"),
                  QStringLiteral("[Desktop Entry]\nType=Application\nName=X\n"));

        TVKLoginItem::deleteAppFromLoginItem(kAppPath);

        QCOMPARE(entries(),
                 (QStringList{"no-exec.desktop", "other-app.desktop", "other-case.desktop",
                              "other-path.desktop", "unreadable.desktop"}));
        TVKLoginItem::deleteAppFromLoginItem(kAppPath);
        QCOMPARE(entries().size(), 5);
    }

    void anEntryTheUserSwitchedOffStaysOff_data() {
        QTest::addColumn<QString>("switchOff");
        QTest::addRow("Hidden") << "Hidden=true";
        QTest::addRow("GNOME") << "X-GNOME-Autostart-enabled=false";
    }

    void anEntryTheUserSwitchedOffStaysOff() {
        QFETCH(QString, switchOff);
        TVKLoginItem::addAppAsLoginItem(kAppPath);
        QString text = readAll(ownEntry());
        text.replace(QStringLiteral("X-GNOME-Autostart-enabled=true\n"), QString());
        text += switchOff + u'\n';
        writeFile(ownEntry(), text);

        TVKLoginItem::addAppAsLoginItem(kAppPath);
        QCOMPARE(readAll(ownEntry()), text);
        QCOMPARE(entries().size(), 1);
    }

    void anUnusableConfigFolderChangesNothing() {
        QTemporaryDir other;
        const QString notAFolder = other.path() + QStringLiteral("/file");
        writeFile(notAFolder, QStringLiteral("x"));
        qputenv("XDG_CONFIG_HOME", notAFolder.toUtf8());
        TVKLoginItem::addAppAsLoginItem(kAppPath);
        TVKLoginItem::deleteAppFromLoginItem(kAppPath);
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QCOMPARE(readAll(notAFolder), QStringLiteral("x"));
        QVERIFY(!QFileInfo::exists(m_autostart));
    }
};

QTEST_GUILESS_MAIN(TestTVKLoginItem)
#include "tst_TVKLoginItem.moc"
