#include "SimulatedFigma.h"

namespace brevlin::testing {

namespace {

QString keyName(quint16 keyCode) {
    switch (keyCode) {
    case keyCode::a:
        return QStringLiteral("A");
    case keyCode::k:
        return QStringLiteral("K");
    case keyCode::deleteBackward:
        return QStringLiteral("Delete");
    case keyCode::downArrow:
        return QStringLiteral("Down");
    case keyCode::returnKey:
        return QStringLiteral("Return");
    default:
        return QString::number(keyCode);
    }
}

} // namespace

class SimulatedFigma::Application : public RunningApplication {
public:
    explicit Application(SimulatedFigma& figma)
        : m_figma(figma) {}
    qint64 processIdentifier() const override { return SimulatedFigma::processIdentifier; }
    bool unhide() override {
        m_figma.log(QStringLiteral("unhide"));
        return true;
    }
    bool activate(quint32 options) override {
        ++m_figma.activations;
        m_figma.log(QStringLiteral("activate %1").arg(options));
        if (m_figma.becomesFrontmost && m_figma.activations >= m_figma.activationsBeforeFrontmost)
            m_figma.frontmost = SimulatedFigma::bundleIdentifier;
        return true;
    }

private:
    SimulatedFigma& m_figma;
};

class SimulatedFigma::Workspace : public WorkspaceApi {
public:
    explicit Workspace(SimulatedFigma& figma)
        : m_figma(figma) {}

    QList<RunningApplicationPtr> runningApplications(const QString& bundleIdentifier) override {
        if (bundleIdentifier == SimulatedFigma::bundleIdentifier && m_figma.running)
            return {m_figma.m_application};
        return {};
    }
    std::optional<QString> applicationLocation(const QString& bundleIdentifier) override {
        if (bundleIdentifier == SimulatedFigma::bundleIdentifier && m_figma.installed)
            return QStringLiteral("/usr/share/applications/figma.desktop");
        return std::nullopt;
    }
    void openApplication(const QString& location, bool activates,
                         OpenCompletion completion) override {
        ++m_figma.startRequests;
        m_figma.log(QStringLiteral("open %1%2").arg(location, activates ? " activating" : ""));
        SimulatedFigma& figma = m_figma;
        figma.m_scheduler.postAfter(figma.startCompletionDelayMilliseconds, [&figma, completion] {
            switch (figma.startOutcome) {
            case StartOutcome::starts:
                figma.running = true;
                figma.log(QStringLiteral("started"));
                completion(figma.m_application, std::nullopt);
                break;
            case StartOutcome::failsWithError:
                completion(nullptr, figma.startError);
                break;
            case StartOutcome::returnsNothing:
                completion(nullptr, std::nullopt);
                break;
            case StartOutcome::errorWithApplication:
                figma.running = true;
                completion(figma.m_application, figma.startError);
                break;
            }
        });
    }
    std::optional<QString> frontmostApplicationBundleIdentifier() override {
        return m_figma.frontmost;
    }

private:
    SimulatedFigma& m_figma;
};

class SimulatedFigma::KeyEvents : public KeyEventApi {
    class Event : public KeyEvent {
    public:
        Event(quint16 code, bool down)
            : code(code)
            , down(down) {}
        quint16 keyCode() const override { return code; }
        bool isKeyDown() const override { return down; }
        void setFlags(quint64 mask) override { flags = mask; }
        void setUnicodeString(const std::u16string& text) override { units = text; }
        quint16 code;
        bool down;
        std::optional<quint64> flags;
        std::optional<std::u16string> units;
    };
    class Source : public KeyEventSource {
    public:
        explicit Source(SimulatedFigma& figma)
            : m_figma(figma) {}
        std::unique_ptr<KeyEvent> createKeyboardEvent(quint16 keyCode, bool keyDown) override {
            const int index = m_figma.keyEventsCreated++;
            if (index == m_figma.failEventCreationAt)
                return nullptr;
            return std::make_unique<Event>(keyCode, keyDown);
        }

    private:
        SimulatedFigma& m_figma;
    };

public:
    explicit KeyEvents(SimulatedFigma& figma)
        : m_figma(figma) {}

