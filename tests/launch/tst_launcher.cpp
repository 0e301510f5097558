#include "launch/FigmaLauncher.h"
#include "support/LaunchOutcome.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"

#include <QTest>

#include <algorithm>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

// Most tests pin the waits as configured: adaptive waits are off. Fixed waits are written as
// {focus, Actions-open, per character, post-search, false}.
using Waits = LauncherTimingSettings;
const Waits fixedDefaults{.adaptiveWaits = false};
const Waits adaptiveDefaults;

// A launch's conditions, set on the simulated Figma before it starts.
using Setup = std::function<void(SimulatedFigma&)>;

// What happens `at` ms into a launch (0: before its first wait): the launch is cancelled, or
// another application takes the front.
struct Interrupt {
    qint64 at = -1;
    bool cancel = false;
};

// One launch: its conditions, the name, its waits, what interrupts it, and the timeline entries
// starting with `prefixes` that it must leave.
void addPath(const char* tag, Setup setUp, const QStringList& prefixes, const QStringList& steps,
             const QString& name = QStringLiteral("Autoflow"),
             const LauncherTimingSettings& waits = fixedDefaults, Interrupt interrupt = {}) {
    QTest::newRow(tag) << setUp << name << waits << interrupt << prefixes << steps;
}

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Interrupt)
Q_DECLARE_METATYPE(LauncherTimingSettings)

class LauncherTest : public QObject {
    Q_OBJECT

    std::unique_ptr<VirtualScheduler> scheduler;
    std::unique_ptr<SimulatedFigma> figma;
    std::unique_ptr<FigmaLauncher> launcher;

    TaskHandle handle; // of the last launch started

    std::shared_ptr<LaunchOutcome> start(const QString& name,
                                         LauncherTimingSettings t = fixedDefaults) {
        auto outcome = std::make_shared<LaunchOutcome>();
        handle = startTask(*scheduler, launcher->launchPlugin(name, t),
                           [outcome, f = figma.get()](std::exception_ptr error) {
                               outcome->end(error);
                               f->log("end " + outcome->describe());
                           });
        return outcome;
    }
    std::shared_ptr<LaunchOutcome> run(const QString& name,
                                       LauncherTimingSettings t = fixedDefaults) {
        auto outcome = start(name, t);
        scheduler->runUntilIdle();
        return outcome;
    }
    // The timeline of one launch with default waits against a fresh Figma set up by `setUp`.
    QStringList launchFresh(const QString& name, bool adaptive,
                            const std::function<void(SimulatedFigma&)>& setUp) {
        init();
        setUp(*figma);
        run(name, adaptive ? adaptiveDefaults : fixedDefaults);
        return figma->timeline;
    }
private slots:
    void init() {
        scheduler = std::make_unique<VirtualScheduler>();
        figma = std::make_unique<SimulatedFigma>(*scheduler);
        launcher = std::make_unique<FigmaLauncher>(figma->platform());
    }
    void cleanup() {
        if (QTest::currentTestFailed())
            qInfo().noquote() << figma->timeline.join(QStringLiteral("\n"));
        launcher.reset();
        figma.reset();
        scheduler.reset();
    }

    void aLaunchRunsEveryStepInOrderOnTime() {
        run("Autoflow");
        // Focus 180, Actions-open 80, tab poll 35, 50 before typing, 18 per character,
        // post-search 60, palette check 70.
        QCOMPARE(figma->timeline,
                 (QStringList{"0 activate", "0 raise 1", "180 key ⌘K", "180 palette opens",
                              "260 press 9", "260 tab Plugins", "295 set focus 10", "345 type A",
                              "363 type u", "381 type t", "399 type o", "417 type f", "435 type l",
                              "453 type o", "471 type w", "549 press 30", "549 run Autoflow",
                              "549 palette closes", "619 end success"}));
    }

