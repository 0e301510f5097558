#include "FigmaLauncher.h"

#include "model/DockItem.h"

#include <QLoggingCategory>
#include <QTextBoundaryFinder>

#include <algorithm>

#include <utility>

namespace brevlin {

namespace {

// Each step of a launch with the time since it began: QT_LOGGING_RULES="brevlin.launch.debug=true"
// shows where a slow launch spends its time.
Q_LOGGING_CATEGORY(launchLog, "brevlin.launch", QtWarningMsg)

constexpr qint64 nanosecondsPerMillisecond = 1'000'000;
constexpr qint64 activationBudgetMilliseconds = 600;
constexpr qint64 activationPollMilliseconds = 60;
constexpr qint64 startupSettleMilliseconds = 1200;
// How long a search goes on past its budget while it cannot read its whole scope (a large tree
// read in bounded steps). Giving up on a search that has not seen its whole scope would search
// the wrong tab, type into one of the design's own fields, or fall back to Down and Return on
// whatever result comes first; so past this, the launch fails instead. Chromium's tree shows its
// page's changes late on a large page (the palette 2.2 to 2.9 s after Ctrl+K, beside 10,000
// rows): a read budget shorter than that fails launches that would have run.
constexpr qint64 partialReadBudgetMilliseconds = 5000;
constexpr qint64 downToReturnMilliseconds = 45;
constexpr qint64 paletteCloseCheckMilliseconds = 70;
// A toolkit that moves the focus on its own thread (Chromium) reports the field focused a moment
// after it was asked to focus it; until then the field would be taken for one that refuses focus.
constexpr qint64 fieldFocusBudgetMilliseconds = 150;
constexpr qint64 fieldFocusPollMilliseconds = 10;
// How often an adaptive wait looks at what it waits for: a look that searches the tree, and one
// that reads a single text (the field while the name is typed).
constexpr qint64 readinessPollMilliseconds = 5;
constexpr qint64 textPollMilliseconds = 1;
constexpr qint64 continuedReadMilliseconds = 1;
// How far the typing may run ahead of a field not yet seen to show text. Once the field shows
// what it holds, the rest of the name goes as fast as the keys can be sent: the target reads keys
// in the order they came, and Chromium takes a name sent at once without losing a key even
// beside 10,000 rows, where each of its updates comes 25 to 45 ms after the keys (one character
// per update would cost a third of a second). A field whose text cannot be read keeps this lead,
// so each character past it costs the configured delay, as without adaptive waits.
constexpr std::size_t typingLeadCharacters = 3;

const QString notFrontmostMessage =
    QStringLiteral("Brevlin could not bring Figma to the front before sending keyboard shortcuts.");
const QString noApplicationMessage =
    QStringLiteral("Figma did not return a running application reference.");
const QString fieldUnreadMessage =
    QStringLiteral("Brevlin could not read Figma's Actions palette in time to find its search "
                   "field, so nothing was typed or run.");
const QString resultUnreadMessage =
    QStringLiteral("Brevlin could not read Figma's Actions palette in time to find \u201c%1\u201d, "
                   "so nothing was run.");
const QString tabUnconfirmedMessage =
    QStringLiteral("Brevlin did not find \u201c%1\u201d in Figma's Actions palette and could not "
                   "see its Plugins tab selected, so nothing was run.");
const QString fieldWrongMessage =
    QStringLiteral("Brevlin could not type \u201c%1\u201d into Figma's Actions palette, so "
                   "nothing was run. Check that your keyboard layout can type every character "
                   "of the name.");
const QString closeUnreadMessage =
    QStringLiteral("Brevlin chose \u201c%1\u201d but could not read whether Figma's Actions "
                   "palette closed.");

// The launch's errors for keys that did not go.
void requirePosted(KeyResult result) {
    switch (result) {
    case KeyResult::posted:
        return;
    case KeyResult::keyboardUnavailable:
        throw FigmaLauncherError::eventSourceUnavailable();
    case KeyResult::keyUnavailable:
        throw FigmaLauncherError::eventCreationFailed();
    }
}

} // namespace

std::vector<Relation> FigmaLauncher::defaultTraversalRelations() {
    return {Relation::focusedWindow, Relation::mainWindow, Relation::windows, Relation::children,
            Relation::contents};
}

FigmaLauncher::FigmaLauncher(LaunchPlatform platform, QString figmaBundleIdentifier,
                             qint64 uiPollIntervalMilliseconds,
                             std::vector<Relation> traversalRelations)
    : figmaBundleIdentifier(std::move(figmaBundleIdentifier))
    , uiPollIntervalMilliseconds(uiPollIntervalMilliseconds)
    , traversalRelations(std::move(traversalRelations))
    , m_platform(platform)
    , m_traversal(platform.accessibility, this->traversalRelations)
    , m_targets{this->figmaBundleIdentifier}
    , m_currentTarget(this->figmaBundleIdentifier) {}

void FigmaLauncher::setTargets(QStringList applicationIds) {
    m_targets = std::move(applicationIds);
}

void FigmaLauncher::prepareRunningTarget() {
    m_platform.accessibility.checkProcessTrusted(
        false, [this, alive = std::weak_ptr<const bool>(m_alive)](bool trusted) {
            if (!trusted || alive.expired())
                return;
            for (const QString& identifier : m_targets) {
                if (const RunningApplicationPtr running =
                        m_platform.workspace.findRunning(identifier)) {
                    m_platform.accessibility.applicationElement(running->processIdentifier());
                    return;
                }
            }
        });
}

qint64 FigmaLauncher::nowNanoseconds() const {
    return m_platform.scheduler.nowNanoseconds();
}

qint64 FigmaLauncher::millisecondsUntil(qint64 deadlineNanoseconds) const {
    // Rounded up: a wait that ends by it never ends before it.
    return qMax<qint64>(0,
                        (deadlineNanoseconds - nowNanoseconds() + nanosecondsPerMillisecond - 1) /
                            nanosecondsPerMillisecond);
}

bool FigmaLauncher::isFigmaFrontmost() {
    return m_platform.workspace.isFrontmost(m_currentTarget);
}

Task<void> FigmaLauncher::launchPlugin(QString pluginName, LauncherTimingSettings timing) {
    const LauncherTimingSettings clamped = timing.clamped();
    Scheduler& scheduler = m_platform.scheduler;

    // Nothing of Figma is touched without the permission. Asked without blocking: the answer
    // is a bus round trip away, and the bus may be slow to give it.
    AccessibilityApi& accessibility = m_platform.accessibility;
    const bool trusted = co_await ContinuationAwaiter<bool>(
        scheduler, [&accessibility](ContinuationAwaiter<bool>::Resume resume) {
            accessibility.checkProcessTrusted(false, std::move(resume));
        });
    if (!trusted)
        throw FigmaLauncherError::accessibilityDenied();
    const qint64 launchStarted = nowNanoseconds();
    const auto step = [&](const char* what) {
        qCDebug(launchLog, "%s %s at %lld ms", qUtf8Printable(pluginName), what,
                (nowNanoseconds() - launchStarted) / nanosecondsPerMillisecond);
    };

    const RunningApplicationPtr application = co_await ensureFigmaIsRunning();
    const bool wasRunning = !m_startedTarget;
    const qint64 processIdentifier = application->processIdentifier();
    AccessibleElement applicationElement =
        m_platform.accessibility.applicationElement(processIdentifier);

    // Adaptive, each configured delay is the longest its wait lasts. A target just started may
    // call its window active, and its palette open, before its page takes keys (it may still be
    // loading): a launch that started it keeps every wait whole.
    const bool adaptive = clamped.adaptiveWaits && wasRunning;
    step("running");
    // The focus delay is the time Figma has had to come forward since it was asked to.
    const qint64 focusDue = co_await bringFigmaToFront(application, applicationElement,
                                                       clamped.focusDelayMilliseconds) +
                            clamped.focusDelayMilliseconds * nanosecondsPerMillisecond;
    step("in front");
    co_await waitForContents(applicationElement, processIdentifier, focusDue, adaptive);
    // Every search from here on stays inside the target window: a browser's web app shares its
    // application with the browser's ordinary windows, which may show the same page.
    const AccessibleElement searchRoot =
        co_await waitForTargetWindowFrame(applicationElement, application);
    // Found while the delay runs; with fixed waits the rest of it is waited out.
    if (!adaptive)
        co_await sleepFor(scheduler, millisecondsUntil(focusDue));
    step("window ready");

    requireFigmaFocused();
    // The palette's time counts from the shortcut: sending its keys takes a few round trips.
    const qint64 paletteAsked = nowNanoseconds();
    sendKeyStroke(Key::k, KeyModifier::primary);
    // A focus not known yet is waited for a while past the palette's wait before the whole window
    // is searched: Chromium beside 10,000 rows reports its palette's focus 40 to 90 ms after the
    // shortcut, and once a search of its whole window has begun, it answers nothing else for a
    // second and more.
    SearchScope scope{searchRoot,
                      {},
                      paletteAsked +
                          2 * clamped.actionsOpenDelayMilliseconds * nanosecondsPerMillisecond};
    // The conditions are named, not temporaries in the co_await: GCC 12 may destroy such a
    // temporary twice.
    const Sought searchField{Sought::Kind::searchField};
    // While the palette opens, only the focus is asked after: the whole window is searched only
    // once this wait is over without the focus in a palette (a target whose palette does not
    // take the focus). Searching it meanwhile finds nothing current on a large page, and keeps
    // the target busy answering.
    const std::function<bool()> fieldFocused = [&] {
        if (anchorPalette(scope) != Presence::found)
            return false;
        const Finding field = accessibility.find(scope.element(), searchField);
        return field.isFound() && m_traversal.isElementFocused(field.element);
    };
    step(co_await waitUntil(millisecondsUntil(paletteAsked + clamped.actionsOpenDelayMilliseconds *
                                                                 nanosecondsPerMillisecond),
                            adaptive, fieldFocused)
             ? "palette open, its field focused"
             : "palette wait over");

    anchorPalette(scope);
    const std::optional<AccessibleElement> pluginsTab = co_await selectPluginsTab(scope, adaptive);
    step("plugins tab");
    const std::optional<EnteredField> field = co_await enterSearchText(pluginName, scope, clamped);
    const Sought wanted{Sought::Kind::result, pluginName};
    const std::function<bool()> resultShowing = [&] {
        return accessibility.find(scope.element(), wanted).isFound();
    };
    step("typed");
    step(co_await waitUntil(clamped.postSearchDelayMilliseconds, adaptive, resultShowing)
             ? "result showing"
             : "result wait over");
    // Before anything is pressed, a field that shows a text must hold the name: else the search
    // lists other plugins, and a tree that lags the page may still list the name's result, whose
    // press then runs nothing. Also where the typing was not seen, nor the field focused in time:
    // a tree that lags shows the field's text late, and its results as they were before.
    if (adaptive && field && !co_await ensureFieldHoldsName(pluginName, *field, clamped))
        throw FigmaLauncherError::launchFailed(fieldWrongMessage.arg(pluginName));

    const ResultOutcome result = co_await selectResult(pluginName, scope, resultBudgetMilliseconds);
    // A result that was never read whole is not known to be missing: Down and Return would run
    // whatever comes first, so nothing runs and the launch says why.
    if (result == ResultOutcome::unread)
        throw FigmaLauncherError::launchFailed(resultUnreadMessage.arg(pluginName));
    step(result == ResultOutcome::pressed ? "pressed" : "not pressed");
    if (result == ResultOutcome::notPressed) {
        // Down and Return run whatever the palette lists first. Outside the Plugins tab that may
        // be a file or a tutorial with a similar name; a tree that shows the page late still shows
        // the tab unpressed. So the tab pressed must read selected now, else nothing runs.
        if (pluginsTab && !accessibility.isSelected(*pluginsTab))
            throw FigmaLauncherError::launchFailed(tabUnconfirmedMessage.arg(pluginName));
        requireFigmaFocused();
        sendKeyStroke(Key::downArrow, {});
        co_await sleepFor(scheduler, downToReturnMilliseconds);
        requireFigmaFocused();
        sendKeyStroke(Key::returnKey, {});
    }
    co_await closeActionsPaletteIfOpen(scope, pluginName, adaptive);
    step("palette closed");
}

Task<RunningApplicationPtr> FigmaLauncher::ensureFigmaIsRunning() {
    WorkspaceApi& workspace = m_platform.workspace;
    // The first target that runs or is installed is the one: a target preferred over another is
    // started rather than the other one used because it happens to run.
    StartResult outcome = StartResult::notInstalled();
    // A copy: the list may be changed while the launch waits.
    const QStringList targets = m_targets;
    m_startedTarget = false;
    for (const QString& identifier : targets) {
        m_currentTarget = identifier;
        if (RunningApplicationPtr running = workspace.findRunning(identifier))
            co_return running;
        outcome = co_await ContinuationAwaiter<StartResult>(
            m_platform.scheduler,
            [&workspace, &identifier](ContinuationAwaiter<StartResult>::Resume resume) {
                workspace.start(identifier, std::move(resume));
            });
        if (outcome.kind != StartResult::Kind::notInstalled) {
            m_startedTarget = true;
            break;
        }
    }
    if (outcome.kind == StartResult::Kind::notInstalled)
        throw FigmaLauncherError::figmaNotInstalled();
    if (outcome.kind == StartResult::Kind::failed)
        throw FigmaLauncherError::launchFailed(outcome.message);
    // A start reported without its instance leaves nothing to drive.
    if (!outcome.application)
        throw FigmaLauncherError::launchFailed(noApplicationMessage);

    // The settling time also lets an application that publishes its tree on request do so.
    AccessibleElement element;
    const qint64 settled = nowNanoseconds() + startupSettleMilliseconds * nanosecondsPerMillisecond;
    co_await waitForContents(element, outcome.application->processIdentifier(), settled);
    co_await sleepFor(m_platform.scheduler, millisecondsUntil(settled));
    co_return outcome.application;
}

Task<qint64> FigmaLauncher::bringFigmaToFront(RunningApplicationPtr application,
                                              AccessibleElement applicationElement,
                                              qint64 focusDelayMilliseconds) {
    const qint64 deadline =
        nowNanoseconds() +
        (activationBudgetMilliseconds + focusDelayMilliseconds) * nanosecondsPerMillisecond;
    while (nowNanoseconds() < deadline) {
        const qint64 asked = nowNanoseconds();
        application->activate();
        // Only the target window is raised: the application's main window may be another one.
        if (const QString title = application->windowTitle(); title.isEmpty())
            m_traversal.focusMainWindow(applicationElement);
        else if (const auto frame = targetWindowFrame(applicationElement, title);
                 frame && !(*frame == applicationElement))
            m_platform.accessibility.raise(*frame);
        if (isFigmaFrontmost())
            co_return asked;
        co_await sleepFor(m_platform.scheduler, activationPollMilliseconds);
    }
    throw FigmaLauncherError::launchFailed(notFrontmostMessage);
}

Task<void> FigmaLauncher::waitForContents(AccessibleElement& applicationElement,
                                          qint64 processIdentifier, qint64 deadline,
                                          bool untilFocused) {
    AccessibilityApi& accessibility = m_platform.accessibility;
    const auto activeWindow = [&] {
        return applicationElement.isNull()
                   ? std::vector<AccessibleElement>()
                   : accessibility.elements(applicationElement, Relation::focusedWindow);
    };
    if (untilFocused) {
        // A running target's window takes keys once it is active: whether its page has
        // published its tree yet is for the palette's wait to find out. Asking for the window's
        // contents here would read through the toolkit's layers of nameless containers on every
        // look, which on Chromium takes a whole turn's reading time.
        const std::function<bool()> focused = [&] {
            if (applicationElement.isNull())
                applicationElement = accessibility.applicationElement(processIdentifier);
            return isFigmaFrontmost() && !activeWindow().empty();
        };
        co_await waitUntil(millisecondsUntil(deadline), true, focused);
        co_return;
    }
    auto hasContents = [&] {
        std::vector<AccessibleElement> windows = activeWindow();
        if (windows.empty() && !applicationElement.isNull())
            windows = accessibility.elements(applicationElement, Relation::mainWindow);
        return !windows.empty() &&
               !accessibility.elements(windows.front(), Relation::children).empty();
    };
    while (!hasContents() &&
           deadline - nowNanoseconds() > uiPollIntervalMilliseconds * nanosecondsPerMillisecond) {
        co_await sleepFor(m_platform.scheduler, uiPollIntervalMilliseconds);
        applicationElement = accessibility.applicationElement(processIdentifier);
    }
}

Task<bool> FigmaLauncher::waitUntil(qint64 milliseconds, bool adaptive, std::function<bool()> ready,
                                    qint64 pollMilliseconds) {
    const qint64 deadline =
        nowNanoseconds() + qMax<qint64>(0, milliseconds) * nanosecondsPerMillisecond;
    // Fixed, the wait stays whole. Meanwhile what the next step looks for is read, until it
    // shows, so that the step finds the tree read already: a cold read of a palette costs more
    // than the wait's own rounding.
    bool seen = false;
    for (;;) {
        if (!seen && (adaptive || nowNanoseconds() < deadline))
            seen = ready();
        if (seen && adaptive)
            co_return true;
        const qint64 left = millisecondsUntil(deadline);
        if (left <= 0)
            co_return false;
        co_await sleepFor(m_platform.scheduler, seen ? left : qMin(pollMilliseconds, left));
    }
}

std::optional<AccessibleElement>
FigmaLauncher::targetWindowFrame(const AccessibleElement& applicationElement,
                                 const QString& windowTitle) const {
    AccessibilityApi& accessibility = m_platform.accessibility;
    const std::vector<AccessibleElement> windows =
        accessibility.elements(applicationElement, Relation::windows);
    if (windowTitle.isEmpty() || windows.size() <= 1)
        return applicationElement;
    std::vector<AccessibleElement> titled;
    for (const AccessibleElement& window : windows)
        if (accessibility.text(window, LabelText::title) == windowTitle)
            titled.push_back(window);
    if (titled.size() == 1)
        return titled.front();
    // Windows with the same title: the one the desktop made active, which the target is by now.
    const std::vector<AccessibleElement> active =
        accessibility.elements(applicationElement, Relation::focusedWindow);
    if (!active.empty() && std::find(titled.begin(), titled.end(), active.front()) != titled.end())
        return active.front();
    return std::nullopt;
}

Task<AccessibleElement>
FigmaLauncher::waitForTargetWindowFrame(const AccessibleElement& applicationElement,
                                        RunningApplicationPtr application) {
    const qint64 deadline =
        nowNanoseconds() + activationBudgetMilliseconds * nanosecondsPerMillisecond;
    for (;;) {
        if (const auto frame = targetWindowFrame(applicationElement, application->windowTitle()))
            co_return *frame;
        // A frame still naming an older title, or not yet listed: the target window cannot be
        // told from the others, and nothing may be sent to a window that might be another.
        if (nowNanoseconds() >= deadline)
            throw FigmaLauncherError::launchFailed(notFrontmostMessage);
        co_await sleepFor(m_platform.scheduler, uiPollIntervalMilliseconds);
    }
}

Presence FigmaLauncher::anchorPalette(SearchScope& scope) {
    if (!scope.palette.isNull())
        return Presence::found;
    const Finding palette =
        m_platform.accessibility.find(scope.application, Sought{Sought::Kind::actionsPalette});
    if (palette.isFound())
        scope.palette = palette.element;
    return palette.presence;
}

Task<Finding> FigmaLauncher::findWithin(SearchScope& scope, Sought sought, qint64 deadline,
                                        qint64 partialReadDeadline) {
    for (;;) {
        if (anchorPalette(scope) == Presence::unknown &&
            nowNanoseconds() < scope.windowSearchFrom && nowNanoseconds() < partialReadDeadline) {
            co_await sleepFor(m_platform.scheduler, readinessPollMilliseconds);
            continue;
        }
        Finding finding = m_platform.accessibility.find(scope.element(), sought);
        const qint64 now = nowNanoseconds();
        if (finding.isFound() || (finding.presence == Presence::absent && now >= deadline) ||
            now >= partialReadDeadline)
            co_return finding;
        // A read the backend cut short (to let the main thread go) goes on at the next turn; a
        // scope read whole is looked at again at the poll's pace.
        co_await sleepFor(m_platform.scheduler, finding.presence == Presence::unknown
                                                    ? continuedReadMilliseconds
                                                    : uiPollIntervalMilliseconds);
    }
}

Task<std::optional<AccessibleElement>> FigmaLauncher::selectPluginsTab(SearchScope& scope,
                                                                       bool adaptive) {
    const qint64 start = nowNanoseconds();
    // Named, not a temporary in the co_await: GCC 12 may destroy such a temporary twice.
    const Sought pluginsTab{Sought::Kind::pluginsTab};
    const Finding tab = co_await findWithin(
        scope, pluginsTab, start + pluginsTabBudgetMilliseconds * nanosecondsPerMillisecond,
        start + partialReadBudgetMilliseconds * nanosecondsPerMillisecond);
    // Without the tab the search runs in whatever tab the palette shows.
    if (!tab.isFound())
        co_return std::nullopt;
    const qint64 pressAsked = nowNanoseconds();
    const bool pressed = co_await actWithoutWaiting(Act::press, tab.element);
    if (!pressed)
        m_platform.accessibility.select(tab.element);
    const std::function<bool()> selected = [&] {
        return m_platform.accessibility.isSelected(tab.element);
    };
    // The whole pause, counted from the press, reads ahead to the search field, which the next
    // step looks for.
    const Sought searchField{Sought::Kind::searchField};
    const std::function<bool()> fieldShowing = [&] {
        return selected() && m_platform.accessibility.find(scope.element(), searchField).isFound();
    };
    co_await waitUntil(
        millisecondsUntil(pressAsked + uiPollIntervalMilliseconds * nanosecondsPerMillisecond),
        adaptive, adaptive ? selected : fieldShowing);
    co_return tab.element;
}

Task<std::optional<FigmaLauncher::EnteredField>>
FigmaLauncher::enterSearchText(QString pluginName, SearchScope& scope,
                               LauncherTimingSettings timing) {
    const bool adaptive = timing.adaptiveWaits;
    const auto typeName = [&] {
        return typeText(pluginName, timing.typingCharacterDelayMilliseconds,
                        [this] { requireFigmaFocused(); });
    };
    // One attempt each, as long as the scope can be read whole: the first text field stands in
    // only for a search field known to be missing, never for one not read yet.
    const qint64 start = nowNanoseconds();
    const qint64 partialReadDeadline =
        start + partialReadBudgetMilliseconds * nanosecondsPerMillisecond;
    const Sought searchField{Sought::Kind::searchField};
    const Sought anyTextField{Sought::Kind::textField};
    Finding found = co_await findWithin(scope, searchField, start, partialReadDeadline);
    if (found.presence == Presence::absent)
        found = co_await findWithin(scope, anyTextField, start, partialReadDeadline);
    if (found.presence == Presence::unknown)
        throw FigmaLauncherError::launchFailed(fieldUnreadMessage);
    if (found.presence == Presence::absent) {
        co_await typeName();
        co_return std::nullopt;
    }
    const std::optional<AccessibleElement> field = found.element;
    EnteredField entered{*field};
    AccessibilityApi& accessibility = m_platform.accessibility;
    const qint64 focusAsked = nowNanoseconds();
    if (co_await focusField(*field)) {
        // The pause, counted from the request, lets the field take the focus, which it has
        // reported by now. No pause here holds the main thread: the dock paints on.
        if (!adaptive)
            co_await sleepFor(m_platform.scheduler,
                              millisecondsUntil(focusAsked + fieldSettleMilliseconds *
                                                                 nanosecondsPerMillisecond));
        // A field that did not answer in time may hold text: clearing an empty one costs only
        // the pauses, typing after what it holds runs nothing.
        const AccessibilityApi::TextRead oldText = accessibility.readText(*field, LabelText::value);
        // An empty field whose text reads shows what keys do to it as well as one holding text.
        entered.showsText = (oldText.text && !oldText.text->isEmpty()) || oldText.readable;
        if (!oldText.answered || (oldText.text && !trimmedText(*oldText.text).isEmpty())) {
            requireFigmaFocused();
            sendKeyStroke(Key::a, KeyModifier::primary);
            // Adaptive, until the field shows all of its text selected: a Delete before that
            // would leave all but one character of the old search.
            const std::function<bool()> allSelected = [&] {
                return accessibility.isAllTextSelected(*field);
            };
            if (adaptive)
                co_await waitUntil(fieldSettleMilliseconds, true, allSelected);
            else
                co_await sleepFor(m_platform.scheduler, fieldSettleMilliseconds);
            requireFigmaFocused();
            sendKeyStroke(Key::deleteBackward, {});
            // An empty field's text reads as absent.
            const std::function<bool()> emptied = [&] {
                return accessibility.text(*field, LabelText::value).value_or(QString()).isEmpty();
            };
            co_await waitUntil(fieldSettleMilliseconds, adaptive, emptied);
        }
        if (!adaptive) {
            co_await typeName();
            co_return entered;
        }
        if (co_await typeWatchingField(pluginName, *field, timing.typingCharacterDelayMilliseconds,
                                       entered.showsText))
            entered.showsText = true;
        co_return entered;
    }
    if (!accessibility.setText(*field, pluginName))
        co_await typeName();
    co_return entered;
}

Task<bool> FigmaLauncher::typeWatchingField(QString pluginName, AccessibleElement field,
                                            qint64 typingDelayMilliseconds, bool fieldShowsText) {
    AccessibilityApi& accessibility = m_platform.accessibility;
    if (!m_platform.keyboard.isAvailable())
        throw FigmaLauncherError::eventSourceUnavailable();
    // An empty field's text reads as absent, as does one that cannot be read: the first shows
    // the characters as they come, the second costs the typing delay for each.
    const auto shown = [&] {
        return accessibility.text(field, LabelText::value).value_or(QString());
    };
    QString expected = shown();
    // The length of the expected text after each typed character.
    std::vector<qsizetype> ends;
    // How many of the typed characters the field shows.
    int shownCount = 0;
    const auto fieldCaughtUp = [&](std::size_t lag) {
        const QString text = shown();
        if (expected.startsWith(text))
            shownCount =
                int(std::upper_bound(ends.begin(), ends.end(), text.size()) - ends.begin());
        return ends.size() - std::size_t(shownCount) <= lag;
    };
    const std::function<bool()> roomAhead = [&] { return fieldCaughtUp(typingLeadCharacters - 1); };
    const std::function<bool()> allShown = [&] { return fieldCaughtUp(0); };
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, pluginName);
    qsizetype start = 0;
    // Characters sent without a wait of their own, once the field was seen to show text.
    qint64 sentAtOnce = 0;
    for (qsizetype end = boundaries.toNextBoundary(); end != -1;
         end = boundaries.toNextBoundary()) {
        // A character the field does not show in time costs the configured delay, as without
        // adaptive waits; the check before the press catches one that never came.
        const bool atOnce = fieldShowsText || shownCount > 0;
        if (!atOnce && ends.size() - std::size_t(shownCount) >= typingLeadCharacters)
            co_await waitUntil(typingDelayMilliseconds, true, roomAhead, textPollMilliseconds);
        else if (!ends.empty())
            // Each key takes a few bus round trips to send: the dock paints between them.
            co_await sleepFor(m_platform.scheduler, 0);
        sentAtOnce += atOnce ? 1 : 0;
        const QStringView character = QStringView(pluginName).mid(start, end - start);
        start = end;
        requireFigmaFocused();
        requirePosted(m_platform.keyboard.type(character));
        expected += character;
        ends.push_back(expected.size());
    }
    // Each character sent at once has its typing delay to show in: they may show together a
    // while later (Chromium beside 10,000 rows defers its next update by 100 ms and more after
    // one it has just made), and never later than typed one by one they would.
    co_await waitUntil(typingDelayMilliseconds * qMax<qint64>(1, sentAtOnce), true, allShown,
                       textPollMilliseconds);
    co_return shownCount > 0;
}