    std::unique_ptr<KeyEventSource> createEventSource(int stateId) override {
        if (m_figma.failEventSource || stateId != hidSystemState)
            return nullptr;
        ++m_figma.eventSourcesCreated;
        return std::make_unique<Source>(m_figma);
    }
    void postToProcess(qint64 processIdentifier, KeyEvent& event) override {
        deliver(event, processIdentifier);
    }
    void post(KeyEvent& event) override { deliver(event, std::nullopt); }

private:
    void deliver(KeyEvent& event, std::optional<qint64> processIdentifier) {
        auto& e = static_cast<Event&>(event);
        const PostedKey key{m_figma.m_scheduler.nowNanoseconds(),
                            e.code,
                            e.down,
                            e.flags,
                            e.units,
                            processIdentifier};
        m_figma.postedKeys.push_back(key);
        m_figma.receiveKey(key);
    }
    SimulatedFigma& m_figma;
};

SimulatedFigma::SimulatedFigma(VirtualScheduler& scheduler)
    : m_scheduler(scheduler)
    , m_workspace(std::make_unique<Workspace>(*this))
    , m_keyEvents(std::make_unique<KeyEvents>(*this))
    , m_application(std::make_shared<Application>(*this)) {
    m_applicationNode = tree.addNode(-1, Role::application, QStringLiteral("Figma"));
    m_windowNode = tree.addNode(m_applicationNode, Role::window, QStringLiteral("Untitled"));
    tree.setElements(m_applicationNode, Relation::focusedWindow, {m_windowNode});
    tree.setElements(m_applicationNode, Relation::mainWindow, {m_windowNode});
    tree.setElements(m_applicationNode, Relation::windows, {m_windowNode});
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
    return LaunchPlatform{tree, *m_keyEvents, *m_workspace, m_scheduler};
}

void SimulatedFigma::log(const QString& what) {
    timeline.append(
        QStringLiteral("%1 %2").arg(m_scheduler.nowNanoseconds() / 1'000'000).arg(what));
}

QStringList SimulatedFigma::timelineOf(const QStringList& prefixes) const {
    QStringList selected;
    for (const QString& entry : timeline) {
        const QString what = entry.section(QLatin1Char(' '), 1);
        for (const QString& prefix : prefixes) {
            if (what.startsWith(prefix)) {
                selected.append(entry);
                break;
            }
        }
    }
    return selected;
}

int SimulatedFigma::resultLabelNode(const QString& plugin) const {
    for (const auto& [name, node] : m_results) {
        if (name == plugin)
            return node;
    }
    return -1;
}

void SimulatedFigma::receiveKey(const PostedKey& key) {
    if (!key.keyDown)
        return;
    const bool command = key.flags && (*key.flags & commandFlag);
    if (key.units) {
        const QString text = QString::fromStdU16String(*key.units);
        log(QStringLiteral("type %1").arg(text));
        if (++m_typedCharacters == focusLostAfterTypedCharacters) {
            frontmost = otherBundleIdentifier;
            log(QStringLiteral("focus lost"));
        }
        if (key.processIdentifier != processIdentifier || !isPaletteOpen() || !m_fieldFocused)
            return;
        setSearchText(m_allSelected ? text : m_searchText + text);
        return;
    }
    log(QStringLiteral("key %1%2%3")
            .arg(command ? QStringLiteral("⌘") : QString(), keyName(key.keyCode),
                 key.processIdentifier ? QString() : QStringLiteral(" (global)")));
    if (key.processIdentifier != processIdentifier)
        return;
    if (command && key.keyCode == keyCode::k) {
        if (isPaletteOpen())
            closePalette();
        else
            openPalette();
        return;
    }
    if (!isPaletteOpen())
        return;
    if (command && key.keyCode == keyCode::a && m_fieldFocused) {
        m_allSelected = true;
    } else if (key.keyCode == keyCode::deleteBackward && m_fieldFocused) {
        setSearchText(m_allSelected ? QString()
                                    : m_searchText.chopped(m_searchText.isEmpty() ? 0 : 1));
    } else if (key.keyCode == keyCode::downArrow) {
        if (!m_results.empty())
            m_highlighted = 0;
    } else if (key.keyCode == keyCode::returnKey) {
        if (m_highlighted >= 0 && m_highlighted < int(m_results.size()))
            run(m_results[std::size_t(m_highlighted)].first);
    }
}

void SimulatedFigma::openPalette() {
    log(QStringLiteral("palette opens"));
    ++m_paletteGeneration;
    m_paletteNode = tree.addNode(m_windowNode);
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
    m_allSelected = false;
    m_highlighted = -1;
    m_activeTab = QStringLiteral("All");
    m_fieldNode = -1;
    if (hasSearchField) {
        m_fieldNode = tree.addNode(m_paletteNode, Role::textField);
        auto& field = tree.node(m_fieldNode);
        // Like a web text field, it has an empty title, so its label never is the typed text.
        field.text(LabelText::title) = QString();
        field.text(LabelText::placeholder) = QStringLiteral("Search actions and plugins");
        field.focusable = fieldFocusable;
        field.textSettable = fieldValueSettable;
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
            // What it reports is whether it has the focus, not what was asked of it.
            syncFieldAttributes();
        };
        field.onSetText = [this](const QString& text) { setSearchText(text); };
        // The palette focuses its field as it opens, unless the field refuses focus.
        m_fieldFocused = fieldFocusable && fieldFocusLagMilliseconds <= 0;
    } else {
        m_fieldFocused = false;
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
        tree.node(tab).onPress = [this, label] {
            m_activeTab = label;
            log(QStringLiteral("tab %1").arg(label));
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
    syncFieldAttributes();
    rebuildResults();
}

void SimulatedFigma::syncFieldAttributes() {
    if (m_fieldNode < 0)
        return;
    auto& field = tree.node(m_fieldNode);
    field.text(LabelText::value) = m_searchText;
    field.focused = m_fieldFocused;
}

void SimulatedFigma::rebuildResults() {
    syncFieldAttributes();
    if (m_resultsNode < 0)
        return;
    for (int child : std::vector<int>(tree.node(m_resultsNode).children))
        tree.detach(child);
    m_results.clear();
    m_highlighted = -1;
    const QString query = m_searchText.trimmed();
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

void SimulatedFigma::introduce(Fault fault) {
    switch (fault) {
    case Fault::notInstalled:
        running = false;
        installed = false;
        break;
    case Fault::failsToStart:
        running = false;
        startOutcome = StartOutcome::failsWithError;
        break;
    case Fault::neverFrontmost:
        becomesFrontmost = false;
        break;
    case Fault::noEventSource:
        failEventSource = true;
        break;
    case Fault::noKeyEvent:
        failEventCreationAt = 0;
        break;
    case Fault::focusTakenWhileTyping:
        focusLostAfterTypedCharacters = 2;
        break;
    }
}

void SimulatedFigma::repair() {
    running = true;
    installed = true;
    startOutcome = StartOutcome::starts;
    becomesFrontmost = true;
    failEventSource = false;
    failEventCreationAt = -1;
    focusLostAfterTypedCharacters = -1;
    // A launch stopped mid-way leaves the palette open; the user puts that right too.
    if (isPaletteOpen())
        closePalette();
}

} // namespace brevlin::testing
