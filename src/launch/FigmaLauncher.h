#pragma once

#include "Accessibility.h"
#include "FigmaLauncherError.h"
#include "FigmaUITraversal.h"
#include "Keyboard.h"
#include "Scheduler.h"
#include "Task.h"
#include "Workspace.h"
#include "model/DockItem.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace brevlin {

// The services a launch drives Figma through.
struct LaunchPlatform {
    AccessibilityApi& accessibility;
    Keyboard& keyboard;
    WorkspaceApi& workspace;
    Scheduler& scheduler;
};

// Performs one launch: Figma to the front, Actions palette, Plugins tab, plugin name, matching
// result (or Down and Return), palette closed again.
class FigmaLauncher {
public:
    static inline const QString defaultFigmaBundleIdentifier = QStringLiteral("com.figma.Desktop");
    static constexpr qint64 defaultUIPollIntervalMilliseconds = 35;
    // The longest a launch looks for the Plugins tab and for the matching result.
    static constexpr qint64 pluginsTabBudgetMilliseconds = 180;
    static constexpr qint64 resultBudgetMilliseconds = 120;
    // The pause that lets the search field settle before the name is typed.
    static constexpr qint64 fieldSettleMilliseconds = 50;
    // Focused window, main window, all windows, children, contents.
    static std::vector<Relation> defaultTraversalRelations();

    explicit FigmaLauncher(LaunchPlatform platform,
                           QString figmaBundleIdentifier = defaultFigmaBundleIdentifier,
                           qint64 uiPollIntervalMilliseconds = defaultUIPollIntervalMilliseconds,
                           std::vector<Relation> traversalRelations = defaultTraversalRelations());
    FigmaLauncher(const FigmaLauncher&) = delete;
    FigmaLauncher& operator=(const FigmaLauncher&) = delete;

    const QString figmaBundleIdentifier;
    const qint64 uiPollIntervalMilliseconds;

    // The applications a launch may drive, by application identifier (FigmaTarget), in the order
    // they are preferred: the first that runs or is installed is used. At first just
    // figmaBundleIdentifier.
    void setTargets(QStringList applicationIds);
    const QStringList& targets() const { return m_targets; }
    const std::vector<Relation> traversalRelations;

    // Asks the first target that runs already for its accessibility tree, and returns without
    // waiting for it. A toolkit that builds its tree only once someone asks (Chromium) takes
    // seconds over a large page, which the first launch would otherwise wait out. Nothing is
    // asked without the permission, nothing is started or brought to the front.
    void prepareRunningTarget();

    // Fails with FigmaLauncherError, or CancellationError when the task is cancelled during a
    // suspending wait. Must run on the main thread.
    Task<void> launchPlugin(QString pluginName, LauncherTimingSettings timing);
    Task<RunningApplicationPtr> ensureFigmaIsRunning();
    // Both fail with eventSourceUnavailable when no key can be sent, and with eventCreationFailed
    // when the key or a character cannot be.
    void sendKeyStroke(Key key, KeyModifiers modifiers);
    // One key pair per user-perceived character, each followed by a pause that lets the main
    // thread go. `beforeEachCharacter` runs before each pair; what it throws ends the typing.
    Task<void> typeText(QString text, qint64 delayMilliseconds,
                        std::function<void()> beforeEachCharacter = {});

