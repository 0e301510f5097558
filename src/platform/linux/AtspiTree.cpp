#include "AtspiTree.h"

#include <atspi/atspi-constants.h>

#include <atomic>

namespace brevlin::atspi {

namespace {

QString nodeKey(const QString& bus, const QString& path) {
    return bus + QLatin1Char('\n') + path;
}

} // namespace

AtspiTree::AtspiTree(Bus& bus)
    : m_bus(bus) {
    static std::atomic<quint64> trees{0};
    m_id = ++trees;
}

void AtspiTree::setDeadline(QDeadlineTimer deadline) {
    m_deadline = deadline;
    m_complete = true;
}

const AccessibleElement& AtspiTree::element(Node* n) {
    if (n->element.isNull()) {
        auto ref = std::make_shared<const AtspiElementRef>(n->bus, n->path);
        ref->cacheNode(m_id, n);
        n->element = AccessibleElement(std::move(ref));
    }
    return n->element;
}

AtspiTree::Node* AtspiTree::node(const AtspiElementRef& ref) {
    if (void* cached = ref.cachedNode(m_id))
        return static_cast<Node*>(cached);
    Node* n = node(ref.busName(), ref.path());
    ref.cacheNode(m_id, n);
    return n;
}

AtspiTree::Node* AtspiTree::node(const QString& bus, const QString& path) {
    auto& slot = m_nodes[nodeKey(bus, path)];
    if (!slot) {
        slot = std::make_unique<Node>();
        slot->bus = bus;
        slot->path = path;
        m_order.push_back(slot.get());
    }
    return slot.get();
}

void AtspiTree::setRoot(Node* root) {
    for (Node* n : m_order) {
        n->depth = INT_MAX;
        if (n->incompleteChildren)
            invalidateRawChildren(n);
    }
    root->depth = 0;
    m_levelBatching = true;
}

AtspiTree::Node* AtspiTree::find(const QString& bus, const QString& path) {
    auto it = m_nodes.find(nodeKey(bus, path));
    return it == m_nodes.end() ? nullptr : it->second.get();
}

void AtspiTree::invalidateBasics(Node* n) {
    m_bus.forgetLate(n->bus, n->path);
    n->hasBasics = false;
    n->hasExtras = false;
    invalidateComposition();
}

void AtspiTree::invalidateRawChildren(Node* n) {
    m_bus.forgetLate(n->bus, n->path);
    n->hasRawChildren = false;
    n->incompleteChildren = false;
    n->rawChildren.clear();
    n->childCount = -1;
    n->indexRead = 0;
    invalidateComposition();
}

void AtspiTree::invalidateSubtree(Node* n) {
    std::vector<Node*> stack{n};
    std::unordered_set<Node*> seen;
    while (!stack.empty()) {
        Node* x = stack.back();
        stack.pop_back();
        if (!seen.insert(x).second)
            continue;
        stack.insert(stack.end(), x->rawChildren.begin(), x->rawChildren.end());
        m_bus.forgetLate(x->bus, x->path);
        x->hasBasics = false;
        x->hasExtras = false;
        x->hasRawChildren = false;
        x->rawChildren.clear();
        x->incompleteChildren = false;
        x->childCount = -1;
        x->indexRead = 0;
    }
    invalidateComposition();
}

void AtspiTree::ensureBasics(const std::vector<Node*>& nodes) {
    // A chunk at a time, the time looked at in between: preparing, and giving up, the calls for
    // thousands of elements at once would hold the thread well past the walk's time.
    for (std::size_t from = 0; from < nodes.size(); from += basicsChunk) {
        const auto begin = nodes.begin() + std::ptrdiff_t(from);
        ensureBasicsOfChunk(
            {begin, begin + std::ptrdiff_t(std::min(basicsChunk, nodes.size() - from))});
    }
}

void AtspiTree::ensureBasicsOfChunk(const std::vector<Node*>& nodes) {
    if (outOfTime(nodes, [](Node* n) { return n->hasBasics; }))
        return;
    Batch batch(m_bus, m_deadline, window);
    std::vector<Node*> fetched;
    for (Node* n : nodes) {
        if (n->hasBasics)
            continue;
        n->hasBasics = true;
        n->texts.reset();
        fetched.push_back(n);
        n->info = AtspiObjectInfo();
        // Unanswered, the element is unknown, not empty: it is read again when next needed.
        auto unknown = [n] { n->hasBasics = false; };
        batch.add(
            n->bus, n->path, accessibleInterface, "GetRole", nullptr,
            [n](GVariant* r) {
                if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(u)")))
                    g_variant_get(r, "(u)", &n->info.role);
            },
            unknown);
        batch.add(
            n->bus, n->path, accessibleInterface, "GetState", nullptr,
            [n](GVariant* r) { n->info.states = unboxStates(r); }, unknown);
        batch.add(
            n->bus, n->path, "org.freedesktop.DBus.Properties", "Get", propertyName("Name"),
            [n](GVariant* r) { n->info.name = unboxString(r); }, unknown);
        // Known before the children are asked for, so that a long list is never asked for
        // whole, and a leaf (most elements) needs no request for its children at all.
        if (!n->hasRawChildren && n->indexRead == 0)
            batch.add(n->bus, n->path, "org.freedesktop.DBus.Properties", "Get",
                      propertyName("ChildCount"),
                      [n](GVariant* r) { n->childCount = unboxInt(r); });
    }
    if (!batch.run())
        m_complete = false;
    // A description only counts as a label when there is no name, or as the placeholder
    // of a text field: most elements never need one read.
    for (Node* n : fetched) {
        if (n->hasBasics && (n->info.name.isEmpty() || isTextElement(n->info.role, n->info.states)))
            batch.add(
                n->bus, n->path, "org.freedesktop.DBus.Properties", "Get",
                propertyName("Description"),
                [n](GVariant* r) { n->info.description = unboxString(r); },
                [n] { n->hasBasics = false; });
    }
    if (!batch.run())
        m_complete = false;
}

void AtspiTree::ensureRawChildren(const std::vector<Node*>& nodes) {
    if (outOfTime(nodes, [](Node* n) { return n->hasRawChildren; }))
        return;
    std::vector<Node*> uncounted;
    for (Node* n : nodes) {
        if (!n->hasRawChildren && n->childCount < 0)
            uncounted.push_back(n);
    }
    if (!uncounted.empty()) {
        Batch counts(m_bus, m_deadline, window);
        for (Node* n : uncounted)
            counts.add(n->bus, n->path, "org.freedesktop.DBus.Properties", "Get",
                       propertyName("ChildCount"),
                       [n](GVariant* r) { n->childCount = unboxInt(r); });
        if (!counts.run())
            m_complete = false;
    }
    Batch batch(m_bus, m_deadline, window);
    std::vector<Node*> longLists;
    for (Node* n : nodes) {
        if (n->hasRawChildren)
            continue;
        if (n->childCount > longChildList) {
            longLists.push_back(n);
            continue;
        }
        n->hasRawChildren = true;
        n->rawChildren.clear();
        // No answer to the count (an error): the list itself may still be there.
        if (n->childCount == 0)
            continue;
        batch.add(
            n->bus, n->path, accessibleInterface, "GetChildren", nullptr,
            [this, n](GVariant* r) {
                if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(a(so))")))
                    return;
                Variant arr(g_variant_get_child_value(r, 0));
                for (const ObjectRef& ref : objectRefs(arr.get())) {
                    if (isNullRef(ref)) {
                        // Chromium's window before its tree is published: children
                        // it does not name yet are asked for again next walk.
                        n->incompleteChildren = true;
                        continue;
                    }
                    adopt(n, ref);
                }
            },
            [n] {
                n->hasRawChildren = false;
                n->rawChildren.clear();
            });
    }
    if (!batch.run())
        m_complete = false;
    for (Node* n : longLists)
        readLongList(n);
}

void AtspiTree::readLongList(Node* n) {
    // Replies come in any order; each index keeps its place.
    const int from = n->indexRead;
    const int until = std::min(n->childCount, from + longListChunk);
    std::vector<std::optional<ObjectRef>> read(std::size_t(until - from));
    Batch batch(m_bus, m_deadline, longListWindow);
    for (int i = from; i < until; ++i) {
        batch.add(
            n->bus, n->path, accessibleInterface, "GetChildAtIndex", g_variant_new("(i)", i),
            [&read, i, from](GVariant* r) {
                if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("((so))"))) {
                    Variant ref(g_variant_get_child_value(r, 0));
                    read[std::size_t(i - from)] = objectRef(ref.get());
                } else {
                    read[std::size_t(i - from)] = ObjectRef(); // answered: none there
                }
            },
            [&read, i, from] { read[std::size_t(i - from)].reset(); });
    }
    // Unanswered reads stay unset, and only the run of answered ones from the start counts.
    if (!batch.run())
        m_complete = false;
    for (const std::optional<ObjectRef>& ref : read) {
        if (!ref)
            break;
        if (!isNullRef(*ref))
            adopt(n, *ref);
        ++n->indexRead;
    }
    if (n->indexRead >= n->childCount)
        n->hasRawChildren = true;
    else
        m_complete = false;
    invalidateComposition();
}