Task<bool> FigmaLauncher::ensureFieldHoldsName(QString pluginName, EnteredField entered,
                                               LauncherTimingSettings timing) {
    AccessibilityApi& accessibility = m_platform.accessibility;
    const AccessibleElement& field = entered.element;
    const auto shown = [&] {
        return accessibility.text(field, LabelText::value).value_or(QString());
    };
    // A field that did not answer in time reads as empty: it is asked again for a moment before
    // its text is taken to be wrong.
    const std::function<bool()> holdsName = [&] {
        return trimmedText(shown()) == trimmedText(pluginName);
    };
    if (co_await waitUntil(fieldSettleMilliseconds, true, holdsName, textPollMilliseconds))
        co_return true;
    if (!entered.showsText && shown().isEmpty())
        co_return true;
    requireFigmaFocused();
    sendKeyStroke(Key::a, KeyModifier::primary);
    co_await sleepFor(m_platform.scheduler, fieldSettleMilliseconds);
    requireFigmaFocused();
    sendKeyStroke(Key::deleteBackward, {});
    co_await sleepFor(m_platform.scheduler, fieldSettleMilliseconds);
    // As the first typing was, character by character as the field shows them: typing does not
    // hold the main thread here.
    co_await typeWatchingField(pluginName, field, timing.typingCharacterDelayMilliseconds,
                               entered.showsText);
    co_await sleepFor(m_platform.scheduler, timing.postSearchDelayMilliseconds);
    co_return holdsName();
}

