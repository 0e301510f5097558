#include "SimulatedFigma.h"

#include <algorithm>
#include <iterator>

namespace brevlin::testing {

class SimulatedFigma::Application : public RunningApplication {
public:
    explicit Application(SimulatedFigma& figma)
        : m_figma(figma) {}
    qint64 processIdentifier() const override { return SimulatedFigma::processIdentifier; }
    void activate() override {
        ++m_figma.activations;
        m_figma.log(QStringLiteral("activate"));
        if (m_figma.becomesFrontmost && m_figma.activations >= m_figma.activationsBeforeFrontmost)
            m_figma.frontmost = SimulatedFigma::bundleIdentifier;
    }

private:
    SimulatedFigma& m_figma;
};

class SimulatedFigma::Workspace : public WorkspaceApi {
public:
    explicit Workspace(SimulatedFigma& figma)
        : m_figma(figma) {}

    RunningApplicationPtr findRunning(const QString& applicationId) override {
        if (applicationId == SimulatedFigma::bundleIdentifier && m_figma.running)
            return m_figma.m_application;
        return nullptr;
    }
    void start(const QString& applicationId, StartDone done) override {
        if (applicationId != SimulatedFigma::bundleIdentifier || !m_figma.installed) {
            done(StartResult::notInstalled());
            return;
        }
        m_figma.log(QStringLiteral("start %1").arg(applicationId));
        SimulatedFigma& figma = m_figma;
        figma.m_scheduler.postAfter(250, [&figma, done] {
            const StartOutcome outcome = figma.startOutcome;
            if (outcome == StartOutcome::starts || outcome == StartOutcome::failsButRuns)
                figma.running = true;
            if (outcome == StartOutcome::starts)
                figma.log(QStringLiteral("started"));
            done(outcome == StartOutcome::failsWithError || outcome == StartOutcome::failsButRuns
                     ? StartResult::failed(QStringLiteral("The application is damaged."))
                     : StartResult::started(outcome == StartOutcome::starts ? figma.m_application
                                                                            : nullptr));
        });
    }
    bool isFrontmost(const QString& applicationId) override {
        return m_figma.frontmost == applicationId;
    }

private:
    SimulatedFigma& m_figma;
};

class SimulatedFigma::Keyboard : public brevlin::Keyboard {
public:
    explicit Keyboard(SimulatedFigma& figma)
        : m_figma(figma) {}

    bool isAvailable() override { return !m_figma.keyboardUnavailable; }
    KeyResult press(Key key, KeyModifiers modifiers) override {
        return deliver(key, modifiers, QString());
    }
    KeyResult type(QStringView text) override { return deliver(std::nullopt, {}, text.toString()); }

private:
    // Keys go to whichever application is frontmost as they are sent.
    KeyResult deliver(std::optional<Key> key, KeyModifiers modifiers, const QString& text) {
        if (m_figma.keyboardUnavailable)
            return KeyResult::keyboardUnavailable;
        if (m_figma.m_keysAttempted++ == m_figma.unavailableKeyAt)
            return KeyResult::keyUnavailable;
        m_figma.receiveKey({key, modifiers, text, m_figma.frontmost});
        return KeyResult::posted;
    }
    SimulatedFigma& m_figma;
};

SimulatedFigma::SimulatedFigma(VirtualScheduler& scheduler)
    : m_scheduler(scheduler)
    , m_workspace(std::make_unique<Workspace>(*this))
    , m_keyboard(std::make_unique<Keyboard>(*this))
    , m_application(std::make_shared<Application>(*this)) {
    m_applicationNode = tree.addNode(-1, Role::application, QStringLiteral("Figma"));
    m_windowNode = tree.addNode(m_applicationNode, Role::window, QStringLiteral("Untitled"));
    for (const Relation r : {Relation::focusedWindow, Relation::mainWindow, Relation::windows})
        tree.setElements(m_applicationNode, r, {m_windowNode});
    tree.node(m_windowNode).raisable = true;
    // The canvas: a few labelled controls that are not part of the palette.
    const int toolbar = tree.addNode(m_windowNode);
    tree.addNode(toolbar, Role::button, QStringLiteral("Share"));
    tree.addNode(toolbar, Role::button, QStringLiteral("Present"));
    tree.applicationRoot = m_applicationNode;
    tree.onEffect = [this](const QString& effect) { log(effect); };
}

SimulatedFigma::~SimulatedFigma() = default;

LaunchPlatform SimulatedFigma::platform() {
    return LaunchPlatform{tree, *m_keyboard, *m_workspace, m_scheduler};
}

void SimulatedFigma::log(const QString& what) {
    timeline.append(
        QStringLiteral("%1 %2").arg(m_scheduler.nowNanoseconds() / 1'000'000).arg(what));
}

QStringList SimulatedFigma::timelineOf(const QStringList& prefixes) const {
    QStringList selected;
    for (const QString& entry : timeline) {
        const QString what = entry.section(QLatin1Char(' '), 1);
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&what](const QString& prefix) { return what.startsWith(prefix); }))
            selected.append(entry);
    }
    return selected;
}