void AtspiTree::adopt(Node* parent, const ObjectRef& ref) {
    Node* child = node(ref.busName, ref.path);
    child->rawParent = parent;
    child->underLongList = parent->underLongList || parent->childCount > longChildList;
    parent->rawChildren.push_back(child);
}

void AtspiTree::ensureExtras(const std::vector<Node*>& nodes) {
    ensureBasics(nodes);
    // Only text elements have anything more to read, in time or not.
    for (Node* n : nodes) {
        if (!n->hasExtras && n->hasBasics && !isTextElement(n->info.role, n->info.states)) {
            n->hasExtras = true;
            n->texts.reset();
        }
    }
    if (outOfTime(nodes, [](Node* n) { return n->hasExtras; }))
        return;
    Batch batch(m_bus, m_deadline, window);
    for (Node* n : nodes) {
        if (n->hasExtras || !n->hasBasics)
            continue;
        n->hasExtras = true;
        n->texts.reset();
        if (!isTextElement(n->info.role, n->info.states))
            continue;
        n->info.attributes.clear();
        n->info.text.reset();
        auto unknown = [n] { n->hasExtras = false; };
        batch.add(
            n->bus, n->path, accessibleInterface, "GetAttributes", nullptr,
            [n](GVariant* r) {
                if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(a{ss})")))
                    return;
                Variant dict(g_variant_get_child_value(r, 0));
                GVariantIter iter;
                g_variant_iter_init(&iter, dict.get());
                const gchar* key = nullptr;
                const gchar* value = nullptr;
                while (g_variant_iter_next(&iter, "{&s&s}", &key, &value))
                    n->info.attributes.insert(QString::fromUtf8(key), QString::fromUtf8(value));
            },
            unknown);
        batch.add(
            n->bus, n->path, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1),
            [n](GVariant* r) {
                if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(s)")))
                    n->info.text = unboxString(r);
            },
            unknown);
    }
    if (!batch.run())
        m_complete = false;
}

