// Delayed blocks on the main thread, and the helper's random numbers.
#include "services/DROVHelper.h"
#include "services/TVKBlock.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace zwirl;

class TestTVKBlock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aBlockNeverRunsInsideTheCall_data() {
        QTest::addColumn<double>("delay");
        QTest::addRow("zero") << 0.0;
        QTest::addRow("negative") << -5.0;
        QTest::addRow("below a nanosecond") << 1e-10;
    }

    void aBlockNeverRunsInsideTheCall() {
        QFETCH(double, delay);
        int runs = 0;
        bool onMainThread = false;
        TVKBlock::performBlock(
            [&] {
                ++runs;
                onMainThread = QThread::currentThread() == qApp->thread();
            },
            delay);
        QCOMPARE(runs, 0);
        QTRY_COMPARE(runs, 1);
        QVERIFY(onMainThread);
        QTest::qWait(50);
        QCOMPARE(runs, 1);
    }

    void aBlockFromAnotherThreadRunsOnTheMainThread() {
        std::atomic<bool> ran{false};
        std::atomic<bool> onMainThread{false};
        QThread* worker = QThread::create([&] {
            TVKBlock::performBlock(
                [&] {
                    onMainThread = QThread::currentThread() == qApp->thread();
                    ran = true;
                },
                0.0);
        });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_VERIFY(ran.load());
        QVERIFY(onMainThread.load());
    }

    void aOneSecondDelayRunsAboutOneSecondLater() {
        QElapsedTimer clock;
        qint64 ranAfter = -1;
        clock.start();
        TVKBlock::performBlock([&] { ranAfter = clock.elapsed(); }, 1.0);
        QTest::qWait(900);
        QCOMPARE(ranAfter, -1);
        QTRY_VERIFY_WITH_TIMEOUT(ranAfter >= 0, 5000);
        QVERIFY2(ranAfter >= 1000, qPrintable(QString::number(ranAfter)));
        QVERIFY2(ranAfter < 3000, qPrintable(QString::number(ranAfter)));
    }

    void equalBoundsGiveThatBound() {
        for (float bound : {0.0f, 0.1f, -3.75f, 1e6f})
            for (int i = 0; i < 100; ++i)
                QCOMPARE(DROVHelper::randomFloatBetween(bound, bound), bound);
    }

    void randomValuesCoverTheUnitIntervalAndStayInIt() {
        float lowest = 2.0f;
        float highest = -1.0f;
        double sum = 0;
        constexpr int draws = 200000;
        for (int i = 0; i < draws; ++i) {
            const float value = DROVHelper::randomFloatBetween(0.0f, 1.0f);
            QVERIFY2(value >= 0.0f && value <= 1.0f, qPrintable(QString::number(value)));
            lowest = qMin(lowest, value);
            highest = qMax(highest, value);
            sum += value;
        }
        QVERIFY(lowest < 0.001f);
        QVERIFY(highest > 0.999f);
        QVERIFY(qAbs(sum / draws - 0.5) < 0.01);
    }

    void reversedBoundsGiveValuesBetweenThem() {
        for (int i = 0; i < 10000; ++i) {
            const float value = DROVHelper::randomFloatBetween(5.0f, 2.0f);
            QVERIFY(value >= 2.0f && value <= 5.0f);
        }
    }
};

QTEST_GUILESS_MAIN(TestTVKBlock)
#include "tst_TVKBlock.moc"