    // Each way through a launch that still runs the plugin, to the millisecond.
    void launchTakesItsPath_data() {
        QTest::addColumn<Setup>("setUp");
        QTest::addColumn<QString>("name");
        QTest::addColumn<LauncherTimingSettings>("waits");
        QTest::addColumn<Interrupt>("interrupt");
        QTest::addColumn<QStringList>("prefixes");
        QTest::addColumn<QStringList>("steps");
        const Setup none = [](SimulatedFigma&) {};
        const auto failed = [](const char* why) {
            return FigmaLauncherError::launchFailed(why).description();
        };
        // ⌘K after 2000, the tab at once, no pauses between characters, post-search 1000.
        addPath("waits clamped", none, {"key", "tab", "type A", "type w", "run"},
                {"2000 key ⌘K", "2000 tab Plugins", "2085 type A", "2085 type w",
                 "3085 run Autoflow", "3155 end success"},
                "Autoflow", Waits{5000, -3, -7, 1000, false});
        // Started at 250; 1.2 s later it is brought to the front.
        addPath(
            "figma started", [](SimulatedFigma& f) { f.running = false; },
            {"start", "activate", "run"},
            {"0 start com.figma.Desktop", "250 started", "1450 activate", "1535 run Autoflow",
             "1605 end success"},
            "Autoflow", Waits{0, 0, 0, 0, false});
        addPath("slow activation", [](SimulatedFigma& f) { f.activationsBeforeFrontmost = 3; },
                {"activate", "key"},
                {"0 activate", "60 activate", "120 activate", "300 key ⌘K", "739 end success"});
        addPath("old search text", [](SimulatedFigma& f) { f.retainedSearchText = "abc"; },
                {"key", "type A", "run"},
                {"180 key ⌘K", "345 key ⌘A", "395 key Delete", "445 type A", "649 run Autoflow",
                 "719 end success"});
        addPath("blank old search text", [](SimulatedFigma& f) { f.retainedSearchText = " \n "; },
                {"key"}, {"180 key ⌘K", "619 end success"});
        // A field that reports its focus a moment late is still cleared and typed into, never
        // taken for one that refuses focus (typing then would add the name to the old search);
        // its settling pause counts from the request, as for any field.
        addPath("field focused late",
                [](SimulatedFigma& f) {
                    f.fieldFocusLagMilliseconds = 40;
                    f.fieldValueSettable = false;
                    f.retainedSearchText = "Lorem Ipsum";
                },
                {"key", "type A", "run"},
                {"180 key ⌘K", "345 key ⌘A", "395 key Delete", "445 type A", "649 run Autoflow",
                 "719 end success"});
        // The field never had focus, so nothing matched: Down and Return instead.
        addPath("unwritable field",
                [](SimulatedFigma& f) { f.fieldFocusable = f.fieldValueSettable = false; },
                {"key", "type", "run", "palette"},
                {"180 key ⌘K", "180 palette opens", "295 type A", "313 type u", "331 type t",
                 "349 type o", "367 type f", "385 type l", "403 type o", "421 type w",
                 "639 key Down", "684 key Return", "5684 key ⌘K", "5684 palette closes",
                 "5684 end success"});
        addPath("no search field", [](SimulatedFigma& f) { f.hasSearchField = false; },
                {"key", "type A", "run"},
                {"180 key ⌘K", "295 type A", "639 key Down", "684 key Return", "5684 key ⌘K",
                 "5684 end success"});
        // Post-search ends at 405; result polls at 405, 440, 475, 510; Down at 545.
        addPath("empty name", none, {"key", "type", "run"},
                {"180 key ⌘K", "545 key Down", "590 key Return", "5590 key ⌘K", "5590 end success"},
                "");
        addPath("unpressable result", [](SimulatedFigma& f) { f.resultsPressable = false; },
                {"key", "run"},
                {"180 key ⌘K", "549 key Down", "594 key Return", "594 run Autoflow",
                 "664 end success"});
        // The press failed and the Plugins tab never showed itself selected: Down and Return
        // would run the first result of another tab.
        addPath(
            "plugins tab never selected",
            [](SimulatedFigma& f) {
                f.resultsPressable = false;
                f.tabSelectionLagMilliseconds = -1;
            },
            {"key", "run"},
            {"180 key ⌘K", "549 end " + failed("Brevlin did not find \u201cAutoflow\u201d in "
                                               "Figma's Actions palette and could not see "
                                               "its Plugins tab selected, so nothing was run.")});
        // Tab polls at 260 … 435; the field is focused at 470.
        addPath("no plugins tab", [](SimulatedFigma& f) { f.hasPluginsTab = false; },
                {"tab", "type A"}, {"520 type A", "794 end success"});
        // The tabs appear at 280; the poll at 295 finds them.
        addPath("late tabs", [](SimulatedFigma& f) { f.tabsDelayMilliseconds = 100; }, {"tab"},
                {"295 tab Plugins", "654 end success"});
        // A palette still showing 5 s after the run is closed once. A press the application
        // handles on its own time leaves the palette showing at the first check, then closes it
        // as the run goes through: no Command-K comes to open it again.
        addPath("palette left open", [](SimulatedFigma& f) { f.paletteClosesOnRun = false; },
                {"key", "run", "palette"},
                {"180 key ⌘K", "180 palette opens", "549 run Autoflow", "5549 key ⌘K",
                 "5549 palette closes", "5549 end success"});
        addPath("late run", [](SimulatedFigma& f) { f.pressHandlingDelayMilliseconds = 200; },
                {"key", "run", "palette"},
                {"180 key ⌘K", "180 palette opens", "749 run Autoflow", "749 palette closes",
                 "759 end success"});
        // Shown closed only a second after the press (Chromium's tree, on a large page).
        addPath("palette shown closed late",
                [](SimulatedFigma& f) { f.pressHandlingDelayMilliseconds = 1000; },
                {"key", "run", "palette"},
                {"180 key ⌘K", "180 palette opens", "1549 run Autoflow", "1549 palette closes",
                 "1564 end success"});
        // Focused by a press where it refuses the focus itself: typed into, never given the name
        // as its value.
        addPath("field focused by a press",
                [](SimulatedFigma& f) {
                    f.fieldFocusable = false;
                    f.fieldFocusedByPress = true;
                },
                {"press 10", "type A", "set text", "run"},
                {"295 press 10", "345 type A", "549 run Autoflow", "619 end success"});
        // A field that refuses focus, or whose focus never comes within its budget, gets the name
        // as its value: exactly as given, untrimmed, and with no 50 ms pause on this path.
        addPath(
            "field refuses focus", [](SimulatedFigma& f) { f.fieldFocusable = false; },
            {"type", "set text", "run"},
            {"295 set text 10   Autoflow", "355 run Autoflow", "425 end success"}, "  Autoflow");
        addPath(
            "field focused too late", [](SimulatedFigma& f) { f.fieldFocusLagMilliseconds = 400; },
            {"type", "set text", "run"},
            {"445 set text 10   Autoflow", "505 run Autoflow", "575 end success"}, "  Autoflow");
        // Each user-perceived character is one key pair.
        addPath(
            "clusters", [](SimulatedFigma& f) { f.plugins = {QStringLiteral("e\u0301👍🏽x")}; },
            {"type", "run"},
            {QStringLiteral("345 type e\u0301"), "363 type 👍🏽", "381 type x",
             QStringLiteral("459 run e\u0301👍🏽x"), "529 end success"},
            QStringLiteral("e\u0301👍🏽x"));
        const QString damaged = failed("The application is damaged.");
        addPath("untrusted",
                [](SimulatedFigma& f) {
                    f.tree.trusted = false;
                    f.running = false;
                },
                {""}, {"0 end " + FigmaLauncherError::accessibilityDenied().description()});
        addPath("not installed", [](SimulatedFigma& f) { f.running = f.installed = false; }, {""},
                {"0 end " + FigmaLauncherError::figmaNotInstalled().description()});
        // Figma is not running, and starting it ends as `outcome`.
        const auto starting = [](SimulatedFigma::StartOutcome outcome) {
            return [outcome](SimulatedFigma& f) {
                f.running = false;
                f.startOutcome = outcome;
            };
        };
        const QString started = "0 start com.figma.Desktop";
        addPath("start fails", starting(SimulatedFigma::StartOutcome::failsWithError), {""},
                {started, "250 end " + damaged});
        // A failure reported is a failure, even when the application came up after all.
        addPath("start fails but runs", starting(SimulatedFigma::StartOutcome::failsButRuns), {""},
                {started, "250 end " + damaged});
        addPath("start returns nothing", starting(SimulatedFigma::StartOutcome::returnsNothing),
                {""},
                {started,
                 "250 end " + failed("Figma did not return a running application reference.")});
        addPath("no keyboard", [](SimulatedFigma& f) { f.keyboardUnavailable = true; },
                {"key", "type"},
                {"180 end " + FigmaLauncherError::eventSourceUnavailable().description()});
        // A key that has no key code posts nothing; typing stops at the character that has none,
        // before its pause, and says which.
        addPath("no key for Command-K", [](SimulatedFigma& f) { f.unavailableKeyAt = 0; },
                {"key", "type"},
                {"180 end " + FigmaLauncherError::eventCreationFailed().description()});
        addPath("no key for a character", [](SimulatedFigma& f) { f.unavailableKeyAt = 3; },
                {"key", "type"},
                {"180 key ⌘K", "345 type A", "363 type u",
                 "381 end " +
                     failed("Brevlin cannot type \u201ct\u201d: the keyboard layout has no key for "
                            "it. Switch to a layout that has it, or rename the shortcut.")});
        // The other window gets nothing: the keys end with the character that was being typed
        // when the focus went.
        addPath("focus taken while typing",
                [](SimulatedFigma& f) { f.focusLostAfterTypedCharacters = 3; },
                {"key", "type", "focus", "run"},
                {"180 key ⌘K", "345 type A", "363 type u", "381 type t", "381 focus lost",
                 "399 end " + FigmaLauncherError::focusLost().description()});
        // Results never read whole: no Down and Return on whatever comes first. A launch that ran
        // nothing fails, naming the step that found nothing.
        addPath("results never read whole",
                [](SimulatedFigma& f) { f.tree.partialFinds = 1'000'000; }, {"key", "run"},
                {"180 key ⌘K",
                 "10514 end " + failed("Brevlin could not read Figma's Actions palette in "
                                       "time to find \u201cAutoflow\u201d, so nothing was run.")});
        // After the press, a window that cannot be read whole is not taken for one whose palette
        // closed, nor for one whose palette is open: no Command-K, and the launch says so.
        addPath("palette closing undecided",
                [](SimulatedFigma& f) {
                    f.tree.addNode(f.windowNode(), Role::textField, "Width");
                    f.tree.addNode(f.windowNode(), Role::other, "Canvas");
                    f.fieldFocusable = false;
                    f.tree.onEffect = [&f](const QString& effect) {
                        const int pressed =
                            effect.startsWith("press") ? effect.section(' ', 1).toInt() : 0;
                        if (pressed > 0 && f.tree.node(pressed).role != Role::tab)
                            f.tree.partialFinds = 1'000'000;
                    };
                },
                {"key", "run"},
                {"180 key ⌘K", "355 run Autoflow",
                 "5355 end Brevlin chose \u201cAutoflow\u201d but could not read whether Figma's "
                 "Actions palette closed."});
        const auto tries = [](int count) {
            QStringList activations;
            for (int i = 0; i < count; ++i)
                activations.append(QStringLiteral("%1 activate").arg(i * 60));
            return activations;
        };
        const QString notInFront =
            failed("Brevlin could not bring Figma to the front before sending keyboard shortcuts.");
        const Setup neverInFront = [](SimulatedFigma& f) { f.becomesFrontmost = false; };
        addPath("never in front", neverInFront, {"activate", "key", "type"},
                tries(10) << "600 end " + notInFront, "Autoflow", Waits{0, 80, 18, 60, false});
        addPath("never in front after the focus delay", neverInFront, {"activate", "key", "type"},
                tries(13) << "780 end " + notInFront, "Autoflow", Waits{180, 80, 18, 60, false});
        // Without a palette from the focus, the window is searched, the design's own text field
        // first: it stands in for the search field only once the window was read whole.
        const auto designField = [](int partialFinds) {
            return [partialFinds](SimulatedFigma& f) {
                const int design = f.tree.addNode(f.windowNode(), Role::textField, "Width");
                f.tree.node(design).focusable = f.tree.node(design).textSettable = true;
                f.fieldFocusable = false; // no focus to find the palette from
                f.tree.partialFinds = partialFinds;
            };
        };
        const QStringList effects = {"key", "type", "set", "press", "select", "run"};
        addPath("design field, read whole later", designField(6), effects,
                {"180 key ⌘K", "260 press 10", "295 set text 11 Autoflow", "355 press 13",
                 "355 run Autoflow", "425 end success"});
        // Where the focus went not known yet (its report on the way): the window is searched
        // only once twice the palette's wait has gone since Command-K.
        addPath("design field, focus unreported",
                [designField](SimulatedFigma& f) {
                    designField(6)(f);
                    f.tree.focusUnreported = true;
                },
                effects,
                {"180 key ⌘K", "340 press 10", "375 set text 11 Autoflow", "435 press 13",
                 "435 run Autoflow", "505 end success"});
        addPath(
            "design field, never read whole", designField(1'000'000), effects,
            {"180 key ⌘K", "10260 end " + failed("Brevlin could not read Figma's Actions palette "
                                                 "in time to find its search field, so nothing "
                                                 "was typed or run.")});
        // Another application takes the front before Command-K, before select-all (the field
        // holds old text), before Down, before Return: the launch stops, running nothing.
        const Setup oldText = [](SimulatedFigma& f) {
            f.retainedSearchText = "old";
            f.resultsPressable = false;
        };
        const QString lost = " end " + FigmaLauncherError::focusLost().description();
        const QStringList keys = {"180 key ⌘K", "345 key ⌘A", "395 key Delete", "649 key Down"};
        addPath("focus lost: command-k", oldText, {"key", "run"}, {"180" + lost}, "Autoflow",
                fixedDefaults, {170});
        addPath("focus lost: select-all", oldText, {"key", "run"}, keys.mid(0, 1) << "345" + lost,
                "Autoflow", fixedDefaults, {250});
        addPath("focus lost: down", oldText, {"key", "run"}, keys.mid(0, 3) << "649" + lost,
                "Autoflow", fixedDefaults, {620});
        addPath("focus lost: return", oldText, {"key", "run"}, QStringList(keys) << "694" + lost,
                "Autoflow", fixedDefaults, {670});
        // Lost after the run, the front is Figma's no more: its palette is left alone.
        addPath("front lost after the run", [](SimulatedFigma& f) { f.paletteClosesOnRun = false; },
                {"key", "run", "palette"},
                {"180 key ⌘K", "180 palette opens", "549 run Autoflow", "5549 end success"},
                "Autoflow", fixedDefaults, {560});
        // A cancelled launch ends at its next wait and touches nothing after it: the start of
        // Figma is not interrupted, and in the post-search delay nothing is pressed.
        const QStringList touches = {"start", "activate", "key", "run"};
        addPath("cancelled before it began", none, touches, {"0 activate", "0 end cancelled"},
                "Autoflow", fixedDefaults, {0, true});
        addPath("cancelled while Figma starts", [](SimulatedFigma& f) { f.running = false; },
                touches, {"0 start com.figma.Desktop", "250 started", "250 end cancelled"},
                "Autoflow", fixedDefaults, {100, true});
        addPath("cancelled in the post-search delay", none, touches,
                {"0 activate", "180 key ⌘K", "500 end cancelled"}, "Autoflow", fixedDefaults,
                {500, true});
        // Adaptive: a character lost on its way, so the field never shows the name; before the
        // press the name is entered again, as the field shows the characters, then the whole
        // post-search wait, and the press runs the right plugin.
        addPath(
            "adaptive, character lost", [](SimulatedFigma& f) { f.lostTypedCharacterAt = 3; },
            {"key", "type l", "run"},
            {"0 key ⌘K", "35 type l", "361 key ⌘A", "411 key Delete", "461 type l",
             "521 run Content Reel", "521 end success"},
            "Content Reel", adaptiveDefaults);
        // A character that never reaches the field: no Down and Return after a search for others,
        // nor a press of the result a lagging tree still lists.
        const QString untyped = failed("Brevlin could not type “Café Tools” into Figma's Actions "
                                       "palette, so nothing was run. Check that your keyboard "
                                       "layout can type every character of the name.");
        addPath(
            "adaptive, character never typed",
            [](SimulatedFigma& f) { f.untypableCharacters = QStringLiteral("é"); },
            {"key ⌘K", "key Down", "end"}, {"0 key ⌘K", "665 end " + untyped}, "Café Tools",
            adaptiveDefaults);
        addPath(
            "adaptive, character never typed, result still listed",
            [](SimulatedFigma& f) {
                f.untypableCharacters = QStringLiteral("é");
                f.listedQuery = QStringLiteral("Café");
            },
            {"key ⌘K", "key Down", "run", "end"}, {"0 key ⌘K", "605 end " + untyped}, "Café Tools",
            adaptiveDefaults);
        // The same where the field shows what keys do only after the typing: it was seen to show
        // a text (the old search), so the text it shows before the press is checked.
        addPath(
            "adaptive, character never typed, field text late",
            [](SimulatedFigma& f) {
                f.retainedSearchText = QStringLiteral("Iconify");
                f.untypableCharacters = QStringLiteral("é");
                f.listedQuery = QStringLiteral("Café");
                f.fieldTextLagMilliseconds = 300;
            },
            {"key ⌘K", "key Down", "run", "end"}, {"0 key ⌘K", "655 end " + untyped}, "Café Tools",
            adaptiveDefaults);
        // The field keeps the last search, unread in time: it is cleared first, in both modes.
        const Setup unreadText = [](SimulatedFigma& f) {
            f.retainedSearchText = QStringLiteral("Iconify");
            f.tree.unansweredTextReads = 1;
        };
        addPath("field not read in time", unreadText, {"key", "type C", "run"},
                {"180 key ⌘K", "345 key ⌘A", "395 key Delete", "445 type C", "721 run Content Reel",
                 "791 end success"},
                "Content Reel");
        // Adaptive, Delete goes once the old text shows selected, or after the whole pause where
        // the field does not show its selection.
        addPath("adaptive, field not read in time", unreadText, {"key", "type C", "run"},
                {"0 key ⌘K", "35 key ⌘A", "35 key Delete", "35 type C", "35 run Content Reel",
                 "35 end success"},
                "Content Reel", adaptiveDefaults);
        addPath(
            "adaptive, field not read in time, selection not shown",
            [unreadText](SimulatedFigma& f) {
                unreadText(f);
                f.fieldShowsSelection = false;
            },
            {"key", "type C", "run"},
            {"0 key ⌘K", "35 key ⌘A", "85 key Delete", "85 type C", "85 run Content Reel",
             "85 end success"},
            "Content Reel", adaptiveDefaults);
        // Adaptive typing: a field whose text reads (here its old search) takes the whole name
        // at once; one whose text never reads gets three characters ahead, then one per typing
        // delay, as without adaptive waits.
        addPath(
            "adaptive, old search shown",
            [](SimulatedFigma& f) {
                f.retainedSearchText = QStringLiteral("Iconify");
                f.fieldTextLagMilliseconds = 20;
            },
            {"key", "type", "run"},
            {"0 key ⌘K", "35 key ⌘A", "35 key Delete", "55 type A", "55 type u", "55 type t",
             "55 type o", "55 type f", "55 type l", "55 type o", "55 type w", "75 run Autoflow",
             "75 end success"},
            "Autoflow", adaptiveDefaults);
        addPath(
            "adaptive, field text never shown",
            [](SimulatedFigma& f) {
                f.fieldTextLagMilliseconds = 1'000'000;
                f.fieldTextReadable = false;
            },
            {"key", "type", "run"},
            {"0 key ⌘K", "35 type A", "35 type u", "35 type t", "53 type o", "71 type f",
             "89 type l", "107 type o", "125 type w", "193 run Autoflow", "193 end success"},
            "Autoflow", adaptiveDefaults);
        // Figma takes 7 ms to act on each key: adaptive, each wait ends within a look of its
        // condition, ⌘K goes at once, and the name at once into the field, whose text reads;
        // fixed, the same launch takes the whole floor.
        const Setup slow = [](SimulatedFigma& f) {
            f.reactionDelayMilliseconds = 7;
            f.tabSelectionLagMilliseconds = 7;
        };
        const QStringList waitEnds = {"key",    "palette", "tab", "set focus",
                                      "type C", "type l",  "run"};
        addPath("adaptive, slow Figma", slow, waitEnds,
                {"7 key ⌘K", "7 palette opens", "10 tab Plugins", "20 set focus 10", "27 type C",
                 "27 type l", "27 run Content Reel", "27 palette closes", "27 end success"},
                "Content Reel", adaptiveDefaults);
        addPath("slow Figma", slow, waitEnds,
                {"187 key ⌘K", "187 palette opens", "260 tab Plugins", "295 set focus 10",
                 "352 type C", "550 type l", "621 run Content Reel", "621 palette closes",
                 "691 end success"},
                "Content Reel");
    }
    void launchTakesItsPath() {
        QFETCH(Setup, setUp);
        QFETCH(QString, name);
        QFETCH(LauncherTimingSettings, waits);
        QFETCH(Interrupt, interrupt);
        QFETCH(QStringList, prefixes);
        QFETCH(QStringList, steps);
        setUp(*figma);
        start(name, waits);
        if (interrupt.at > 0)
            scheduler->advanceBy(interrupt.at);
        if (interrupt.cancel)
            handle.cancel();
        else if (interrupt.at >= 0)
            figma->frontmost = SimulatedFigma::otherBundleIdentifier;
        scheduler->runUntilIdle();
        QCOMPARE(figma->timelineOf(prefixes + QStringList{"end"}), steps);
        QCOMPARE(figma->tree.promptCount, 0);
    }

