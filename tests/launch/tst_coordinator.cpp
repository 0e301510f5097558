#include "launch/DockActionCoordinator.h"
#include "launch/QtScheduler.h"
#include "launch/Task.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <thread>

using namespace brevlin;
using brevlin::testing::SimulatedFigma;
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

DockItem item(const QString& plugin) {
    DockItem i;
    i.id = QUuid::createUuid();
    i.name = plugin;
    i.pluginName = plugin;
    return i;
}

} // namespace

class CoordinatorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualScheduler> scheduler;
    std::unique_ptr<SimulatedFigma> figma;

    // The message after each errorMessageChanged, "none" for none.
    QStringList messages;
    QList<bool> trustValues;

    // Trust checks, with or without a request, leave a failure's message alone; the next launch
    // that succeeds ends it.
    void expectKeptUntilASuccess(DockActionCoordinator& c, const QString& expected) {
        QVERIFY(figma->ranPlugins.isEmpty());
        c.refreshAccessibilityStatus();
        c.requestAccessibilityAccess();
        scheduler->runUntilIdle();
        QCOMPARE(c.errorMessage(), std::optional(expected));
        QCOMPARE(figma->tree.promptCount, 0);

        figma->repair();
        c.startLaunch(item("Autoflow"), c.launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, QStringList{"Autoflow"});
        QCOMPARE(c.errorMessage(), std::nullopt);
    }

    std::unique_ptr<DockActionCoordinator> makeCoordinator() {
        auto c = std::make_unique<DockActionCoordinator>(figma->platform());
        connect(c.get(), &DockActionCoordinator::errorMessageChanged, this,
                [this, raw = c.get()] { messages.append(raw->errorMessage().value_or("none")); });
        connect(c.get(), &DockActionCoordinator::isAccessibilityTrustedChanged, this,
                [this, raw = c.get()] { trustValues.append(raw->isAccessibilityTrusted()); });
        return c;
    }