Task<bool> FigmaLauncher::focusField(AccessibleElement field) {
    // As the traversal focuses an element: focus, else press, else select.
    bool taken = co_await actWithoutWaiting(Act::focus, field);
    if (!taken)
        taken = co_await actWithoutWaiting(Act::press, field);
    if (!taken && !m_platform.accessibility.select(field))
        co_return false;
    const qint64 deadline =
        nowNanoseconds() + fieldFocusBudgetMilliseconds * nanosecondsPerMillisecond;
    while (!m_traversal.isElementFocused(field)) {
        if (nowNanoseconds() >= deadline)
            co_return false;
        co_await sleepFor(m_platform.scheduler, fieldFocusPollMilliseconds);
    }
    co_return true;
}

Task<FigmaLauncher::ResultOutcome>
FigmaLauncher::selectResult(QString pluginName, SearchScope& scope, qint64 timeoutMilliseconds) {
    const qint64 start = nowNanoseconds();
    const Sought result{Sought::Kind::result, pluginName};
    const Finding match = co_await findWithin(
        scope, result, start + qMax<qint64>(0, timeoutMilliseconds) * nanosecondsPerMillisecond,
        start + partialReadBudgetMilliseconds * nanosecondsPerMillisecond);
    if (match.presence == Presence::unknown)
        co_return ResultOutcome::unread;
    // The first match decides; a failed press is not retried.
    if (!match.isFound())
        co_return ResultOutcome::notPressed;
    const bool pressed = co_await actWithoutWaiting(Act::press, match.element);
    co_return pressed || m_traversal.selectElementOrPressAncestor(match.element)
        ? ResultOutcome::pressed
        : ResultOutcome::notPressed;
}