const std::vector<AtspiTree::Node*>& AtspiTree::children(Node* n) {
    if (n->composedAt == m_generation) {
        if (n->depth != INT_MAX) {
            for (Node* c : n->children)
                c->depth = std::min(c->depth, n->depth + 1);
        }
        return n->children;
    }
    std::vector<Node*> level{n};
    if (pastDeadline()) {
        // Out of time: the children as far as they are known, nothing asked.
        m_complete = false;
        m_bus.noteUnanswered();
    } else if (m_levelBatching && n->depth != INT_MAX) {
        // The walk is breadth-first: everything it found at this depth is asked next.
        for (Node* o : m_order) {
            if (o != n && o->composedAt != m_generation && o->depth <= n->depth)
                level.push_back(o);
        }
        // A long list's rows go last, so that the rest of the level is read in the walk's time
        // however many rows earlier walks have added; the rows are read by later walks.
        std::stable_partition(level.begin() + 1, level.end(),
                              [](const Node* o) { return !o->underLongList; });
    }
    resolveChildren(level);
    return n->children;
}

AtspiTree::Node* AtspiTree::activeWindow(Node* app) {
    for (Node* w : windows(app)) {
        if (hasState(w->info.states, ATSPI_STATE_ACTIVE))
            return w;
    }
    return nullptr;
}

void AtspiTree::resolveChildren(const std::vector<Node*>& level) {
    // Raw children of the level, then of any nameless containers among them, and so on.
    std::vector<Node*> expand = level;
    std::unordered_set<Node*> seen(level.begin(), level.end());
    for (int guard = 0; !expand.empty() && guard < 64; ++guard) {
        ensureRawChildren(expand);
        std::vector<Node*> found;
        for (Node* n : expand)
            found.insert(found.end(), n->rawChildren.begin(), n->rawChildren.end());
        std::stable_partition(found.begin(), found.end(),
                              [](const Node* o) { return !o->underLongList; });
        ensureBasics(found);
        // Before deciding what collapses: an application's children stay, whatever their role.
        for (Node* n : expand) {
            for (Node* c : n->rawChildren)
                c->topLevel = isApplication(n);
        }
        expand.clear();
        // Every showing container that gives way is gone through again, read before or
        // not: what an event made unknown below it is fetched here, never left out.
        std::vector<Node*> next;
        for (Node* c : found) {
            if (isShowing(c->info) && collapses(c) && seen.insert(c).second)
                next.push_back(c);
        }
        expand.swap(next);
    }
    for (Node* n : level) {
        n->children.clear();
        std::unordered_set<Node*> visiting{n};
        // A composition with parts still unknown is made again when next asked, by which
        // time they may have been read.
        if (compose(n, n, visiting))
            n->composedAt = m_generation;
        else
            m_complete = false;
        for (Node* c : n->children) {
            if (n->depth != INT_MAX)
                c->depth = std::min(c->depth, n->depth + 1);
        }
    }
}

