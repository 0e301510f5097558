#include "launch/DockActionCoordinator.h"
#include "launch/Task.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"

#include <QRegularExpression>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

// A way a whole launch fails while access is granted.
using Fault = void (*)(SimulatedFigma&);
Q_DECLARE_METATYPE(Fault)

class CoordinatorTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualScheduler> scheduler;
    std::unique_ptr<SimulatedFigma> figma;

    // The message after each errorMessageChanged, "none" for none.
    QStringList messages;

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
        c.startLaunch(shortcutFor("Autoflow"), c.launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, QStringList{"Autoflow"});
        QCOMPARE(c.errorMessage(), std::nullopt);
    }

    std::unique_ptr<DockActionCoordinator> makeCoordinator() {
        auto c = std::make_unique<DockActionCoordinator>(figma->platform());
        connect(c.get(), &DockActionCoordinator::errorMessageChanged, this,
                [this, raw = c.get()] { messages.append(raw->errorMessage().value_or("none")); });
        return c;
    }

private slots:
    void init() {
        scheduler = std::make_unique<VirtualScheduler>();
        figma = std::make_unique<SimulatedFigma>(*scheduler);
        messages.clear();
    }

    // Every way a launch can fail while trusted, with the text the user must go on seeing.
    void failureStaysUntilALaunchSucceeds_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not installed")
            << Fault([](SimulatedFigma& f) { f.running = f.installed = false; })
            << FigmaLauncherError::figmaNotInstalled().description();
        QTest::newRow("does not start") << Fault([](SimulatedFigma& f) {
            f.running = false;
            f.startOutcome = SimulatedFigma::StartOutcome::failsWithError;
        }) << QString("The application is damaged.");
        QTest::newRow("not brought to the front")
            << Fault([](SimulatedFigma& f) { f.becomesFrontmost = false; })
            << QString(
                   "Brevlin could not bring Figma to the front before sending keyboard shortcuts.");
        QTest::newRow("no event source")
            << Fault([](SimulatedFigma& f) { f.keyboardUnavailable = true; })
            << FigmaLauncherError::eventSourceUnavailable().description();
        QTest::newRow("no key event") << Fault([](SimulatedFigma& f) { f.unavailableKeyAt = 0; })
                                      << FigmaLauncherError::eventCreationFailed().description();
        QTest::newRow("focus taken while typing")
            << Fault([](SimulatedFigma& f) { f.focusLostAfterTypedCharacters = 2; })
            << FigmaLauncherError::focusLost().description();
    }
    void failureStaysUntilALaunchSucceeds() {
        QFETCH(Fault, fault);
        QFETCH(QString, expected);
        fault(*figma);
        auto c = makeCoordinator();
        c->startLaunch(shortcutFor("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QVERIFY(c->isAccessibilityTrusted());
        QCOMPARE(messages, QStringList{expected});
        expectKeptUntilASuccess(*c, expected);
    }

    void cancelledLaunchSaysSoUntilALaunchSucceeds() {
        auto c = makeCoordinator();
        // Fixed waits keep the launch going when it is cancelled.
        c->launcherTiming.adaptiveWaits = false;
        TaskHandle handle =
            startTask(*scheduler, c->launch(shortcutFor("Autoflow"), c->launcherTiming));
        scheduler->advanceBy(100);
        handle.cancel();
        scheduler->runUntilIdle();
        QCOMPARE(messages, QStringList{"The launch was cancelled."});
        expectKeptUntilASuccess(*c, QStringLiteral("The launch was cancelled."));
    }

    void grantedTrustClearsOnlyTheAccessMessage() {
        figma->tree.trusted = false;
        figma->tree.grantOnPrompt = true;
        auto c = makeCoordinator();
        c->startLaunch(shortcutFor("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(c->errorMessage(), FigmaLauncherError::accessibilityDenied().description());
        // A grant in answer to the prompt clears it at once.
        c->requestAccessibilityAccess();
        QVERIFY(c->isAccessibilityTrusted());
        QCOMPARE(c->errorMessage(), std::nullopt);

        // Once access is there, a failure of another kind is not answered by it.
        figma->running = false;
        figma->installed = false;
        c->startLaunch(shortcutFor("Autoflow"), c->launcherTiming);
        scheduler->runUntilIdle();
        c->refreshAccessibilityStatus();
        QCOMPARE(c->errorMessage(), FigmaLauncherError::figmaNotInstalled().description());

        // A re-check due after the coordinator is gone is harmless.
        c->requestAccessibilityAccess();
        const int checks = figma->tree.trustChecks;
        c.reset();
        scheduler->runUntilIdle();
        QCOMPARE(figma->tree.trustChecks, checks);
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
        // Starting untrusted neither prompts (the one prompt below is the request's) nor says so.
        QCOMPARE(c->errorMessage(), std::nullopt);
        QVERIFY(!c->isAccessibilityTrusted());
        c->requestAccessibilityAccess();
        QCOMPARE(figma->tree.promptCount, 1);
        scheduler->advanceBy(grantAt);
        figma->tree.trusted = true;
        scheduler->advanceBy(1000 - grantAt);
        QCOMPARE(c->isAccessibilityTrusted(), trustedAfter);
        QVERIFY(messages.isEmpty());
    }

    void launchesRunOneAtATimeInOrder() {
        auto c = makeCoordinator();
        // A double click, then a hotkey 100 ms later, while the first launch runs.
        c->startLaunch(shortcutFor("Autoflow"), c->launcherTiming);
        c->startLaunch(shortcutFor("Content Reel"), c->launcherTiming);
        scheduler->advanceBy(100);
        c->startLaunch(shortcutFor("Unsplash"), c->launcherTiming);
        scheduler->runUntilIdle();
        QCOMPARE(figma->ranPlugins, (QStringList{"Autoflow", "Content Reel", "Unsplash"}));
        QCOMPARE(c->errorMessage(), std::nullopt);
        QCOMPARE(c->pendingLaunchCount(), 0);
        // Each launch begins after the one before has ended: no key of one lands between the
        // keys of another.
        QStringList order = figma->timelineOf({"activate", "key", "run"});
        order.replaceInStrings(QRegularExpression("^\\d+ "), QString());
        QCOMPARE(order, (QStringList{"activate", "key ⌘K", "run Autoflow", "activate", "key ⌘K",
                                     "run Content Reel", "activate", "key ⌘K", "run Unsplash"}));
        QCOMPARE(figma->timelineOf({"type C"}).size(), 1);
    }

    void failedAndCancelledLaunchesHandOnTheirTurn() {
        figma->unavailableKeyAt = 0; // the first launch's Command-K
        auto c = makeCoordinator();
        c->launcherTiming.adaptiveWaits = false;
        c->startLaunch(shortcutFor("Autoflow"), c->launcherTiming);
        TaskHandle waiting =
            startTask(*scheduler, c->launch(shortcutFor("Content Reel"), c->launcherTiming));
        c->startLaunch(shortcutFor("Unsplash"), c->launcherTiming);
        scheduler->advanceBy(100);
        waiting.cancel();
        const int activations = figma->activations;
        scheduler->runUntilIdle();
        QCOMPARE(messages.first(), FigmaLauncherError::eventCreationFailed().description());
        // The cancelled launch never touched Figma; the one after it ran.
        QVERIFY(waiting.isFinished());
        QCOMPARE(figma->ranPlugins, QStringList{"Unsplash"});
        QCOMPARE(figma->activations, activations + 1);
        QCOMPARE(c->pendingLaunchCount(), 0);
    }
};

QTEST_GUILESS_MAIN(CoordinatorTest)
#include "tst_coordinator.moc"