Task<bool> FigmaLauncher::actWithoutWaiting(Act act, AccessibleElement element) {
    AccessibilityApi& accessibility = m_platform.accessibility;
    co_return co_await ContinuationAwaiter<bool>(
        m_platform.scheduler,
        [&accessibility, &element, act](ContinuationAwaiter<bool>::Resume resume) {
            if (act == Act::focus)
                accessibility.focusWithoutWaiting(element, std::move(resume));
            else
                accessibility.pressWithoutWaiting(element, std::move(resume));
        });
}

Task<void> FigmaLauncher::closeActionsPaletteIfOpen(SearchScope& scope, QString pluginName,
                                                    bool adaptive) {
    // An application may handle a press on its own time, and show that the palette closed later
    // still: Chromium runs the result at once, but on a page of thousands of elements its
    // accessibility tree has shown the palette for seconds after the run. A Command-K then
    // opens it again. So the palette counts as left open only once it has kept showing for the
    // whole time a read is given.
    const qint64 deadline =
        nowNanoseconds() + partialReadBudgetMilliseconds * nanosecondsPerMillisecond;
    // Asked of the palette found, which is gone once closed; never re-anchored here, since the
    // focus has left it by then.
    const AccessibleElement where = scope.element();
    const Sought paletteMark{Sought::Kind::paletteMark};
    const std::function<bool()> closed = [&] {
        return m_platform.accessibility.find(where, paletteMark).presence == Presence::absent;
    };
    co_await waitUntil(paletteCloseCheckMilliseconds, adaptive, closed);
    for (;;) {
        const Finding open = m_platform.accessibility.find(where, paletteMark);
        if (open.presence == Presence::absent)
            co_return;
        const qint64 now = nowNanoseconds();
        // Closing sends a key that opens a closed palette again: only on a palette seen open.
        if (open.isFound() && now >= deadline) {
            // The plugin has been chosen by now: with another window in front, the palette is
            // left as it is rather than the launch reported as failed.
            if (isFigmaFrontmost())
                sendKeyStroke(Key::k, KeyModifier::primary);
            co_return;
        }
        if (now >= deadline)
            throw FigmaLauncherError::launchFailed(closeUnreadMessage.arg(pluginName));
        co_await sleepFor(m_platform.scheduler,
                          qMin(uiPollIntervalMilliseconds, millisecondsUntil(deadline)));
    }
}

