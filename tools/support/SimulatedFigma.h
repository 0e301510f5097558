#pragma once

#include "FakeAccessibilityTree.h"
#include "VirtualScheduler.h"
#include "launch/FigmaLauncher.h"
#include "launch/Keyboard.h"
#include "model/DockItem.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace brevlin::testing {

// A stand-in for Figma behind the launcher's platform interfaces: one window whose Actions palette
// reacts, while Figma is frontmost, to Command-K, typing into its focused search field (results
// are the plugins whose names contain the search) and Down and Return, which run the first result.
// Everything that happens goes to a timeline stamped with the virtual time.
class SimulatedFigma {
public:
    static inline const QString bundleIdentifier = QStringLiteral("com.figma.Desktop");
    static inline const QString otherBundleIdentifier = QStringLiteral("org.example.Editor");
    static constexpr qint64 processIdentifier = 4242;

    explicit SimulatedFigma(VirtualScheduler& scheduler);
    ~SimulatedFigma();
    SimulatedFigma(const SimulatedFigma&) = delete;
    SimulatedFigma& operator=(const SimulatedFigma&) = delete;

    LaunchPlatform platform();

    // --- How it behaves (set before the launch) ---
    bool running = true;
    bool installed = true;
    // failsButRuns: the start is reported failed although the application came up after all.
    // returnsNothing: the start is reported done without the application.
    enum class StartOutcome { starts, failsWithError, returnsNothing, failsButRuns };
    StartOutcome startOutcome = StartOutcome::starts;
    bool becomesFrontmost = true;
    // Activations it takes before Figma is the frontmost application.
    int activationsBeforeFrontmost = 1;
    bool hasPluginsTab = true;
    qint64 tabsDelayMilliseconds = 0;
    // How long a pressed tab takes to show itself selected (below zero: never); by default longer
    // than the launcher's look at the tab, so that timelines show that look whole.
    qint64 tabSelectionLagMilliseconds = 50;
    bool fieldFocusable = true;
    // Above zero, the palette leaves its field unfocused as it opens, and a request to focus the
    // field takes this long to take effect, as in a toolkit that focuses on another thread.
    qint64 fieldFocusLagMilliseconds = 0;
    bool fieldValueSettable = true;
    // Whether the field reports its text selected after Select All.
    bool fieldShowsSelection = true;
    // How long the field's text takes to show in the tree after a key changed it, as in a tree
    // that lags the page.
    qint64 fieldTextLagMilliseconds = 0;
    // Whether the field's text reads, though empty.
    bool fieldTextReadable = true;
    // A field that refuses focus may still take it when pressed, as a clickable one does.
    bool fieldFocusedByPress = false;
    bool hasSearchField = true;
    QString retainedSearchText;
    bool resultsPressable = true;
    bool paletteClosesOnRun = true;
    // How long after a press its result runs.
    qint64 pressHandlingDelayMilliseconds = 0;
    QStringList plugins = {QStringLiteral("Autoflow"), QStringLiteral("Content Reel"),
                           QStringLiteral("Café Tools"), QStringLiteral("Unsplash")};
    // How long after it arrives every key takes effect.
    qint64 reactionDelayMilliseconds = 0;
    // Zero-based; -1: never.
    int lostTypedCharacterAt = -1;
    // Characters that never reach the field, however often typed.
    QString untypableCharacters;
    // The results listed for this query whatever the field holds, as in a tree that lags the page.
    std::optional<QString> listedQuery;
    int focusLostAfterTypedCharacters = -1;
    bool keyboardUnavailable = false;
    // The key press or typed character that has no key to go on.
    int unavailableKeyAt = -1;

    // Undoes every fault, closing a palette a stopped launch left open.
    void repair();

    // --- What happened ---
    int activations = 0;
    // Entries "<ms> <what>", for instance "180 key ⌘K", "247 type C", "307 run Autoflow".
    QStringList timeline;
    // The timeline entries whose <what> starts with one of the prefixes.
    QStringList timelineOf(const QStringList& prefixes) const;
    // When the nth entry whose <what> starts with `what` happened, in milliseconds, or -1.
    qint64 timeOf(const QString& what, int nth = 0) const;
    QStringList ranPlugins;

    bool isPaletteOpen() const { return m_paletteNode >= 0; }
    std::optional<QString> frontmost = otherBundleIdentifier;

    FakeAccessibilityTree tree;
    int applicationNode() const { return m_applicationNode; }
    int windowNode() const { return m_windowNode; }

    void log(const QString& what);

private:
    class Workspace;
    class Keyboard;
    class Application;
    // A key pressed, or a text typed, and the application frontmost as it came.
    struct PostedKey {
        std::optional<Key> key;
        KeyModifiers modifiers;
        QString text;
        std::optional<QString> receiver;
    };

    void receiveKey(const PostedKey& key);
    void openPalette();
    void closePalette();
    void addTabs();
    void setSearchText(QString text);
    void rebuildResults();
    void run(const QString& plugin);
    void syncFieldAttributes();

    VirtualScheduler& m_scheduler;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<Keyboard> m_keyboard;
    std::shared_ptr<Application> m_application;
    int m_applicationNode = -1;
    int m_windowNode = -1;
    int m_paletteNode = -1;
    int m_fieldNode = -1;
    int m_resultsNode = -1;
    std::vector<std::pair<QString, int>> m_results; // plugin, label node
    QString m_searchText;
    // What the tree shows of it.
    QString m_shownText;
    bool m_fieldFocused = false;
    bool m_allSelected = false;
    int m_highlighted = -1;
    quint64 m_paletteGeneration = 0;
    int m_typedCharacters = 0;
    int m_keysAttempted = 0; // the refused ones included
    bool m_reacting = false;
};

// A shortcut running `plugin` (named after it) on Ctrl+Alt+`key`, with an id of its own.
inline DockItem shortcutFor(const QString& plugin, const QString& key = QStringLiteral("9")) {
    const Hotkey hotkey{key, {KeyModifier::primary, KeyModifier::alternate}};
    return {QUuid::createUuid(), plugin, plugin, QStringLiteral("star.fill"), std::nullopt, hotkey};
}

} // namespace brevlin::testing