bool AtspiTree::compose(Node* owner, Node* from, std::unordered_set<Node*>& visiting) {
    bool whole = from->hasRawChildren;
    for (Node* c : from->rawChildren) {
        if (!c->hasBasics) {
            whole = false;
            continue;
        }
        if (!isShowing(c->info) || !visiting.insert(c).second)
            continue;
        if (!collapses(c))
            owner->children.push_back(c);
        else
            whole = compose(owner, c, visiting) && whole;
    }
    return whole;
}

bool AtspiTree::collapses(const Node* n) {
    return !n->topLevel.value_or(false) && isCollapsedContainer(n->info);
}

void AtspiTree::apply(const Event& e) {
    Node* n = find(e.sender, e.path);
    const QByteArray& what = e.member;
    const QByteArray& detail = e.detail;
    if (e.cache) {
        // An object that goes leaves its parent's children; one that comes joins them.
        if (what == "RemoveAccessible" && n) {
            if (n->rawParent)
                invalidateRawChildren(n->rawParent);
            invalidateSubtree(n);
        } else if (what == "AddAccessible") {
            if (Node* parent = find(e.sender, e.parentPath))
                invalidateRawChildren(parent);
            if (n)
                invalidateSubtree(n);
        }
        return;
    }
    if (e.window) {
        // Windows come, go and change activation: the application's list is read again.
        if (Node* app = find(e.sender, QString::fromLatin1(rootPath)))
            invalidateRawChildren(app);
        if (n)
            invalidateBasics(n);
        return;
    }
    if (!n)
        return;
    if (what == "ChildrenChanged") {
        invalidateRawChildren(n);
    } else if (what == "StateChanged") {
        if (detail == "showing" || detail == "visible" || detail == "defunct")
            invalidateSubtree(n);
        else
            invalidateBasics(n);
    } else if (what == "PropertyChange") {
        if (detail == "accessible-parent")
            invalidateSubtree(n);
        else
            invalidateBasics(n);
    } else if (what == "TextChanged" || what == "AttributesChanged") {
        invalidateExtras(n);
    } else if (what == "VisibleDataChanged" || what == "ModelChanged") {
        invalidateSubtree(n);
    }
}

KeptTrees::KeptTrees(Bus& bus)
    : m_bus(bus)
    , m_inbox(bus) {
    m_expiry.setSingleShot(true);
    QObject::connect(&m_expiry, &QTimer::timeout, [this] { dropExpired(); });
}

bool KeptTrees::settling(const QString& busName) const {
    auto it = m_wokenAt.constFind(busName);
    return it != m_wokenAt.constEnd() && it->elapsed() < wakeSettleMs;
}

void KeptTrees::noteWoken(const QString& busName) {
    if (!m_wokenAt.contains(busName))
        m_wokenAt[busName].start();
}

KeptTrees::Kept& KeptTrees::startTree(const QString& busName) {
    Kept& kept = m_trees[busName];
    // Answers to the old tree's questions would stand in for the fresh reads.
    m_bus.forgetLate(busName);
    kept.tree = std::make_unique<AtspiTree>(m_bus);
    kept.age.start();
    kept.lastWalkComplete = false;
    m_inbox.watch(busName, true);
    scheduleExpiry();
    return kept;
}

bool KeptTrees::keep(const QString& busName) {
    bool restarted = false;
    if (!m_inbox.listen(restarted))
        return false;
    // Trees built before listening (again) may have missed events.
    if (restarted)
        dropAll();
    // A tree that would expire in the middle of a launch takes its events, and with them where
    // the focus went, along: the palette would then be found by searching the whole window.
    const auto found = m_trees.find(busName);
    if (found == m_trees.end() || found->second.age.elapsed() > lifetimeMs - renewalMarginMs)
        startTree(busName);
    return true;
}

