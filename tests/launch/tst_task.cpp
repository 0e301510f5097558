// The coroutine runtime launches are built on: results, errors and cancellation pass through
// awaits, a task that can no longer wake is freed, and the Qt scheduler runs work in order.

#include "launch/QtScheduler.h"
#include "launch/Task.h"
#include "support/VirtualScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <thread>

using namespace brevlin;
using brevlin::testing::VirtualScheduler;

namespace {

Task<int> answerAfter(Scheduler& scheduler, qint64 ms, int value) {
    co_await sleepFor(scheduler, ms);
    co_return value;
}

Task<int> sumOfTwo(Scheduler& scheduler, QList<qint64>* times) {
    const int a = co_await answerAfter(scheduler, 10, 20);
    times->append(scheduler.nowNanoseconds() / 1'000'000);
    const int b = co_await answerAfter(scheduler, 5, 22);
    times->append(scheduler.nowNanoseconds() / 1'000'000);
    co_return a + b;
}

Task<void> record(Scheduler& scheduler, QList<qint64>* times, int* result) {
    *result = co_await sumOfTwo(scheduler, times);
}

Task<void> failAfter(Scheduler& scheduler, qint64 ms) {
    co_await sleepFor(scheduler, ms);
    throw std::runtime_error("broken");
}

Task<void> catchAndWaitAgain(Scheduler& scheduler, int* waitsFailed) {
    for (int i = 0; i < 3; ++i) {
        try {
            co_await sleepFor(scheduler, 100);
        } catch (const CancellationError&) {
            ++*waitsFailed;
        }
    }
}

Task<void> holdWhileWaiting(Scheduler& scheduler, std::shared_ptr<int> guard, qint64 ms) {
    co_await sleepFor(scheduler, ms);
    ++*guard;
}

using Completion = std::function<void(int)>;

Task<void> holdWhileAwaitingCompletion(Scheduler& scheduler, std::shared_ptr<int> guard,
                                       Completion* stash) {
    *guard = co_await ContinuationAwaiter<int>(scheduler,
                                               [stash](Completion resume) { *stash = resume; });
}

} // namespace

class TaskTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualScheduler> scheduler;

private slots:
    void init() { scheduler = std::make_unique<VirtualScheduler>(); }

    void tasksPassResultsAndErrorsUp() {
        QList<qint64> times;
        int result = 0;
        std::exception_ptr error;
        bool done = false;
        startTask(*scheduler, record(*scheduler, &times, &result), [&](std::exception_ptr e) {
            error = e;
            done = true;
        });
        QVERIFY(!done); // started in a later turn
        scheduler->runUntilIdle();
        QVERIFY(done && !error);
        QCOMPARE(result, 42);
        QCOMPARE(times, (QList<qint64>{10, 15}));

        startTask(*scheduler, failAfter(*scheduler, 7), [&](std::exception_ptr e) { error = e; });
        scheduler->runUntilIdle();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, std::rethrow_exception(error));
    }

    void cancellationFailsEveryLaterWait() {
        int waitsFailed = 0;
        bool done = false;
        TaskHandle handle = startTask(*scheduler, catchAndWaitAgain(*scheduler, &waitsFailed),
                                      [&](std::exception_ptr) { done = true; });
        scheduler->advanceBy(150);
        QCOMPARE(waitsFailed, 0);
        handle.cancel();
        QVERIFY(handle.isCancelled());
        QCOMPARE(waitsFailed, 0); // resumed in a turn of its own
        scheduler->runDue();
        QVERIFY(done);
        QCOMPARE(waitsFailed, 2);
        QCOMPARE(scheduler->nowMilliseconds(), 150);
        QCOMPARE(scheduler->pendingCount(), std::size_t(0));
    }

    void aTaskThatCanNoLongerWakeIsFreedAndACompletionResumesOnce() {
        auto guard = std::make_shared<int>(0);
        const std::weak_ptr<int> watch = guard;
        bool finished = false;
        TaskHandle handle;
        {
            VirtualScheduler doomed;
            handle = startTask(doomed, holdWhileWaiting(doomed, std::move(guard), 100),
                               [&](std::exception_ptr) { finished = true; });
            doomed.advanceBy(50);
            QVERIFY(!watch.expired());
        }
        // The pending wake-up went with its scheduler, and the frame with it.
        QVERIFY(watch.expired());
        QVERIFY(!finished);
        QVERIFY(!handle.isFinished());
        // Nothing is left to interrupt, and nothing may be touched.
        handle.cancel();
        QVERIFY(handle.isCancelled());

        auto neverStarted = std::make_shared<int>(0);
        const std::weak_ptr<int> watchUnstarted = neverStarted;
        {
            VirtualScheduler doomed;
            startTask(doomed, holdWhileWaiting(doomed, std::move(neverStarted), 10));
        }
        QVERIFY(watchUnstarted.expired());

        // A completion resumes the task once, in a later turn; dropped uncalled, it frees it.
        guard = std::make_shared<int>(0);
        const std::weak_ptr<int> watchResumed = guard;
        Completion completion;
        finished = false;
        startTask(*scheduler, holdWhileAwaitingCompletion(*scheduler, guard, &completion),
                  [&](std::exception_ptr) { finished = true; });
        scheduler->runUntilIdle();
        QVERIFY(completion);
        completion(7);
        completion(8);
        QCOMPARE(*guard, 0); // resumed in a later turn
        scheduler->runUntilIdle();
        QVERIFY(finished);
        QCOMPARE(*guard, 7);

        guard.reset();
        QVERIFY(watchResumed.expired());
        auto second = std::make_shared<int>(0);
        const std::weak_ptr<int> watchSecond = second;
        finished = false;
        startTask(*scheduler,
                  holdWhileAwaitingCompletion(*scheduler, std::move(second), &completion),
                  [&](std::exception_ptr) { finished = true; });
        scheduler->runUntilIdle();
        QVERIFY(!watchSecond.expired());
        // A service that drops the completion without calling it must not strand the task.
        completion = nullptr;
        QVERIFY(watchSecond.expired());
        QVERIFY(!finished);
    }

    void qtSchedulerRunsWorkOnTheMainThreadInOrder() {
        QtScheduler qt;
        QStringList order;
        QElapsedTimer clock;
        clock.start();
        const qint64 startNs = qt.nowNanoseconds();
        qint64 firedAfterNs = 0;
        qt.postAfter(30, [&] {
            firedAfterNs = qt.nowNanoseconds() - startNs;
            order.append("late");
        });
        const auto dropped = qt.postAfter(10, [&] { order.append("cancelled"); });
        qt.post([&] { order.append("first"); });
        qt.cancel(dropped);
        std::thread other([&] {
            qt.post(
                [&] { order.append(QThread::currentThread() == qt.thread() ? "main" : "other"); });
        });
        other.join();
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 3, 5000);
        QCOMPARE(order, (QStringList{"first", "main", "late"}));
        QVERIFY(firedAfterNs >= 30'000'000);
    }
};

QTEST_GUILESS_MAIN(TaskTest)
#include "tst_task.moc"