qint64 SimulatedFigma::timeOf(const QString& what, int nth) const {
    const QStringList entries = timelineOf({what});
    return nth < entries.size() ? entries[nth].section(' ', 0, 0).toLongLong() : -1;
}

void SimulatedFigma::receiveKey(const PostedKey& key) {
    if (reactionDelayMilliseconds > 0 && !m_reacting) {
        m_scheduler.postAfter(reactionDelayMilliseconds, [this, key] {
            m_reacting = true;
            receiveKey(key);
            m_reacting = false;
        });
        return;
    }
    const bool toFigma = key.receiver == bundleIdentifier;
    // The timeline alone tells exactly what went where: every modifier shows, and every receiver
    // other than Figma.
    QString written = key.key ? QStringLiteral("key ") : QStringLiteral("type ");
    for (const auto& [modifier, symbol] : {std::pair{KeyModifier::primary, "⌘"},
                                           {KeyModifier::alternate, "⌥"},
                                           {KeyModifier::system, "❖"},
                                           {KeyModifier::shift, "⇧"}})
        if (key.modifiers.testFlag(modifier))
            written += QString::fromUtf8(symbol);
    static const char* const keyNames[] = {"A", "K", "Delete", "Down", "Return"};
    static_assert(std::size(keyNames) == std::size_t(Key::returnKey) + 1);
    written += key.key ? QString::fromLatin1(keyNames[std::size_t(*key.key)]) : key.text;
    if (!toFigma)
        written += QStringLiteral(" (to %1)").arg(key.receiver.value_or("nobody"));
    log(written);
    if (!key.key) {
        if (++m_typedCharacters == focusLostAfterTypedCharacters) {
            frontmost = otherBundleIdentifier;
            log(QStringLiteral("focus lost"));
        }
        if (!toFigma || !isPaletteOpen() || !m_fieldFocused ||
            m_typedCharacters - 1 == lostTypedCharacterAt || untypableCharacters.contains(key.text))
            return;
        setSearchText(m_allSelected ? key.text : m_searchText + key.text);
        return;
    }
    const bool command = key.modifiers.testFlag(KeyModifier::primary);
    if (!toFigma)
        return;
    if (command && key.key == Key::k) {
        if (isPaletteOpen())
            closePalette();
        else
            openPalette();
        return;
    }
    if (!isPaletteOpen())
        return;
    if (command && key.key == Key::a && m_fieldFocused) {
        m_allSelected = true;
        syncFieldAttributes();
    } else if (key.key == Key::deleteBackward && m_fieldFocused) {
        setSearchText(m_allSelected ? QString()
                                    : m_searchText.chopped(m_searchText.isEmpty() ? 0 : 1));
    } else if (key.key == Key::downArrow) {
        if (!m_results.empty())
            m_highlighted = 0;
    } else if (key.key == Key::returnKey) {
        if (m_highlighted >= 0 && m_highlighted < int(m_results.size()))
            run(m_results[std::size_t(m_highlighted)].first);
    }
}

void SimulatedFigma::openPalette() {
    log(QStringLiteral("palette opens"));
    ++m_paletteGeneration;
    m_paletteNode = tree.addNode(m_windowNode, Role::dialog);
    if (tabsDelayMilliseconds <= 0) {
        addTabs();
    } else {
        const quint64 generation = m_paletteGeneration;
        m_scheduler.postAfter(tabsDelayMilliseconds, [this, generation] {
            if (isPaletteOpen() && generation == m_paletteGeneration)
                addTabs();
        });
    }
    m_searchText = retainedSearchText;
    m_shownText = m_searchText;
    m_allSelected = false;
    m_highlighted = -1;
    m_fieldNode = -1;
    m_fieldFocused = false;
    if (hasSearchField) {
        m_fieldNode = tree.addNode(m_paletteNode, Role::textField);
        auto& field = tree.node(m_fieldNode);
        // Like a web text field, it has an empty title, so its label never is the typed text.
        field.text(LabelText::title) = QString();
        field.text(LabelText::placeholder) = QStringLiteral("Search actions and plugins");
        field.focusable = fieldFocusable;
        field.textSettable = fieldValueSettable;
        field.valueReadable = fieldTextReadable;
        field.onFocus = [this] {
            if (fieldFocusLagMilliseconds > 0) {
                const int fieldNode = m_fieldNode;
                m_scheduler.postAfter(fieldFocusLagMilliseconds, [this, fieldNode] {
                    if (m_fieldNode != fieldNode)
                        return;
                    m_fieldFocused = true;
                    syncFieldAttributes();
                });
            } else {
                m_fieldFocused = true;
            }
            syncFieldAttributes(); // whether it has the focus, not what was asked of it
        };
        field.onSetText = [this](const QString& text) { setSearchText(text); };
        field.pressable = fieldFocusedByPress;
        field.onPress = field.onFocus;
        // The palette focuses its field as it opens, unless the field refuses focus.
        m_fieldFocused = fieldFocusable && fieldFocusLagMilliseconds <= 0;
    }
    m_resultsNode = tree.addNode(m_paletteNode);
    rebuildResults();
}

