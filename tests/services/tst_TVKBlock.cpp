// SPDX-License-Identifier: GPL-3.0-or-later
// Delayed blocks on the main thread, and the helper's random numbers.
#include "services/DROVHelper.h"
#include "services/TVKBlock.h"

#include <QThread>
#include <QtTest>

#include <atomic>

using namespace zwirl;

class TestTVKBlock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // From the main thread and from another, with delays that count as zero: the block runs
    // once, later, on the main thread. The one-second delay is checked by the main window's
    // "Saving to desktop..." title.
    void aBlockRunsOnceLaterOnTheMainThread() {
        std::atomic<int> runs{0}, onMainThread{0};
        const auto block = [&] {
            ++runs;
            onMainThread += QThread::currentThread() == QCoreApplication::instance()->thread();
        };
        for (double delay : {0.0, -5.0, 1e-10})
            TVKBlock::performBlock(block, delay);
        QCOMPARE(runs.load(), 0);
        QThread* worker = QThread::create([&] { TVKBlock::performBlock(block, 0.0); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_COMPARE(runs.load(), 4);
        // Blocks due at once run in order: once a later one has run, none runs twice.
        bool later = false;
        TVKBlock::performBlock([&] { later = true; }, 0.0);
        QTRY_VERIFY(later);
        QCOMPARE(runs.load(), 4);
        QCOMPARE(onMainThread.load(), 4);
    }

    void randomValuesLieBetweenTheBoundsBothIncluded() {
        for (float bound : {0.0f, -3.75f, 1e6f})
            QCOMPARE(DROVHelper::randomFloatBetween(bound, bound), bound);
        float lowest = 2.0f, highest = -1.0f;
        double sum = 0;
        constexpr int draws = 200000;
        for (int i = 0; i < draws; ++i) {
            const float value = DROVHelper::randomFloatBetween(0.0f, 1.0f);
            QVERIFY2(value >= 0.0f && value <= 1.0f, qPrintable(QString::number(value)));
            lowest = qMin(lowest, value);
            highest = qMax(highest, value);
            sum += value;
            const float reversed = DROVHelper::randomFloatBetween(5.0f, 2.0f);
            QVERIFY(reversed >= 2.0f && reversed <= 5.0f);
        }
        QVERIFY(lowest < 0.001f && highest > 0.999f);
        QVERIFY(qAbs(sum / draws - 0.5) < 0.01);
    }
};

QTEST_GUILESS_MAIN(TestTVKBlock)
#include "tst_TVKBlock.moc"