    // A tree read in bounded steps: each search goes on until it has read its scope whole.
    void partlyReadTreeIsSearchedUntilReadWhole() {
        figma->plugins = {"Content Reel tutorial", "Content Reel"};
        figma->tree.partialFinds = 12;
        QVERIFY(run("Content Reel")->succeeded());
        QCOMPARE(figma->timelineOf({"tab", "key", "run"}),
                 (QStringList{"180 key ⌘K", "270 tab Plugins", "631 run Content Reel"}));
        // Found from the focused field: every search after the palette's own stays inside it.
        QCOMPARE(figma->tree.finds.first(), "palette " + QString::number(figma->applicationNode()));
        for (const QString& find : figma->tree.finds.mid(1))
            QVERIFY2(find.section(' ', 1) != QString::number(figma->applicationNode()),
                     qPrintable(find));
    }

    // Ahead of any launch, a running Figma is asked for its interface and nothing else: nothing
    // is started, brought forward or typed. Without the permission, or with no Figma running,
    // nothing is asked.
    void aRunningTargetIsAskedForItsInterfaceAhead() {
        const auto prepare = [this](const Setup& setUp) {
            init();
            setUp(*figma);
            launcher->prepareRunningTarget();
            scheduler->runUntilIdle();
            return figma->tree.applicationRequests;
        };
        QCOMPARE(prepare([](SimulatedFigma&) {}), 1);
        QCOMPARE(figma->timeline, QStringList());
        QCOMPARE(prepare([](SimulatedFigma& f) { f.tree.trusted = false; }), 0);
        QCOMPARE(figma->tree.promptCount, 0);
        QCOMPARE(prepare([](SimulatedFigma& f) { f.running = false; }), 0);
        QCOMPARE(figma->timeline, QStringList());
        QVERIFY(!figma->running);
    }