AtspiTree* KeptTrees::beginWalk(const QString& busName, QDeadlineTimer deadline) {
    bool restarted = false;
    if (!m_inbox.listen(restarted))
        return nullptr;
    // Trees built before listening (again) may have missed events.
    if (restarted)
        dropAll();
    auto found = m_trees.find(busName);
    // While settling, a walk starts afresh once the one before it read everything; one that ran
    // out of time is gone on with, or a tree bigger than one walk's time is never read whole.
    // Whatever a walk finds is confirmed against the application before it is acted on.
    const bool fresh = found == m_trees.end() || !found->second.tree ||
                       found->second.age.elapsed() > lifetimeMs ||
                       found->second.tree->size() > maximumNodes ||
                       (settling(busName) && found->second.lastWalkComplete);
    if (fresh)
        startTree(busName);
    if (!catchUp(busName, deadline))
        return nullptr;
    // Events may have overflowed and taken every kept tree with them.
    found = m_trees.find(busName);
    AtspiTree* tree =
        found == m_trees.end() ? startTree(busName).tree.get() : found->second.tree.get();
    m_walking = true;
    return tree;
}

void KeptTrees::endWalk(const QString& busName, bool complete) {
    m_walking = false;
    if (auto found = m_trees.find(busName); found != m_trees.end())
        found->second.lastWalkComplete = complete;
}

void KeptTrees::drop(const QString& busName) {
    m_trees.erase(busName);
    m_bus.forgetLate(busName);
    m_focused.remove(busName);
    m_inbox.watch(busName, false);
    stopListeningWhenIdle();
}

void KeptTrees::dropAll() {
    for (const auto& [busName, kept] : m_trees)
        m_inbox.watch(busName, false);
    m_trees.clear();
    m_focused.clear();
    m_bus.forgetLate();
}

void KeptTrees::stopListeningWhenIdle() {
    if (m_trees.empty() && !m_walking)
        m_inbox.stop();
}

void KeptTrees::dropExpired() {
    if (m_walking) {
        // Not in the middle of a walk; right after it.
        m_expiry.start(0);
        return;
    }
    for (auto it = m_trees.begin(); it != m_trees.end();) {
        if (it->second.age.elapsed() >= lifetimeMs) {
            m_inbox.watch(it->first, false);
            m_focused.remove(it->first);
            it = m_trees.erase(it);
        } else {
            ++it;
        }
    }
    scheduleExpiry();
    stopListeningWhenIdle();
}

void KeptTrees::scheduleExpiry() {
    qint64 soonest = -1;
    for (const auto& [busName, kept] : m_trees) {
        const qint64 left = std::max<qint64>(0, lifetimeMs - kept.age.elapsed());
        soonest = soonest < 0 ? left : std::min(soonest, left);
    }
    if (soonest < 0)
        m_expiry.stop();
    else
        m_expiry.start(int(soonest) + 1);
}

// The application answers after it has sent every event it sent before; once that answer is
// here, so are the events.
bool KeptTrees::catchUp(const QString& busName, QDeadlineTimer deadline) {
    const int timeout = m_bus.withinTurn(
        int(std::clamp<qint64>(deadline.remainingTime(), 1, AtspiTree::walkBudgetMs)));
    const bool alive =
        bool(m_bus.call(busName, QString::fromLatin1(rootPath), "org.freedesktop.DBus.Peer", "Ping",
                        nullptr, nullptr, timeout));
    applyEvents();
    return alive;
}

void KeptTrees::applyEvents() {
    EventInbox::Taken taken = m_inbox.take();
    if (taken.overflowed) {
        m_trees.clear();
        m_focused.clear();
        m_bus.forgetLate();
        if (m_observer.missed)
            m_observer.missed();
    } else {
        if (m_observer.taking && !taken.events.empty())
            m_observer.taking(taken.events.size());
        for (const Event& e : taken.events) {
            // Late answers are kept for any read, not only the kept tree's: what changed is
            // asked again, wherever it was read.
            m_bus.forgetLate(e.sender, e.path);
            if (e.member == "StateChanged" && e.detail == "focused" && e.detail1 == 1)
                m_focused[e.sender] = e.path;
            if (auto found = m_trees.find(e.sender); found != m_trees.end()) {
                if (m_observer.seen)
                    m_observer.seen(e, *found->second.tree);
                found->second.tree->apply(e);
            }
        }
    }
}

} // namespace brevlin::atspi
