#pragma once

#include "AtspiAccessibility.h"
#include "AtspiBus.h"
#include "AtspiEvents.h"
#include "AtspiTranslate.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brevlin::atspi {

// One application's tree as far as it has been read. Reads fill it lazily; children are
// fetched for a whole level of the walk at once.
class AtspiTree {
public:
    struct Node {
        QString bus;
        QString path;
        bool hasBasics = false;
        bool hasRawChildren = false; // all of them
        bool hasExtras = false;
        quint64 composedAt = 0; // `children` holds for this generation of the tree
        bool incompleteChildren = false;
        int childCount = -1; // as the application last said; -1 when not known
        int indexRead = 0;   // of a long list read one child at a time, the next to read
        int depth = INT_MAX;
        // Within a long list, at any depth: read after the rest of its level.
        bool underLongList = false;
        std::optional<bool> topLevel; // a direct child of its application
        Node* rawParent = nullptr;
        AtspiObjectInfo info;
        std::vector<Node*> rawChildren;
        std::vector<Node*> children; // showing, with nameless containers replaced by their own
        AccessibleElement element;
        std::optional<ElementTexts> texts; // worked out from `info` when first asked for
    };

    // Children beyond this many are read one at a time, a bounded number per walk: Qt builds
    // a GetChildren answer in time that grows with the square of the count (9,090 children hold
    // the application for about 43 s), and nothing else it is asked is answered meanwhile.
    static constexpr int longChildList = 256;
    // Of a long list, at most this many reads are queued at the application at once, so that
    // reads given up at a walk's deadline hold the application only briefly after it; and at
    // most a chunk is read before the elements read are looked at, so that the rest of the
    // level (and its own elements) gets its turn in the walk's time.
    static constexpr int longListWindow = 8;
    // Reads queued at the application at once otherwise: enough to keep it busy between round
    // trips, few enough that what is given up at the deadline is worked off in a few
    // milliseconds instead of delaying the next walk's first answer.
    static constexpr int window = 64;
    static constexpr int longListChunk = 32;
    // The longest a walk waits for the application, in all. What it has not read by then counts
    // as absent in that walk and is read by the next, from where this one left off; what it
    // read is kept. A walk thereby holds the main thread about as long as any other platform
    // call may, and fits in the launch's own searches (the Plugins tab's 180 ms, the result's
    // 120 ms), which repeat their walks until they find what they look for.
    static constexpr int walkBudgetMs = 100;

    explicit AtspiTree(Bus& bus);

    // Reads from now on end at `deadline`; what is not read by then counts as absent and is read
    // by a later walk, what was read is kept.
    void setDeadline(QDeadlineTimer deadline);
    bool pastDeadline() const { return m_deadline.hasExpired(); }
    // Whether every read since setDeadline was answered in time.
    bool complete() const { return m_complete; }
    void markIncomplete() { m_complete = false; }

    // The element handed out for a node: made once, remembering its node.
    const AccessibleElement& element(Node* n);

    Node* node(const AtspiElementRef& ref);

    Node* node(const QString& bus, const QString& path);

    // Starts a walk from `root`: depths count from it again.
    void setRoot(Node* root);

    // Different for every tree made: a tree started afresh is not the one read before.
    quint64 id() const { return m_id; }
    Node* find(const QString& bus, const QString& path);
    const Node* find(const QString& bus, const QString& path) const {
        return const_cast<AtspiTree*>(this)->find(bus, path);
    }
    std::size_t size() const { return m_nodes.size(); }

    // What the application reports as changed is read again when next needed. The composed
    // children are recomputed from what is known (no requests) after any change.
    void invalidateBasics(Node* n);
    void invalidateRawChildren(Node* n);
    void invalidateExtras(Node* n) {
        m_bus.forgetLate(n->bus, n->path);
        n->hasExtras = false;
    }
    void invalidateSubtree(Node* n);
    // Every composition is recomputed from what is known (no requests) when next asked.
    void invalidateComposition() { ++m_generation; }

    static bool isApplication(const Node* n) { return n->path == QLatin1String(rootPath); }

    // Whether any of `nodes` lacks what `has` says; past the deadline nothing more is asked.
    template <typename Has> bool outOfTime(const std::vector<Node*>& nodes, Has has) {
        if (!pastDeadline())
            return false;
        if (std::any_of(nodes.begin(), nodes.end(), [&](Node* n) { return !has(n); })) {
            m_complete = false;
            m_bus.noteUnanswered();
        }
        return true;
    }

    void ensureBasics(const std::vector<Node*>& nodes);
    void ensureBasicsOfChunk(const std::vector<Node*>& nodes);
    static constexpr std::size_t basicsChunk = 128;

    // The children of `nodes` as the application names them. Short lists are asked for whole;
    // a long one a chunk at a time from where the last read left off, the children read so far
    // kept from walk to walk.
    void ensureRawChildren(const std::vector<Node*>& nodes);