    // On Linux the messages say what to restart (and what to install: the workspace test).
    void errorTextsFollowThePlatform() {
        using K = FigmaLauncherError::Kind;
        QVERIFY(
            figmaLauncherErrorDescription(K::accessibilityDenied, {}, TextPlatform::linuxDesktop)
                .contains("restart Figma"));
        QCOMPARE(QString::fromUtf8(FigmaLauncherError::figmaNotInstalled().what()),
                 FigmaLauncherError::figmaNotInstalled().description());
    }

    // Figma slow to open its palette: while it opens, only where the focus is gets asked. The
    // window is never searched meanwhile (on a large file each such search costs the most and
    // finds nothing current), and everything after is searched inside the palette.
    void onlyTheFocusIsAskedWhileThePaletteOpens() {
        launchFresh("Content Reel", true,
                    [](SimulatedFigma& f) { f.reactionDelayMilliseconds = 30; });
        QCOMPARE(figma->ranPlugins, QStringList{"Content Reel"});
        const QStringList finds = figma->tree.finds;
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
        const QStringList adaptive = launchFresh("Autoflow", true, blind);
        QCOMPARE(adaptive, launchFresh("Autoflow", false, blind));
        QCOMPARE(figma->timeOf("key ⌘K"), 180);
        QVERIFY(figma->timeOf("key Down") > 0);
    }
};

QTEST_GUILESS_MAIN(LauncherTest)
#include "tst_launcher.moc"
