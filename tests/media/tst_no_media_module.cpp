// SPDX-License-Identifier: GPL-3.0-or-later
// Without the media module every audio operation fails with its status, and nothing crashes. A
// copy of this test outside the build tree, where no module lies beside it, runs the checks.
#include "sound/DROVTonePlayer.h"
#include "sound/EAFRead.h"
#include "sound/EAFWrite.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace zwirl;

class TestNoMediaModule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void operationsFailWithoutTheModule() {
        QTemporaryDir dir;
        if (!qEnvironmentVariableIsSet("ZWIRL_TEST_COPY")) {
            const QString copy = dir.filePath(QStringLiteral("tst_no_media_module"));
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("ZWIRL_TEST_COPY"), QStringLiteral("1"));
            child.setProcessEnvironment(env);
            child.start(copy, {QStringLiteral("operationsFailWithoutTheModule")});
            QVERIFY(child.waitForFinished());
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     child.readAllStandardOutput() + child.readAllStandardError());
            return;
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^The media module could not be loaded: "));
        const QUrl file = QUrl::fromLocalFile(dir.filePath(QStringLiteral("t.m4a")));
        EAFWrite writer;
        QCOMPARE(writer.openFileForWrite(file, 44100, 1, 16, kAudioFileM4AType),
                 kAudioFileUnspecifiedError);
        QCOMPARE(writer.closeFile(), noErr);
        EAFRead reader;
        QCOMPARE(reader.openFileForRead(file, 44100, 1), kAudioFileUnspecifiedError);
        QCOMPARE(reader.fileNumFrames(), 0);
        DROVTonePlayer player;
        QVERIFY_THROWS_EXCEPTION(DROVTonePlayer::SetupError, player.start());
        QVERIFY(!player.isPlaying());
        QVERIFY(media::libraryVersions().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNoMediaModule)
#include "tst_no_media_module.moc"