    void readLongList(Node* n);

    void adopt(Node* parent, const ObjectRef& ref);

    // Attributes and text contents, needed only for the labels of text elements.
    void ensureExtras(const std::vector<Node*>& nodes);

    const std::vector<Node*>& children(Node* n);

    // The windows of an application element, showing ones only.
    std::vector<Node*> windows(Node* app) { return children(app); }

    Node* activeWindow(Node* app);

    // Marks what `event` reports as changed, to be read again when next needed.
    void apply(const Event& event);

private:
    void resolveChildren(const std::vector<Node*>& level);

    // False when some of it is not known yet.
    bool compose(Node* owner, Node* from, std::unordered_set<Node*>& visiting);

    // Windows stay whatever they are called; below them nameless containers give way.
    static bool collapses(const Node* n);

    Bus& m_bus;
    quint64 m_id = 0;
    std::unordered_map<QString, std::unique_ptr<Node>> m_nodes;
    std::vector<Node*> m_order;
    bool m_levelBatching = false;
    quint64 m_generation = 1;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    bool m_complete = true;
};

// The trees of the applications walked lately, kept from walk to walk and brought up to date by
// the events the applications send: a walk is answered from its application's tree once the
// application has confirmed that every event it sent before has arrived. Lost events cannot be
// ruled out (an application may not report every change), so trees expire, and are dropped
// when they do, also while no walk comes.
class KeptTrees {
public:
    explicit KeptTrees(Bus& bus);
    KeptTrees(const KeptTrees&) = delete;
    KeptTrees& operator=(const KeptTrees&) = delete;

    // The tree a walk of the application on `busName` reads, caught up with the application's
    // events; a fresh one when there is none yet, it expired or grew too large, or the
    // application was woken lately and the last walk read everything. Null when there is no
    // bus, or the application did not answer by `deadline`: it may only be busy, so nothing
    // kept is dropped, and the events still to come are applied when a later walk catches up.
    AtspiTree* beginWalk(const QString& busName, QDeadlineTimer deadline);
    void endWalk(const QString& busName, bool complete);
    // The application's kept tree as it stands, not caught up; null when none is kept.
    const AtspiTree* tree(const QString& busName) const {
        const auto found = m_trees.find(busName);
        return found == m_trees.end() ? nullptr : found->second.tree.get();
    }
    // Forgets the application's tree: the next walk reads afresh.
    void drop(const QString& busName);
    // The application was just asked to publish its tree.
    void noteWoken(const QString& busName);
    // Starts keeping the application's tree (and listening to its events) when not kept yet, or
    // afresh when it would expire soon, so that where its focus goes from now on is known. False
    // when there is no bus.
    bool keep(const QString& busName);
    // The element the application last reported as gaining the focus, among the events caught up
    // with so far; empty when none came while its tree was kept.
    QString lastFocused(const QString& busName) const { return m_focused.value(busName); }

    static constexpr qint64 lifetimeMs = 30000;
    // keep starts a tree this close to its end afresh: longer than a launch lasts.
    static constexpr qint64 renewalMarginMs = 10000;
    // While Chromium publishes its tree after being woken, it rebuilds parts of it without
    // reporting every change: for that long, each walk reads the tree afresh.
    static constexpr qint64 wakeSettleMs = 3000;
    static constexpr std::size_t maximumNodes = 50000;

    // Takes in the events that have come so far, without waiting for any.
    void applyEvents();

    // Told of each event as it is taken in, before the kept tree changes by it; and of events
    // that may have been missed (the inbox overflowed): then nothing read before can be taken
    // as unchanged.
    struct Observer {
        std::function<void(std::size_t count)> taking; // before the events taken in at once
        std::function<void(const Event&, const AtspiTree& tree)> seen;
        std::function<void()> missed;
    };
    void setObserver(Observer observer) { m_observer = std::move(observer); }
    // Whether the application was woken lately: its changes may then go unreported.
    bool settling(const QString& busName) const;

private:
    struct Kept {
        std::unique_ptr<AtspiTree> tree;
        QElapsedTimer age;
        bool lastWalkComplete = false;
    };
    Kept& startTree(const QString& busName);
    void dropAll();
    void dropExpired();
    void stopListeningWhenIdle();
    void scheduleExpiry();
    // Applies the events that came in; false when the application did not answer in time.
    bool catchUp(const QString& busName, QDeadlineTimer deadline);

    Bus& m_bus;
    EventInbox m_inbox;
    std::unordered_map<QString, Kept> m_trees;
    QHash<QString, QElapsedTimer> m_wokenAt;
    QHash<QString, QString> m_focused;
    bool m_walking = false;
    QTimer m_expiry;
    Observer m_observer;
};

} // namespace brevlin::atspi
