// SPDX-License-Identifier: GPL-3.0-or-later
// The login item in the XDG autostart folder, checked on the files and with desktop-file-validate.
#include "services/TVKLoginItem.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace zwirl;
using namespace testsupport;

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

} // namespace

class TestTVKLoginItem : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QString m_autostart = m_config.path() + QStringLiteral("/autostart");
    QString m_entry = m_autostart + QStringLiteral("/de.tolvarek.zwirl.desktop");

    QStringList entries() const {
        return QDir(m_autostart).entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
    }
    // desktop-file-validate's complaints; empty when the entry is valid.
    QString validationErrors() const {
        const ToolResult result = runTool(QStringLiteral("desktop-file-validate"), {m_entry});
        return result.exitCode == 0 && !result.out.contains("error")
                   ? QString()
                   : QString::fromUtf8(result.out + result.err) + QString::number(result.exitCode);
    }

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }
    void init() { QDir(m_autostart).removeRecursively(); }

    // Paths with spaces, quotes, dollars, backslashes and percent signs are quoted so that the
    // entry stays valid and still names the same program; adding again leaves one entry.
    void addingWritesOneValidEntryThatDeletingFinds_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("execLine");
        QTest::addRow("plain") << kAppPath << "Exec=/opt/zwirl/bin/zwirl";
        QTest::addRow("space") << "/home/u/my apps/zwirl"
                               << "Exec=\"/home/u/my apps/zwirl\"";
        QTest::addRow("reserved characters") << "/tmp/a\"b$c`d\\e/zwirl"
                                             << "Exec=\"/tmp/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/zwirl\"";
        QTest::addRow("percent") << "/tmp/100%/zwirl"
                                 << "Exec=/tmp/100%%/zwirl";
        QTest::addRow("unicode") << "/tmp/Grüße/zwirl"
                                 << "Exec=/tmp/Grüße/zwirl";
    }

    void addingWritesOneValidEntryThatDeletingFinds() {
        QFETCH(QString, path);
        QFETCH(QString, execLine);
        TVKLoginItem::addAppAsLoginItem(path);
        const QString text = readAll(m_entry);
        for (const QString& line :
             {execLine, QStringLiteral("Type=Application"), QStringLiteral("Name=zwirl"),
              QStringLiteral("Icon=de.tolvarek.zwirl"),
              QStringLiteral("X-GNOME-Autostart-enabled=true")})
            QVERIFY2(text.split(u'\n').contains(line), qPrintable(text));
        const QString errors = validationErrors();
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        TVKLoginItem::addAppAsLoginItem(path);
        QCOMPARE(entries().size(), 1);
        QCOMPARE(readAll(m_entry), text);
        TVKLoginItem::deleteAppFromLoginItem(path);
        QVERIFY(entries().isEmpty());
    }

    void deletingRemovesEveryEntryOfTheAppAndNothingElse() {
        TVKLoginItem::addAppAsLoginItem(kAppPath);
        const auto entry = [](const char* exec) {
            return QStringLiteral("[Desktop Entry]\nType=Application\nName=Other\nExec=%1\n")
                .arg(QLatin1String(exec));
        };
        const QList<std::pair<const char*, QString>> files{
            {"zwirl-copy", entry("/opt/zwirl/bin/zwirl")},
            {"zwirl-quoted", entry("\"/opt/zwirl/bin/zwirl\" --flag %U")},
            {"other-case", entry("/opt/Zwirl/bin/zwirl")},
            {"other-app", entry("/usr/bin/other-app")},
            {"other-path", entry("/usr/local/bin/zwirl")},
            {"unreadable", QStringLiteral("this is no desktop entry\n")},
            {"no-exec", QStringLiteral("[Desktop Entry]\nType=Application\nName=X\n")}};
        for (const auto& [name, text] : files)
            writeFile(QStringLiteral("%1/%2.desktop").arg(m_autostart, QLatin1String(name)), text);

        TVKLoginItem::deleteAppFromLoginItem(kAppPath);
        QCOMPARE(entries(),
                 (QStringList{"no-exec.desktop", "other-app.desktop", "other-case.desktop",
                              "other-path.desktop", "unreadable.desktop"}));
    }

    void anEntryTheUserSwitchedOffStaysOff() {
        for (const QString switchOff : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
            TVKLoginItem::addAppAsLoginItem(kAppPath);
            const QString text =
                readAll(m_entry).remove(QStringLiteral("X-GNOME-Autostart-enabled=true\n")) +
                switchOff + u'\n';
            writeFile(m_entry, text);
            TVKLoginItem::addAppAsLoginItem(kAppPath);
            QCOMPARE(readAll(m_entry), text);
            QCOMPARE(entries().size(), 1);
            QFile::remove(m_entry);
        }
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