    const FigmaUITraversal& traversal() const { return m_traversal; }

private:
    // Returns when it asked for the activation that took.
    Task<qint64> bringFigmaToFront(RunningApplicationPtr application,
                                   AccessibleElement applicationElement,
                                   qint64 focusDelayMilliseconds);
    // Where the searches of one launch look: the palette once it is found from the focus, else
    // the whole application.
    struct SearchScope {
        AccessibleElement application;
        AccessibleElement palette;
        // While where the focus went is not known, the whole window is searched only from then
        // (in the scheduler's nanoseconds).
        qint64 windowSearchFrom = 0;
        const AccessibleElement& element() const {
            return palette.isNull() ? application : palette;
        }
    };
    // Finds the palette from where the focus landed, when it has not been found yet.
    Presence anchorPalette(SearchScope& scope);
    // Asks until the answer is known, or until `deadline` while it is absent, or until the
    // partial-read deadline while it is unknown; the last answer. While the palette's anchor is
    // unknown, nothing is searched before the scope's windowSearchFrom.
    Task<Finding> findWithin(SearchScope& scope, Sought sought, qint64 deadline,
                             qint64 partialReadDeadline);
    // A press or a focus request that lets the main thread go while the application answers: a
    // busy application takes its time to name its actions, or to move its focus.
    enum class Act { press, focus };
    Task<bool> actWithoutWaiting(Act act, AccessibleElement element);
    // The Plugins tab pressed, if the palette showed one.
    Task<std::optional<AccessibleElement>> selectPluginsTab(SearchScope& scope, bool adaptive);
    // Until Figma's window shows contents, at most until `deadline` (nanoseconds, the
    // scheduler's clock) less a poll interval, asking for the application element again every
    // poll interval (which also wakes a tree published only on request). With `untilFocused`,
    // until its window is active, at most until `deadline`.
    Task<void> waitForContents(AccessibleElement& applicationElement, qint64 processIdentifier,
                               qint64 deadline, bool untilFocused = false);
    // Adaptive, each wait ends as soon as `ready` holds, looked at every few milliseconds, and
    // lasts at most `milliseconds`; otherwise it is the whole time, with `ready` looked at until
    // it holds, so that the step after the wait finds what it reads read already. Returns whether
    // `ready` ended the wait.
    Task<bool> waitUntil(qint64 milliseconds, bool adaptive, std::function<bool()> ready,
                         qint64 pollMilliseconds = 5);
    // The search field the name went into, and whether it was seen to show a text (the old
    // search, or the typing).
    struct EnteredField {
        AccessibleElement element;
        bool showsText = false;
    };
    // Returns the search field found, if one was.
    Task<std::optional<EnteredField>> enterSearchText(QString pluginName, SearchScope& scope,
                                                      LauncherTimingSettings timing);
    // Types the name as fast as the field shows it. Until the field is known to show its text
    // (`fieldShowsText`: it reads, or held an old search; or the first characters typed show), a
    // character goes once the field shows all but a few of those before it, waiting at most the
    // typing delay for that; after, the rest goes at once. Then waits for the field to show the
    // whole name, up to a typing delay for each character sent at once (at least one delay).
    // Returns whether the field was seen to show what was typed.
    Task<bool> typeWatchingField(QString pluginName, AccessibleElement field,
                                 qint64 typingDelayMilliseconds, bool fieldShowsText);
    // A readiness signal that lied must not run the wrong plugin: before the press, a field that
    // shows a text other than the name gets the name again, at the configured pace. Returns
    // whether it holds the name then; also true for a field never seen to show any text (one
    // whose text cannot be read) that shows none now either.
    Task<bool> ensureFieldHoldsName(QString pluginName, EnteredField field,
                                    LauncherTimingSettings timing);
    // Focuses the field and waits, briefly, for the application to report it focused.
    Task<bool> focusField(AccessibleElement field);
    enum class ResultOutcome { pressed, notPressed, unread };
    Task<ResultOutcome> selectResult(QString pluginName, SearchScope& scope,
                                     qint64 timeoutMilliseconds);
    Task<void> closeActionsPaletteIfOpen(SearchScope& scope, QString pluginName, bool adaptive);
    bool isFigmaFrontmost();
    // X11 posts keys to whichever window has the focus: each key or burst of keys goes only
    // while Figma still has it, else the launch ends with focusLost.
    void requireFigmaFocused();
    qint64 nowNanoseconds() const;
    qint64 millisecondsUntil(qint64 deadlineNanoseconds) const;
    // The frame of the application's target window, the root every search of the launch starts
    // from, so nothing is found in the application's other windows. The application element
    // itself when the backend names no window title or the application has one window; nothing
    // while no single window frame shows that title.
    std::optional<AccessibleElement> targetWindowFrame(const AccessibleElement& applicationElement,
                                                       const QString& windowTitle) const;
    // Polls for it while the activation budget lasts; then fails as an activation that did not
    // take.
    Task<AccessibleElement> waitForTargetWindowFrame(const AccessibleElement& applicationElement,
                                                     RunningApplicationPtr application);

    LaunchPlatform m_platform;
    FigmaUITraversal m_traversal;
    QStringList m_targets;
    // The target the running launch drives.
    QString m_currentTarget;
    // Whether this launch had to start the target: whichever of the targets it drives.
    bool m_startedTarget = false;
    // Answers that come after the launcher is gone find this expired.
    std::shared_ptr<const bool> m_alive = std::make_shared<const bool>(true);
};

} // namespace brevlin