void SimulatedFigma::addTabs() {
    const int tabs = tree.addNode(m_paletteNode);
    QStringList labels = {QStringLiteral("All"), QStringLiteral("Assets")};
    if (hasPluginsTab)
        labels.append(QStringLiteral("Plugins"));
    for (const QString& label : labels) {
        const int tab = tree.addNode(tabs, Role::tab, label);
        tree.allowPress(tab);
        tree.node(tab).selected = label == QLatin1String("All");
        tree.node(tab).onPress = [this, label, tabs, tab] {
            log(QStringLiteral("tab %1").arg(label));
            if (tabSelectionLagMilliseconds < 0)
                return;
            m_scheduler.postAfter(tabSelectionLagMilliseconds, [this, tabs, tab] {
                for (const int other : tree.node(tabs).children)
                    tree.node(other).selected = other == tab;
            });
        };
    }
}

void SimulatedFigma::closePalette() {
    log(QStringLiteral("palette closes"));
    tree.detach(m_paletteNode);
    m_paletteNode = -1;
    m_fieldNode = -1;
    m_resultsNode = -1;
    m_results.clear();
    m_fieldFocused = false;
}

void SimulatedFigma::setSearchText(QString text) {
    m_searchText = std::move(text);
    m_allSelected = false;
    if (fieldTextLagMilliseconds > 0) {
        m_scheduler.postAfter(fieldTextLagMilliseconds,
                              [this, generation = m_paletteGeneration, shown = m_searchText] {
                                  if (generation != m_paletteGeneration)
                                      return;
                                  m_shownText = shown;
                                  syncFieldAttributes();
                              });
    } else {
        m_shownText = m_searchText;
    }
    rebuildResults();
}

void SimulatedFigma::syncFieldAttributes() {
    if (m_fieldNode < 0)
        return;
    auto& field = tree.node(m_fieldNode);
    field.text(LabelText::value) = m_shownText;
    field.focused = m_fieldFocused;
    field.allTextSelected = fieldShowsSelection && m_allSelected && !m_searchText.isEmpty();
}

void SimulatedFigma::rebuildResults() {
    syncFieldAttributes();
    if (m_resultsNode < 0)
        return;
    for (int child : std::vector<int>(tree.node(m_resultsNode).children))
        tree.detach(child);
    m_results.clear();
    m_highlighted = -1;
    const QString query = listedQuery.value_or(m_searchText).trimmed();
    if (query.isEmpty())
        return;
    for (const QString& plugin : plugins) {
        if (!plugin.contains(query, Qt::CaseInsensitive))
            continue;
        const int cell = tree.addNode(m_resultsNode);
        const int label = tree.addNode(cell, Role::staticText, plugin);
        if (resultsPressable) {
            tree.allowPress(cell);
            tree.node(cell).onPress = [this, plugin] {
                if (pressHandlingDelayMilliseconds <= 0)
                    run(plugin);
                else
                    m_scheduler.postAfter(pressHandlingDelayMilliseconds,
                                          [this, plugin] { run(plugin); });
            };
        }
        m_results.emplace_back(plugin, label);
    }
}

void SimulatedFigma::run(const QString& plugin) {
    log(QStringLiteral("run %1").arg(plugin));
    ranPlugins.append(plugin);
    if (paletteClosesOnRun && isPaletteOpen())
        closePalette();
}

void SimulatedFigma::repair() {
    running = true;
    installed = true;
    startOutcome = StartOutcome::starts;
    becomesFrontmost = true;
    keyboardUnavailable = false;
    unavailableKeyAt = -1;
    focusLostAfterTypedCharacters = -1;
    if (isPaletteOpen())
        closePalette();
}

} // namespace brevlin::testing