void FigmaLauncher::sendKeyStroke(Key key, KeyModifiers modifiers) {
    requirePosted(m_platform.keyboard.press(key, modifiers));
}

void FigmaLauncher::requireFigmaFocused() {
    if (!isFigmaFrontmost())
        throw FigmaLauncherError::focusLost();
}

Task<void> FigmaLauncher::typeText(QString text, qint64 delayMilliseconds,
                                   std::function<void()> beforeEachCharacter) {
    if (!m_platform.keyboard.isAvailable())
        throw FigmaLauncherError::eventSourceUnavailable();
    if (text.isEmpty())
        co_return;
    // One key pair per user-perceived character, so that an emoji or a letter with its accents
    // arrives whole. The pauses are the launcher's, on its scheduler, so that the focus is checked
    // again before every character.
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    // Each character is due a whole delay after the one before it was due, so that sending a
    // key and a timer's rounding do not add up over a name. A turn later than that by more than
    // a little pushes the characters after it back rather than sending them in a burst.
    const qint64 delayNanoseconds = qMax<qint64>(0, delayMilliseconds) * nanosecondsPerMillisecond;
    constexpr qint64 lateNanoseconds = 2 * nanosecondsPerMillisecond;
    qint64 due = nowNanoseconds();
    for (qsizetype end = boundaries.toNextBoundary(); end != -1;
         end = boundaries.toNextBoundary()) {
        const QStringView character = QStringView(text).mid(start, end - start);
        start = end;
        if (beforeEachCharacter)
            beforeEachCharacter();
        // A character the keyboard cannot enter would otherwise leave a wrong search: say which.
        const KeyResult typed = m_platform.keyboard.type(character);
        if (typed == KeyResult::keyUnavailable)
            throw FigmaLauncherError::launchFailed(
                QStringLiteral("Brevlin cannot type \u201c%1\u201d: the keyboard layout has no key "
                               "for it. Switch to a layout that has it, or rename the shortcut.")
                    .arg(character));
        requirePosted(typed);
        // The pause lets the dock paint: typing a name at the slowest pace takes seconds.
        due = qMax(due + delayNanoseconds, nowNanoseconds() + delayNanoseconds - lateNanoseconds);
        co_await sleepFor(m_platform.scheduler, millisecondsUntil(due));
    }
}

} // namespace brevlin