private slots:
    void init() {
        scheduler = std::make_unique<VirtualScheduler>();
        figma = std::make_unique<SimulatedFigma>(*scheduler);
        messages.clear();
        trustValues.clear();
    }

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

    void aTaskThatCanNoLongerWakeIsFreed() {
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
    }

    void aCompletionResumesOnceOrFreesTheTaskWhenDiscarded() {
        auto guard = std::make_shared<int>(0);
        const std::weak_ptr<int> watch = guard;
        Completion completion;
        bool finished = false;
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
        QVERIFY(watch.expired());
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
        const qint64 before = qt.nowNanoseconds();
        qt.blockingWaitMicroseconds(2000);
        QVERIFY(qt.nowNanoseconds() - before >= 2'000'000);
    }

    void startsUntrustedWithoutPrompting() {
        figma->tree.trusted = false;
        auto c = makeCoordinator();
        QVERIFY(!c->isAccessibilityTrusted());
        QCOMPARE(figma->tree.promptCount, 0);
        QCOMPARE(c->errorMessage(), std::nullopt);
        QCOMPARE(c->launcherTiming, LauncherTimingSettings::defaults);
        QCOMPARE(c->launcher().figmaBundleIdentifier, QStringLiteral("com.figma.Desktop"));
    }

    void untrustedLaunchKeepsItsMessage() {
        figma->tree.trusted = false;
        auto c = makeCoordinator();
        startTask(*scheduler, c->launch(item("Autoflow"), c->launcherTiming));
        scheduler->runUntilIdle();
        QCOMPARE(c->errorMessage(), FigmaLauncherError::accessibilityDenied().description());
        QVERIFY(!c->isAccessibilityTrusted());
        QVERIFY(figma->timeline.isEmpty());
    }

    // Every way a launch can fail while trusted, with the text the user must go on seeing.
    void failureStaysUntilALaunchSucceeds_data() {
        using Fault = SimulatedFigma::Fault;
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not installed")
            << Fault::notInstalled << FigmaLauncherError::figmaNotInstalled().description();
        QTest::newRow("does not start")
            << Fault::failsToStart << QStringLiteral("The application is damaged.");
        QTest::newRow("not brought to the front")
            << Fault::neverFrontmost
            << QStringLiteral(
                   "Brevlin could not bring Figma to the front before sending keyboard shortcuts.");
        QTest::newRow("no event source")
            << Fault::noEventSource << FigmaLauncherError::eventSourceUnavailable().description();
        QTest::newRow("no key event")
            << Fault::noKeyEvent << FigmaLauncherError::eventCreationFailed().description();
        QTest::newRow("focus taken while typing")
            << Fault::focusTakenWhileTyping << FigmaLauncherError::focusLost().description();
    }
    void failureStaysUntilALaunchSucceeds() {
        QFETCH(SimulatedFigma::Fault, fault);
        QFETCH(QString, expected);
        figma->introduce(fault);
        auto c = makeCoordinator();
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QVERIFY(c->isAccessibilityTrusted());
        QCOMPARE(messages, QStringList{expected});
        expectKeptUntilASuccess(*c, expected);
    }

    void cancelledLaunchSaysSoUntilALaunchSucceeds() {
        auto c = makeCoordinator();
        // Fixed waits keep the launch going when it is cancelled.
        c->launcherTiming.adaptiveWaits = false;
        TaskHandle handle = startTask(*scheduler, c->launch(item("Autoflow"), c->launcherTiming));
        scheduler->advanceBy(100);
        handle.cancel();
        scheduler->runUntilIdle();
        QCOMPARE(messages, QStringList{"The launch was cancelled."});
        expectKeptUntilASuccess(*c, QStringLiteral("The launch was cancelled."));
    }

    void grantedTrustClearsOnlyTheAccessMessage() {
        figma->tree.trusted = false;
        auto c = makeCoordinator();
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(c->errorMessage(), FigmaLauncherError::accessibilityDenied().description());
        figma->tree.trusted = true;
        c->refreshAccessibilityStatus();
        QCOMPARE(c->errorMessage(), std::nullopt);

        // Once access is there, a failure of another kind is not answered by it.
        figma->running = false;
        figma->installed = false;
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        c->refreshAccessibilityStatus();
        QCOMPARE(c->errorMessage(), FigmaLauncherError::figmaNotInstalled().description());
    }

    void successClearsAnEarlierMessage() {
        figma->tree.trusted = false;
        auto c = makeCoordinator();
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QVERIFY(c->errorMessage());
        figma->tree.trusted = true;
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(c->errorMessage(), std::nullopt);
        QVERIFY(c->isAccessibilityTrusted());
        QCOMPARE(figma->ranPlugins, QStringList{"Autoflow"});
    }

    void launchUsesTheTimingItIsGiven() {
        auto c = makeCoordinator();
        LauncherTimingSettings slow = LauncherTimingSettings::defaults;
        slow.focusDelayMilliseconds = 400;
        slow.adaptiveWaits = false;
        c->launcherTiming = slow;
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->timelineOf({"key"}).first(), QStringLiteral("400 key ⌘K"));
    }

    void requestWhileTrustedChangesNothing() {
        auto c = makeCoordinator();
        c->requestAccessibilityAccess();
        QCOMPARE(figma->tree.promptCount, 0);
        scheduler->advanceBy(800);
        QCOMPARE(trustValues, (QList<bool>{true, true}));
        QVERIFY(messages.isEmpty());
        QCOMPARE(c->errorMessage(), std::nullopt);
    }

    void grantWithinTheRecheckShowsUp_data() {
        QTest::addColumn<qint64>("grantAt");
        QTest::addColumn<bool>("trustedAfter");
        QTest::newRow("within") << qint64(500) << true;
        QTest::newRow("later") << qint64(900) << false;
    }
    void grantWithinTheRecheckShowsUp() {
        QFETCH(qint64, grantAt);
        QFETCH(bool, trustedAfter);
        figma->tree.trusted = false;
        auto c = makeCoordinator();
        c->requestAccessibilityAccess();
        QCOMPARE(figma->tree.promptCount, 1);
        QVERIFY(!c->isAccessibilityTrusted());
        scheduler->advanceBy(grantAt);
        figma->tree.trusted = true;
        scheduler->advanceBy(1000 - grantAt);
        QCOMPARE(c->isAccessibilityTrusted(), trustedAfter);
    }

    void promptGrantClearsTheMessageAtOnce() {
        figma->tree.trusted = false;
        figma->tree.grantOnPrompt = true;
        auto c = makeCoordinator();
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QVERIFY(c->errorMessage());
        c->requestAccessibilityAccess();
        QVERIFY(c->isAccessibilityTrusted());
        QCOMPARE(c->errorMessage(), std::nullopt);
    }

    void launchesRunOneAtATimeInOrder() {
        auto c = makeCoordinator();
        // A double click, then a hotkey 100 ms later, while the first launch runs.
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        c->startLaunch(item("Content Reel"), c->launcherTiming);
        scheduler->advanceBy(100);
        c->startLaunch(item("Unsplash"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, (QStringList{"Autoflow", "Content Reel", "Unsplash"}));
        QCOMPARE(c->errorMessage(), std::nullopt);
        QCOMPARE(c->pendingLaunchCount(), 0);
        // Each launch begins after the one before has ended: no key of one lands between the
        // keys of another.
        const QStringList steps = figma->timelineOf({"activate", "key", "type", "run"});
        QStringList order;
        for (const QString& step : steps) {
            const QString what = step.section(' ', 1);
            if (what.startsWith("activate"))
                order.append("start");
            else if (what.startsWith("run"))
                order.append(what);
        }
        QCOMPARE(order, (QStringList{"start", "run Autoflow", "start", "run Content Reel", "start",
                                     "run Unsplash"}));
        QCOMPARE(figma->timelineOf({"type C"}).size(), 1);
    }

    void aFailedLaunchHandsOnItsTurn() {
        figma->unavailableKeyAt = 0; // the first launch's Command-K
        auto c = makeCoordinator();
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        c->startLaunch(item("Content Reel"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(messages.first(), FigmaLauncherError::eventCreationFailed().description());
        QCOMPARE(figma->ranPlugins, QStringList{"Content Reel"});
        QCOMPARE(c->pendingLaunchCount(), 0);
    }

    void aWaitingLaunchCancelledNeverTouchesFigma() {
        auto c = makeCoordinator();
        c->launcherTiming.adaptiveWaits = false;
        c->startLaunch(item("Autoflow"), c->launcherTiming);
        TaskHandle waiting =
            startTask(*scheduler, c->launch(item("Content Reel"), c->launcherTiming));
        scheduler->advanceBy(100);
        waiting.cancel();
        const int activations = figma->activations;
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, QStringList{"Autoflow"});
        QCOMPARE(figma->activations, activations);
        QVERIFY(waiting.isFinished());
        // The queue goes on after it.
        c->startLaunch(item("Unsplash"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, (QStringList{"Autoflow", "Unsplash"}));
    }

    void recheckAfterTheCoordinatorIsGoneIsHarmless() {
        auto c = makeCoordinator();
        c->requestAccessibilityAccess();
        const int checks = figma->tree.trustChecks;
        c.reset();
        scheduler->runUntilIdle();
        QCOMPARE(figma->tree.trustChecks, checks);
    }
};

QTEST_GUILESS_MAIN(CoordinatorTest)
#include "tst_coordinator.moc"
