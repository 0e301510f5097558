// Adaptive waits in virtual time: each wait ends once what it waits for shows, lasts at most its
// configured delay, and is the configured delay where nothing can be seen.

#include "launch/FigmaLauncher.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"

#include <QTest>

#include <algorithm>

using namespace brevlin;
using brevlin::testing::SimulatedFigma;
using brevlin::testing::VirtualScheduler;

namespace {

// One launch of `name` against a simulated Figma set up by `setUp`; its timeline.
QStringList launch(const QString& name, bool adaptive,
                   const std::function<void(SimulatedFigma&)>& setUp, QStringList* ran = nullptr,
                   QStringList* finds = nullptr) {
    VirtualScheduler scheduler;
    SimulatedFigma figma(scheduler);
    setUp(figma);
    FigmaLauncher launcher(figma.platform());
    LauncherTimingSettings timing;
    timing.adaptiveWaits = adaptive;
    bool failed = false;
    startTask(scheduler, launcher.launchPlugin(name, timing),
              [&failed](std::exception_ptr error) { failed = bool(error); });
    scheduler.runUntilIdle();
    if (failed)
        qWarning("the launch failed");
    if (ran)
        *ran = figma.ranPlugins;
    if (finds)
        *finds = figma.tree.finds;
    return figma.timeline;
}

// When the first entry starting with `what` happened, in virtual milliseconds, or -1.
qint64 at(const QStringList& timeline, const QString& what, int nth = 0) {
    for (const QString& entry : timeline) {
        if (entry.section(' ', 1).startsWith(what) && nth-- == 0)
            return entry.section(' ', 0, 0).toLongLong();
    }
    return -1;
}

} // namespace

class AdaptiveWaitsTest : public QObject {
    Q_OBJECT
private slots:
    // Figma takes 7 ms to act on each key. Every wait ends within one look of its condition
    // instead of running its configured length (180, 80, 18 per character, 60).
    void eachWaitEndsAtItsCondition() {
        QStringList ran;
        const QStringList t = launch(
            "Content Reel", true, [](SimulatedFigma& f) { f.reactionDelayMilliseconds = 7; }, &ran);
        QCOMPARE(ran, QStringList{"Content Reel"});
        // Sent at once (Figma is frontmost with its window focused), taken 7 ms later.
        QVERIFY2(at(t, "key ⌘K") == 7, qPrintable(t.join('\n')));
        QVERIFY(at(t, "tab Plugins") - at(t, "palette opens") <= 5);
        // Three characters at a time run ahead of the field, each three shown 7 ms later.
        QCOMPARE(at(t, "type", 11) - at(t, "type", 0), 3 * 7);
        QVERIFY(at(t, "run Content Reel") - at(t, "type", 11) <= 5);
        QCOMPARE(at(t, "key Down"), -1);
        // With fixed waits the same launch takes the whole floor.
        const QStringList fixed = launch(
            "Content Reel", false, [](SimulatedFigma& f) { f.reactionDelayMilliseconds = 7; });
        QVERIFY(at(fixed, "run Content Reel") >= 621);
        QVERIFY(at(t, "run Content Reel") < 200);
    }

    // Figma slow to open its palette: while it opens, only where the focus is gets asked. The
    // window is never searched meanwhile (on a large file each such search costs the most and
    // finds nothing current), and everything after is searched inside the palette.
    void onlyTheFocusIsAskedWhileThePaletteOpens() {
        QStringList ran, finds;
        launch(
            "Content Reel", true, [](SimulatedFigma& f) { f.reactionDelayMilliseconds = 30; }, &ran,
            &finds);
        QCOMPARE(ran, QStringList{"Content Reel"});
        const auto firstSearch = std::find_if(
            finds.begin(), finds.end(), [](const QString& f) { return !f.startsWith("palette "); });
        QVERIFY2(firstSearch - finds.begin() >= 2, qPrintable(finds.join('\n')));
        const QString palette = firstSearch->section(' ', 1);
        for (auto find = firstSearch; find != finds.end(); ++find)
            QVERIFY2(find->section(' ', 1) == palette, qPrintable(finds.join('\n')));
    }

    // A window that never reports the focus and a palette without a search field: nothing the
    // waits look for ever shows, so each lasts its maximum and the launch is the fixed one, down
    // to the Down and Return after the whole result budget.
    void unseenConditionsWaitTheConfiguredTime() {
        const auto blind = [](SimulatedFigma& f) {
            f.tree.setElements(f.applicationNode(), Relation::focusedWindow, {});
            f.hasSearchField = false;
        };
        const QStringList adaptive = launch("Autoflow", true, blind);
        QCOMPARE(adaptive, launch("Autoflow", false, blind));
        QCOMPARE(at(adaptive, "key ⌘K"), 180);
        QVERIFY(at(adaptive, "key Down") > 0);
    }

    // A character lost on its way: the field never shows the name, so before the press the name
    // is entered again, and the press runs the right plugin.
    void fieldNotHoldingTheNameIsRetypedBeforeThePress() {
        QStringList ran;
        const QStringList t = launch(
            "Content Reel", true, [](SimulatedFigma& f) { f.lostTypedCharacterAt = 3; }, &ran);
        QCOMPARE(ran, QStringList{"Content Reel"});
        QVERIFY2(at(t, "key ⌘A") > at(t, "type", 11), qPrintable(t.join('\n')));
        QVERIFY(at(t, "key Delete") > at(t, "key ⌘A"));
        // Typed again as the field shows the characters, then the whole post-search wait.
        QCOMPARE(at(t, "run Content Reel") - at(t, "type", 23), 60);
        QCOMPARE(at(t, "key Down"), -1);
    }

    // The field keeps the last search, and reading it runs out of time: it may hold text, so it
    // is cleared before typing, in both modes, rather than typed after.
    void fieldNotReadInTimeIsClearedBeforeTyping() {
        for (const bool adaptive : {true, false}) {
            QStringList ran;
            const QStringList t = launch(
                "Content Reel", adaptive,
                [](SimulatedFigma& f) {
                    f.retainedSearchText = QStringLiteral("Iconify");
                    f.tree.unansweredTextReads = 1;
                },
                &ran);
            QCOMPARE(ran, QStringList{"Content Reel"});
            const auto index = [&t](const QString& what) {
                return std::find_if(t.begin(), t.end(),
                                    [&](const QString& e) { return e.section(' ', 1) == what; }) -
                       t.begin();
            };
            QVERIFY2(index("key ⌘A") < index("key Delete") && index("key Delete") < index("type C"),
                     qPrintable(t.join('\n')));
        }
    }
};

QTEST_GUILESS_MAIN(AdaptiveWaitsTest)
#include "tst_adaptive_waits.moc"
