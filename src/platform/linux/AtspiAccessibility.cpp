#include "AtspiAccessibility.h"

#include "AtspiBus.h"
#include "AtspiTranslate.h"
#include "AtspiTrust.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace brevlin {

using atspi::Batch;
using atspi::ObjectRef;
using atspi::Variant;

std::size_t AtspiElementRef::identityHash() const {
    return qHash(m_path, qHash(m_busName));
}

bool AtspiElementRef::equals(const AXElementRef& other) const {
    auto* o = dynamic_cast<const AtspiElementRef*>(&other);
    return o && o->m_path == m_path && o->m_busName == m_busName;
}

namespace {

QString nodeKey(const QString& bus, const QString& path) {
    return bus + QLatin1Char('\n') + path;
}

AXElement makeElement(const QString& bus, const QString& path) {
    return AXElement(std::make_shared<const AtspiElementRef>(bus, path));
}

AXValue elementList(const std::vector<AXElement>& elements) {
    std::vector<AXValue> list;
    list.reserve(elements.size());
    for (const auto& e : elements)
        list.push_back(AXValue::fromElement(e));
    return AXValue::fromList(std::move(list));
}

GVariant* propertyName(const char* property) {
    return g_variant_new("(ss)", atspi::accessibleInterface, property);
}

QString unboxString(GVariant* reply) {
    // Properties.Get answers "(v)"; a method answers "(s)".
    if (!reply)
        return {};
    Variant inner(g_variant_get_child_value(reply, 0));
    GVariant* v = inner.get();
    Variant unboxed;
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        unboxed = Variant(g_variant_get_variant(v));
        v = unboxed.get();
    }
    if (!g_variant_is_of_type(v, G_VARIANT_TYPE_STRING))
        return {};
    return QString::fromUtf8(g_variant_get_string(v, nullptr));
}

// An int32 property as Properties.Get answers it; -1 when not there.
int unboxInt(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)")))
        return -1;
    Variant boxed(g_variant_get_child_value(reply, 0));
    Variant value(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32))
        return -1;
    return std::max(0, int(g_variant_get_int32(value.get())));
}

} // namespace

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
        std::optional<bool> topLevel; // a direct child of its application
        Node* rawParent = nullptr;
        AtspiObjectInfo info;
        std::vector<Node*> rawChildren;
        std::vector<Node*> children; // showing, with nameless containers replaced by their own
        AXElement element;
        std::optional<AXLabels> labels; // worked out from `info` when first asked for
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

    explicit AtspiTree(atspi::Bus& bus)
        : m_bus(bus) {
        static std::atomic<quint64> trees{0};
        m_id = ++trees;
    }

    // Reads from now on end at `deadline`; what is not read by then counts as absent and is read
    // by a later walk, what was read is kept.
    void setDeadline(QDeadlineTimer deadline) {
        m_deadline = deadline;
        m_complete = true;
    }
    bool pastDeadline() const { return m_deadline.hasExpired(); }
    // Whether every read since setDeadline was answered in time.
    bool complete() const { return m_complete; }
    void markIncomplete() { m_complete = false; }

    // The element handed out for a node: made once, remembering its node.
    const AXElement& element(Node* n) {
        if (n->element.isNull()) {
            auto ref = std::make_shared<const AtspiElementRef>(n->bus, n->path);
            ref->cacheNode(m_id, n);
            n->element = AXElement(std::move(ref));
        }
        return n->element;
    }

    Node* node(const AtspiElementRef& ref) {
        if (void* cached = ref.cachedNode(m_id))
            return static_cast<Node*>(cached);
        Node* n = node(ref.busName(), ref.path());
        ref.cacheNode(m_id, n);
        return n;
    }

    Node* node(const QString& bus, const QString& path) {
        auto& slot = m_nodes[nodeKey(bus, path)];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->bus = bus;
            slot->path = path;
            m_order.push_back(slot.get());
        }
        return slot.get();
    }

    // Starts a walk from `root`: depths count from it again.
    void setRoot(Node* root) {
        for (Node* n : m_order) {
            n->depth = INT_MAX;
            if (n->incompleteChildren)
                invalidateRawChildren(n);
        }
        root->depth = 0;
        m_levelBatching = true;
    }

    Node* find(const QString& bus, const QString& path) {
        auto it = m_nodes.find(nodeKey(bus, path));
        return it == m_nodes.end() ? nullptr : it->second.get();
    }
    std::size_t size() const { return m_nodes.size(); }

    // What the application reports as changed is read again when next needed. The composed
    // children are recomputed from what is known (no requests) after any change.
    void invalidateBasics(Node* n) {
        n->hasBasics = false;
        n->hasExtras = false;
        invalidateComposition();
    }
    void invalidateRawChildren(Node* n) {
        n->hasRawChildren = false;
        n->incompleteChildren = false;
        n->rawChildren.clear();
        n->childCount = -1;
        n->indexRead = 0;
        invalidateComposition();
    }
    void invalidateExtras(Node* n) { n->hasExtras = false; }
    void invalidateSubtree(Node* n) {
        std::vector<Node*> stack{n};
        std::unordered_set<Node*> seen;
        while (!stack.empty()) {
            Node* x = stack.back();
            stack.pop_back();
            if (!seen.insert(x).second)
                continue;
            stack.insert(stack.end(), x->rawChildren.begin(), x->rawChildren.end());
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
    // Every composition is recomputed from what is known (no requests) when next asked.
    void invalidateComposition() { ++m_generation; }

    static bool isApplication(const Node* n) { return n->path == QLatin1String(atspi::rootPath); }

    // Whether any of `nodes` lacks what `has` says; past the deadline nothing more is asked.
    template <typename Has> bool outOfTime(const std::vector<Node*>& nodes, Has has) {
        if (!pastDeadline())
            return false;
        if (std::any_of(nodes.begin(), nodes.end(), [&](Node* n) { return !has(n); }))
            m_complete = false;
        return true;
    }

    void ensureBasics(const std::vector<Node*>& nodes) {
        if (outOfTime(nodes, [](Node* n) { return n->hasBasics; }))
            return;
        Batch batch(m_bus, m_deadline, window);
        std::vector<Node*> fetched;
        for (Node* n : nodes) {
            if (n->hasBasics)
                continue;
            n->hasBasics = true;
            n->labels.reset();
            fetched.push_back(n);
            n->info = AtspiObjectInfo();
            // Unanswered, the element is unknown, not empty: it is read again when next needed.
            auto unknown = [n] { n->hasBasics = false; };
            batch.add(
                n->bus, n->path, atspi::accessibleInterface, "GetRole", nullptr,
                [n](GVariant* r) {
                    if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(u)")))
                        g_variant_get(r, "(u)", &n->info.role);
                },
                unknown);
            batch.add(
                n->bus, n->path, atspi::accessibleInterface, "GetState", nullptr,
                [n](GVariant* r) {
                    if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(au)")))
                        return;
                    Variant arr(g_variant_get_child_value(r, 0));
                    gsize count = 0;
                    auto* words = static_cast<const guint32*>(
                        g_variant_get_fixed_array(arr.get(), &count, sizeof(guint32)));
                    n->info.states =
                        atspi::stateBits(count > 0 ? words[0] : 0, count > 1 ? words[1] : 0);
                },
                unknown);
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
            if (n->hasBasics &&
                (n->info.name.isEmpty() || atspi::isTextElement(n->info.role, n->info.states)))
                batch.add(
                    n->bus, n->path, "org.freedesktop.DBus.Properties", "Get",
                    propertyName("Description"),
                    [n](GVariant* r) { n->info.description = unboxString(r); },
                    [n] { n->hasBasics = false; });
        }
        if (!batch.run())
            m_complete = false;
    }

    // The children of `nodes` as the application names them. Short lists are asked for whole;
    // a long one a chunk at a time from where the last read left off, the children read so far
    // kept from walk to walk.
    void ensureRawChildren(const std::vector<Node*>& nodes) {
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
                n->bus, n->path, atspi::accessibleInterface, "GetChildren", nullptr,
                [this, n](GVariant* r) {
                    if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(a(so))")))
                        return;
                    Variant arr(g_variant_get_child_value(r, 0));
                    for (const ObjectRef& ref : atspi::objectRefs(arr.get())) {
                        if (atspi::isNullRef(ref)) {
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

    void readLongList(Node* n) {
        // Replies come in any order; each index keeps its place.
        const int from = n->indexRead;
        const int until = std::min(n->childCount, from + longListChunk);
        std::vector<std::optional<ObjectRef>> read(std::size_t(until - from));
        Batch batch(m_bus, m_deadline, longListWindow);
        for (int i = from; i < until; ++i) {
            batch.add(
                n->bus, n->path, atspi::accessibleInterface, "GetChildAtIndex",
                g_variant_new("(i)", i),
                [&read, i, from](GVariant* r) {
                    if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("((so))"))) {
                        Variant ref(g_variant_get_child_value(r, 0));
                        read[std::size_t(i - from)] = atspi::objectRef(ref.get());
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
            if (!atspi::isNullRef(*ref))
                adopt(n, *ref);
            ++n->indexRead;
        }
        if (n->indexRead >= n->childCount)
            n->hasRawChildren = true;
        else
            m_complete = false;
        invalidateComposition();
    }

    void adopt(Node* parent, const ObjectRef& ref) {
        Node* child = node(ref.busName, ref.path);
        child->rawParent = parent;
        parent->rawChildren.push_back(child);
    }

    // Attributes and text contents, needed only for the labels of text elements.
    void ensureExtras(const std::vector<Node*>& nodes) {
        ensureBasics(nodes);
        // Only text elements have anything more to read, in time or not.
        for (Node* n : nodes) {
            if (!n->hasExtras && n->hasBasics &&
                !atspi::isTextElement(n->info.role, n->info.states)) {
                n->hasExtras = true;
                n->labels.reset();
            }
        }
        if (outOfTime(nodes, [](Node* n) { return n->hasExtras; }))
            return;
        Batch batch(m_bus, m_deadline, window);
        for (Node* n : nodes) {
            if (n->hasExtras || !n->hasBasics)
                continue;
            n->hasExtras = true;
            n->labels.reset();
            if (!atspi::isTextElement(n->info.role, n->info.states))
                continue;
            n->info.attributes.clear();
            n->info.text.reset();
            auto unknown = [n] { n->hasExtras = false; };
            batch.add(
                n->bus, n->path, atspi::accessibleInterface, "GetAttributes", nullptr,
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

    const std::vector<Node*>& children(Node* n) {
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
        } else if (m_levelBatching && n->depth != INT_MAX) {
            // The walk is breadth-first: everything it found at this depth is asked next.
            for (Node* o : m_order) {
                if (o != n && o->composedAt != m_generation && o->depth <= n->depth)
                    level.push_back(o);
            }
        }
        resolveChildren(level);
        return n->children;
    }

    // The windows of an application element, showing ones only.
    std::vector<Node*> windows(Node* app) { return children(app); }

    Node* activeWindow(Node* app) {
        for (Node* w : windows(app)) {
            if (atspi::hasState(w->info.states, ATSPI_STATE_ACTIVE))
                return w;
        }
        return nullptr;
    }

private:
    void resolveChildren(const std::vector<Node*>& level) {
        // Raw children of the level, then of any nameless containers among them, and so on.
        std::vector<Node*> expand = level;
        std::unordered_set<Node*> seen(level.begin(), level.end());
        for (int guard = 0; !expand.empty() && guard < 64; ++guard) {
            ensureRawChildren(expand);
            std::vector<Node*> found;
            for (Node* n : expand)
                found.insert(found.end(), n->rawChildren.begin(), n->rawChildren.end());
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
                if (atspi::isShowing(c->info) && collapses(c) && seen.insert(c).second)
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

    // False when some of it is not known yet.
    bool compose(Node* owner, Node* from, std::unordered_set<Node*>& visiting) {
        bool whole = from->hasRawChildren;
        for (Node* c : from->rawChildren) {
            if (!c->hasBasics) {
                whole = false;
                continue;
            }
            if (!atspi::isShowing(c->info) || !visiting.insert(c).second)
                continue;
            if (!collapses(c))
                owner->children.push_back(c);
            else
                whole = compose(owner, c, visiting) && whole;
        }
        return whole;
    }

    // Windows stay whatever they are called; below them nameless containers give way.
    static bool collapses(const Node* n) {
        return !n->topLevel.value_or(false) && atspi::isCollapsedContainer(n->info);
    }

    atspi::Bus& m_bus;
    quint64 m_id = 0;
    std::unordered_map<QString, std::unique_ptr<Node>> m_nodes;
    std::vector<Node*> m_order;
    bool m_levelBatching = false;
    quint64 m_generation = 1;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
    bool m_complete = true;
};

class AtspiAccessibility::Private {
public:
    atspi::Bus bus;

    // One tree per application, kept from walk to walk and brought up to date by the events
    // the application sends; a walk is answered from it once the application has confirmed
    // that every event sent before has arrived.
    struct Mirror {
        std::unique_ptr<AtspiTree> tree;
        QElapsedTimer age;
        bool lastWalkComplete = false;
    };
    std::unordered_map<QString, Mirror> mirrors;
    AtspiTree* walk = nullptr;
    QString walkBus;
    // An application that did not answer when its walk began: the rest of that walk fails at
    // once instead of waiting out a timeout on every read.
    QString unresponsiveBus;
    bool lastWalkComplete = true;
    // Kept trees are dropped when they expire, not only when their application is walked
    // again: one that quit, or is never launched again, would otherwise be held for good.
    QTimer expiry;

    Private() {
        expiry.setSingleShot(true);
        QObject::connect(&expiry, &QTimer::timeout, [this] { dropExpired(); });
    }

    void dropExpired() {
        if (walk) {
            // Not in the middle of a walk; right after it.
            expiry.start(0);
            return;
        }
        for (auto it = mirrors.begin(); it != mirrors.end();) {
            if (it->second.age.elapsed() >= mirrorLifetimeMs) {
                watch(it->first, false);
                it = mirrors.erase(it);
            } else {
                ++it;
            }
        }
        scheduleExpiry();
    }

    void scheduleExpiry() {
        qint64 soonest = -1;
        for (const auto& [busName, mirror] : mirrors) {
            const qint64 left = std::max<qint64>(0, mirrorLifetimeMs - mirror.age.elapsed());
            soonest = soonest < 0 ? left : std::min(soonest, left);
        }
        if (soonest < 0)
            expiry.stop();
        else
            expiry.start(int(soonest) + 1);
    }

    // Events are noted as they arrive, on the connection's own thread, and applied at the start
    // of the next walk. Only applications with a kept tree are noted, and only so many: past
    // that, the kept trees are dropped instead, so an application busy for hours between
    // launches costs nothing.
    struct Event {
        QString sender;
        QString path;
        bool window = false;
        bool cache = false;
        QString parentPath; // of an object the cache reports as added
        QByteArray member;
        QByteArray detail;
    };
    struct Inbox {
        std::mutex mutex;
        QSet<QString> watched;
        std::vector<Event> events;
        bool overflowed = false;
        static constexpr std::size_t capacity = 20000;
    };
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    GDBusConnection* listening = nullptr;
    guint filterId = 0;

    // Lost events cannot be ruled out (an application may not report every change), so no
    // tree is trusted for longer than this.
    static constexpr qint64 mirrorLifetimeMs = 30000;
    // While Chromium publishes its tree after being woken, it rebuilds parts of it without
    // reporting every change: for that long, each walk reads the tree afresh.
    static constexpr qint64 wakeSettleMs = 3000;
    QHash<QString, QElapsedTimer> wokenAt;

    bool settling(const QString& busName) const {
        auto it = wokenAt.constFind(busName);
        return it != wokenAt.constEnd() && it->elapsed() < wakeSettleMs;
    }
    static constexpr std::size_t mirrorMaxNodes = 50000;
    // The longest a walk waits for the application, in all. What it has not read by then counts
    // as absent in that walk and is read by the next, from where this one left off; what it
    // read is kept. A walk thereby holds the main thread about as long as any other platform
    // call may, and fits in the launch's own searches (the Plugins tab's 180 ms, the result's
    // 120 ms), which repeat their walks until they find what they look for.
    static constexpr int walkBudgetMs = 100;

    ~Private() { stopListening(); }

    void stopListening() {
        if (!listening)
            return;
        g_dbus_connection_remove_filter(listening, filterId);
        g_object_unref(listening);
        listening = nullptr;
        dropMirrors();
    }

    void dropMirror(const QString& busName) {
        mirrors.erase(busName);
        watch(busName, false);
    }

    // What an assistive client does first, and what makes Chromium publish its tree: the
    // attributes of the application and of each of its windows.
    void wake(const QString& busName) {
        if (!wokenAt.contains(busName))
            wokenAt[busName].start();
        const QString root = QString::fromLatin1(atspi::rootPath);
        Batch batch(bus);
        std::vector<ObjectRef> windows;
        batch.add(busName, root, atspi::accessibleInterface, "GetAttributes", nullptr,
                  [](GVariant*) {});
        batch.add(busName, root, atspi::accessibleInterface, "GetChildren", nullptr,
                  [&windows](GVariant* r) {
                      if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(a(so))")))
                          return;
                      Variant arr(g_variant_get_child_value(r, 0));
                      windows = atspi::objectRefs(arr.get());
                  });
        batch.run();
        for (const ObjectRef& w : windows) {
            if (!atspi::isNullRef(w))
                batch.add(w.busName, w.path, atspi::accessibleInterface, "GetAttributes", nullptr,
                          [](GVariant*) {});
        }
        batch.run();
    }

    void dropMirrors() {
        mirrors.clear();
        std::lock_guard lock(inbox->mutex);
        inbox->watched.clear();
        inbox->events.clear();
        inbox->overflowed = false;
    }

    static GDBusMessage* noteEvent(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                   gpointer data) {
        if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_SIGNAL)
            return message;
        const gchar* interface = g_dbus_message_get_interface(message);
        const gchar* sender = g_dbus_message_get_sender(message);
        if (!interface || !sender)
            return message;
        const bool cache = g_str_equal(interface, atspi::cacheInterface);
        if (!cache && !g_str_has_prefix(interface, "org.a11y.atspi.Event."))
            return message;
        auto& box = **static_cast<std::shared_ptr<Inbox>*>(data);
        const QString from = QString::fromUtf8(sender);
        std::lock_guard lock(box.mutex);
        if (!box.watched.contains(from) || box.overflowed)
            return message;
        if (box.events.size() >= Inbox::capacity) {
            box.overflowed = true;
            box.events.clear();
            return message;
        }
        Event e;
        e.sender = from;
        e.path = QString::fromUtf8(g_dbus_message_get_path(message));
        e.window = g_str_equal(interface, "org.a11y.atspi.Event.Window");
        e.member = g_dbus_message_get_member(message);
        GVariant* body = g_dbus_message_get_body(message);
        if (cache) {
            // Toolkits that keep the bus's cache report what comes and goes through it alone:
            // the object, and for an addition its parent.
            e.cache = true;
            if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("((so))"))) {
                Variant ref(g_variant_get_child_value(body, 0));
                e.path = atspi::objectRef(ref.get()).path;
            } else if (body && g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE) &&
                       g_variant_n_children(body) > 0) {
                Variant item(g_variant_get_child_value(body, 0));
                if (g_variant_is_of_type(item.get(), G_VARIANT_TYPE_TUPLE) &&
                    g_variant_n_children(item.get()) > 2) {
                    Variant object(g_variant_get_child_value(item.get(), 0));
                    Variant parent(g_variant_get_child_value(item.get(), 2));
                    e.path = atspi::objectRef(object.get()).path;
                    e.parentPath = atspi::objectRef(parent.get()).path;
                }
            }
        } else if (body && g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE) &&
                   g_variant_n_children(body) > 0) {
            Variant first(g_variant_get_child_value(body, 0));
            if (g_variant_is_of_type(first.get(), G_VARIANT_TYPE_STRING))
                e.detail = g_variant_get_string(first.get(), nullptr);
        }
        box.events.push_back(std::move(e));
        return message;
    }

    bool ensureEvents() {
        if (!bus.ensureConnected())
            return false;
        if (listening == bus.connection())
            return true;
        stopListening();
        listening = G_DBUS_CONNECTION(g_object_ref(bus.connection()));
        filterId = g_dbus_connection_add_filter(
            listening, &Private::noteEvent, new std::shared_ptr<Inbox>(inbox),
            [](gpointer data) { delete static_cast<std::shared_ptr<Inbox>*>(data); });
        for (const char* rule : {"type='signal',interface='org.a11y.atspi.Event.Object'",
                                 "type='signal',interface='org.a11y.atspi.Event.Window'",
                                 "type='signal',interface='org.a11y.atspi.Cache'"}) {
            bus.call(QStringLiteral("org.freedesktop.DBus"),
                     QStringLiteral("/org/freedesktop/DBus"), "org.freedesktop.DBus", "AddMatch",
                     g_variant_new("(s)", rule), nullptr);
        }
        // Toolkits send events only while someone has registered for them.
        for (const char* event : {"object:", "window:"}) {
            bus.call(QStringLiteral("org.a11y.atspi.Registry"),
                     QStringLiteral("/org/a11y/atspi/registry"), "org.a11y.atspi.Registry",
                     "RegisterEvent",
                     g_variant_new("(s@ass)", event, g_variant_new_strv(nullptr, 0), ""), nullptr);
        }
        return true;
    }

    void watch(const QString& busName, bool on) {
        std::lock_guard lock(inbox->mutex);
        if (on)
            inbox->watched.insert(busName);
        else
            inbox->watched.remove(busName);
    }

    void applyEvents() {
        std::vector<Event> events;
        bool overflowed = false;
        {
            std::lock_guard lock(inbox->mutex);
            events.swap(inbox->events);
            overflowed = inbox->overflowed;
        }
        if (overflowed) {
            dropMirrors();
            return;
        }
        for (const Event& e : events)
            handleEvent(e);
    }

    void handleEvent(const Event& e) {
        auto it = mirrors.find(e.sender);
        if (it == mirrors.end())
            return;
        AtspiTree& tree = *it->second.tree;
        AtspiTree::Node* n = tree.find(e.sender, e.path);
        const QByteArray& what = e.member;
        const QByteArray& detail = e.detail;
        const QString& busName = e.sender;
        if (e.cache) {
            // An object that goes leaves its parent's children; one that comes joins them.
            if (what == "RemoveAccessible" && n) {
                if (n->rawParent)
                    tree.invalidateRawChildren(n->rawParent);
                tree.invalidateSubtree(n);
            } else if (what == "AddAccessible") {
                if (AtspiTree::Node* parent = tree.find(busName, e.parentPath))
                    tree.invalidateRawChildren(parent);
                if (n)
                    tree.invalidateSubtree(n);
            }
            return;
        }
        if (e.window) {
            // Windows come, go and change activation: the application's list is read again.
            if (AtspiTree::Node* app = tree.find(busName, QString::fromLatin1(atspi::rootPath)))
                tree.invalidateRawChildren(app);
            if (n)
                tree.invalidateBasics(n);
            return;
        }
        if (!n)
            return;
        if (what == "ChildrenChanged") {
            tree.invalidateRawChildren(n);
        } else if (what == "StateChanged") {
            if (detail == "showing" || detail == "visible" || detail == "defunct")
                tree.invalidateSubtree(n);
            else
                tree.invalidateBasics(n);
        } else if (what == "PropertyChange") {
            if (detail == "accessible-parent")
                tree.invalidateSubtree(n);
            else
                tree.invalidateBasics(n);
        } else if (what == "TextChanged" || what == "AttributesChanged") {
            tree.invalidateExtras(n);
        } else if (what == "VisibleDataChanged" || what == "ModelChanged") {
            tree.invalidateSubtree(n);
        }
    }

    // The application answers after it has sent every event it sent before; once that answer
    // is here, so are the events. False when the application does not answer by `deadline`:
    // it may only be busy, so nothing kept is dropped, and the events still to come are
    // applied when a later walk catches up.
    bool catchUp(const QString& busName, QDeadlineTimer deadline) {
        const int timeout = int(std::clamp<qint64>(deadline.remainingTime(), 1, walkBudgetMs));
        const bool alive =
            bool(bus.call(busName, QString::fromLatin1(atspi::rootPath),
                          "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, timeout));
        applyEvents();
        return alive;
    }

    // The tree that answers a read: the walk's, or a fresh one for a single read, which has a
    // walk's time.
    AtspiTree& treeFor(const AtspiElementRef& ref, std::unique_ptr<AtspiTree>& scratch) {
        if (walk && ref.busName() == walkBus)
            return *walk;
        scratch = std::make_unique<AtspiTree>(bus);
        scratch->setDeadline(QDeadlineTimer(walkBudgetMs));
        return *scratch;
    }

    bool boolReply(const Variant& reply) {
        if (!reply || !g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(b)")))
            return false;
        gboolean ok = FALSE;
        g_variant_get(reply.get(), "(b)", &ok);
        return ok;
    }

    ObjectRef rawParent(const QString& busName, const QString& path, bool* answered = nullptr) {
        Variant reply = bus.call(busName, path, "org.freedesktop.DBus.Properties", "Get",
                                 propertyName("Parent"), G_VARIANT_TYPE("(v)"),
                                 atspi::Bus::callTimeoutMs, answered);
        if (!reply)
            return {};
        Variant boxed(g_variant_get_child_value(reply.get(), 0));
        Variant ref(g_variant_get_variant(boxed.get()));
        return atspi::objectRef(ref.get());
    }

    AXElement parentElement(const AtspiElementRef& ref) {
        QString busName = ref.busName();
        QString path = ref.path();
        for (int up = 0; up < 64; ++up) {
            const ObjectRef parent = rawParent(busName, path);
            if (atspi::isNullRef(parent))
                return {};
            if (parent.path == QLatin1String(atspi::rootPath))
                return makeElement(parent.busName, parent.path);
            AtspiTree scratch(bus);
            AtspiTree::Node* n = scratch.node(parent.busName, parent.path);
            scratch.ensureBasics({n});
            if (!atspi::isCollapsedContainer(n->info) ||
                rawParent(parent.busName, parent.path).path == QLatin1String(atspi::rootPath))
                return makeElement(parent.busName, parent.path);
            busName = parent.busName;
            path = parent.path;
        }
        return {};
    }

    bool implements(const QString& busName, const QString& path, const char* interface) {
        Variant reply = bus.call(busName, path, atspi::accessibleInterface, "GetInterfaces",
                                 nullptr, G_VARIANT_TYPE("(as)"));
        if (!reply)
            return false;
        Variant list(g_variant_get_child_value(reply.get(), 0));
        GVariantIter iter;
        g_variant_iter_init(&iter, list.get());
        const gchar* name = nullptr;
        while (g_variant_iter_next(&iter, "&s", &name)) {
            if (g_str_equal(name, interface))
                return true;
        }
        return false;
    }

    // Selecting goes through the parent's Selection; a parent without one is never asked.
    bool selectThroughParent(const AtspiElementRef& ref) {
        const ObjectRef parent = rawParent(ref.busName(), ref.path());
        if (atspi::isNullRef(parent) ||
            !implements(parent.busName, parent.path, "org.a11y.atspi.Selection"))
            return false;
        Variant index = bus.call(ref.busName(), ref.path(), atspi::accessibleInterface,
                                 "GetIndexInParent", nullptr, G_VARIANT_TYPE("(i)"));
        if (!index)
            return false;
        gint32 i = -1;
        g_variant_get(index.get(), "(i)", &i);
        if (i < 0)
            return false;
        return boolReply(bus.call(parent.busName, parent.path, "org.a11y.atspi.Selection",
                                  "SelectChild", g_variant_new("(i)", i), G_VARIANT_TYPE("(b)")));
    }

    // The action names, not their localized forms: GetActions hands out the localized ones,
    // which some toolkits leave empty and others translate.
    QStringList actionNames(const AtspiElementRef& ref) {
        QStringList names;
        Variant count = bus.call(ref.busName(), ref.path(), "org.freedesktop.DBus.Properties",
                                 "Get", g_variant_new("(ss)", "org.a11y.atspi.Action", "NActions"),
                                 G_VARIANT_TYPE("(v)"));
        if (!count)
            return names;
        Variant boxed(g_variant_get_child_value(count.get(), 0));
        Variant value(g_variant_get_variant(boxed.get()));
        if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32))
            return names;
        const int n = std::clamp(int(g_variant_get_int32(value.get())), 0, 32);
        std::vector<QString> byIndex(static_cast<std::size_t>(n));
        Batch batch(bus);
        for (int i = 0; i < n; ++i) {
            batch.add(ref.busName(), ref.path(), "org.a11y.atspi.Action", "GetName",
                      g_variant_new("(i)", i), [&byIndex, i](GVariant* r) {
                          if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(s)")))
                              byIndex[std::size_t(i)] = unboxString(r);
                      });
        }
        batch.run();
        for (QString& name : byIndex)
            names << std::move(name);
        return names;
    }

    AXError press(const AtspiElementRef& ref) {
        const int index = atspi::pressActionIndex(actionNames(ref));
        if (index < 0)
            return axActionUnsupported;
        return boolReply(bus.call(ref.busName(), ref.path(), "org.a11y.atspi.Action", "DoAction",
                                  g_variant_new("(i)", index), G_VARIANT_TYPE("(b)")))
                   ? axSuccess
                   : axCannotComplete;
    }
};

AtspiAccessibility::AtspiAccessibility()
    : d(std::make_unique<Private>()) {}

AtspiAccessibility::~AtspiAccessibility() = default;

quint64 AtspiAccessibility::requestCount() const {
    return d->bus.requestCount();
}

bool AtspiAccessibility::isProcessTrusted(bool prompt) {
    GDBusConnection* session = atspi::sessionBus();
    if (!session)
        return false;
    if (prompt) {
        GVariant* done = g_dbus_connection_call_sync(
            session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
            g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
            nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (done)
            g_variant_unref(done);
    }
    auto enabled = [session](const char* property) {
        GVariant* reply = g_dbus_connection_call_sync(
            session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
            g_variant_new("(ss)", "org.a11y.Status", property), G_VARIANT_TYPE("(v)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (!reply)
            return false;
        Variant owned(reply);
        Variant boxed(g_variant_get_child_value(reply, 0));
        Variant value(g_variant_get_variant(boxed.get()));
        return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) &&
               g_variant_get_boolean(value.get());
    };
    if (!enabled("IsEnabled") && !enabled("ScreenReaderEnabled"))
        return false;
    return d->bus.ensureConnected();
}

void AtspiAccessibility::checkProcessTrusted(bool prompt,
                                             std::function<void(bool trusted)> answer) {
    atspi::checkTrust(prompt, std::move(answer));
}

AXElement AtspiAccessibility::applicationElement(qint64 processIdentifier) {
    Variant apps =
        d->bus.call(QStringLiteral("org.a11y.atspi.Registry"), QString::fromLatin1(atspi::rootPath),
                    atspi::accessibleInterface, "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"));
    if (!apps)
        return {};
    Variant arr(g_variant_get_child_value(apps.get(), 0));
    for (const ObjectRef& app : atspi::objectRefs(arr.get())) {
        Variant pid = d->bus.call(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            "org.freedesktop.DBus", "GetConnectionUnixProcessID",
            g_variant_new("(s)", app.busName.toUtf8().constData()), G_VARIANT_TYPE("(u)"));
        if (!pid)
            continue;
        guint32 value = 0;
        g_variant_get(pid.get(), "(u)", &value);
        if (qint64(value) == processIdentifier) {
            d->wake(app.busName);
            return makeElement(app.busName, QString::fromLatin1(atspi::rootPath));
        }
    }
    return {};
}

bool AtspiAccessibility::confirmElement(const AXElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref || !d->bus.ensureConnected())
        return false;
    if (ref->path() == QLatin1String(atspi::rootPath))
        return true;
    // Up the parents to the application; a chain that breaks off is no longer in the tree.
    // An application too busy to answer in time has not said that anything changed: the
    // element is not confirmed, but what is kept of it stays.
    std::vector<QString> chain;
    QString path = ref->path();
    bool reachesApplication = false;
    bool answered = true;
    for (int up = 0; up < 64 && answered; ++up) {
        chain.push_back(path);
        const ObjectRef parent = d->rawParent(ref->busName(), path, &answered);
        if (atspi::isNullRef(parent) || parent.busName != ref->busName())
            break;
        if (parent.path == QLatin1String(atspi::rootPath)) {
            reachesApplication = true;
            break;
        }
        path = parent.path;
    }
    bool showing = reachesApplication;
    if (showing) {
        Batch batch(d->bus, QDeadlineTimer(Private::walkBudgetMs));
        for (const QString& p : chain) {
            batch.add(
                ref->busName(), p, atspi::accessibleInterface, "GetState", nullptr,
                [&showing](GVariant* r) {
                    quint64 states = 0;
                    if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(au)"))) {
                        Variant arr(g_variant_get_child_value(r, 0));
                        gsize count = 0;
                        auto* words = static_cast<const guint32*>(
                            g_variant_get_fixed_array(arr.get(), &count, sizeof(guint32)));
                        states =
                            atspi::stateBits(count > 0 ? words[0] : 0, count > 1 ? words[1] : 0);
                    }
                    if (!atspi::isShowing(states) || atspi::hasState(states, ATSPI_STATE_DEFUNCT))
                        showing = false;
                },
                [&answered] { answered = false; });
        }
        batch.run();
    }
    if (!answered)
        return false;
    if (!showing)
        d->dropMirror(ref->busName());
    return showing;
}

AXError AtspiAccessibility::copyAttributeValue(const AXElement& element, const QString& attribute,
                                               AXValue& value) {
    value = AXValue::none();
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return axFailure;
    if (!d->bus.ensureConnected() || ref->busName() == d->unresponsiveBus)
        return axCannotComplete;

    std::unique_ptr<AtspiTree> scratch;
    AtspiTree& tree = d->treeFor(*ref, scratch);
    AtspiTree::Node* n = tree.node(*ref);
    const bool application = AtspiTree::isApplication(n);
    auto toElements = [&tree](const std::vector<AtspiTree::Node*>& nodes) {
        std::vector<AXElement> list;
        list.reserve(nodes.size());
        for (auto* c : nodes)
            list.push_back(tree.element(c));
        return list;
    };

    if (attribute == QLatin1String("AXChildren")) {
        value = elementList(toElements(tree.children(n)));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXWindows")) {
        if (!application)
            return axAttributeUnsupported;
        value = elementList(toElements(tree.windows(n)));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXFocusedWindow") ||
        attribute == QLatin1String("AXMainWindow")) {
        if (!application)
            return axAttributeUnsupported;
        AtspiTree::Node* window = tree.activeWindow(n);
        if (!window && attribute == QLatin1String("AXMainWindow")) {
            const auto all = tree.windows(n);
            if (!all.empty())
                window = all.front();
        }
        if (!window)
            return axNoValue;
        value = AXValue::fromElement(tree.element(window));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXParent")) {
        if (application)
            return axNoValue;
        AXElement parent = d->parentElement(*ref);
        if (parent.isNull())
            return axNoValue;
        value = AXValue::fromElement(parent);
        return axSuccess;
    }

    tree.ensureBasics({n});
    // Not read in time: absent, as a failed read is.
    if (!n->hasBasics)
        return axCannotComplete;
    if (attribute == QLatin1String("AXRole")) {
        if (!n->topLevel) {
            n->topLevel = !application && d->rawParent(ref->busName(), ref->path()).path ==
                                              QLatin1String(atspi::rootPath);
        }
        value = AXValue::fromString(atspi::axRole(n->info.role, n->info.states, *n->topLevel));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXFocused")) {
        value = AXValue::fromBool(atspi::isFocused(n->info));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXSelected")) {
        value = AXValue::fromBool(atspi::isSelected(n->info));
        return axSuccess;
    }
    const bool label =
        attribute == QLatin1String("AXTitle") || attribute == QLatin1String("AXDescription") ||
        attribute == QLatin1String("AXValue") || attribute == QLatin1String("AXPlaceholderValue");
    if (!label)
        return axAttributeUnsupported;
    tree.ensureExtras({n});
    if (!n->hasExtras)
        return axCannotComplete;
    if (!n->labels)
        n->labels = atspi::axLabels(n->info);
    const AXLabels& labels = *n->labels;
    const std::optional<QString>& text =
        attribute == QLatin1String("AXTitle")         ? labels.title
        : attribute == QLatin1String("AXDescription") ? labels.description
        : attribute == QLatin1String("AXValue")       ? labels.value
                                                      : labels.placeholder;
    if (!text)
        return axNoValue;
    value = AXValue::fromString(*text);
    return axSuccess;
}

AXError AtspiAccessibility::setAttributeValue(const AXElement& element, const QString& attribute,
                                              const AXValue& value) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return axFailure;
    if (!d->bus.ensureConnected())
        return axCannotComplete;
    if (attribute == QLatin1String("AXFocused")) {
        if (value.kind != AXValue::Kind::boolean || !value.boolean)
            return axCannotComplete;
        return d->boolReply(d->bus.call(ref->busName(), ref->path(), "org.a11y.atspi.Component",
                                        "GrabFocus", nullptr, G_VARIANT_TYPE("(b)")))
                   ? axSuccess
                   : axCannotComplete;
    }
    if (attribute == QLatin1String("AXValue")) {
        if (value.kind != AXValue::Kind::string)
            return axCannotComplete;
        return d->boolReply(d->bus.call(
                   ref->busName(), ref->path(), "org.a11y.atspi.EditableText", "SetTextContents",
                   g_variant_new("(s)", value.string.toUtf8().constData()), G_VARIANT_TYPE("(b)")))
                   ? axSuccess
                   : axCannotComplete;
    }
    if (attribute == QLatin1String("AXSelected")) {
        if (value.kind != AXValue::Kind::boolean || !value.boolean)
            return axCannotComplete;
        return d->selectThroughParent(*ref) ? axSuccess : axCannotComplete;
    }
    return axAttributeUnsupported;
}

AXError AtspiAccessibility::performAction(const AXElement& element, const QString& action) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return axFailure;
    if (!d->bus.ensureConnected())
        return axCannotComplete;
    if (action == QLatin1String("AXPress"))
        return d->press(*ref);
    if (action == QLatin1String("AXRaise")) {
        // Raising a window is the window manager's business; asking the toolkit to focus the
        // window is as far as accessibility goes.
        return d->boolReply(d->bus.call(ref->busName(), ref->path(), "org.a11y.atspi.Component",
                                        "GrabFocus", nullptr, G_VARIANT_TYPE("(b)")))
                   ? axSuccess
                   : axCannotComplete;
    }
    return axActionUnsupported;
}

void AtspiAccessibility::beginWalk(const AXElement& root) {
    d->walk = nullptr;
    d->walkBus.clear();
    d->unresponsiveBus.clear();
    d->lastWalkComplete = false;
    const auto* ref = root.as<AtspiElementRef>();
    if (!ref || !d->ensureEvents())
        return;
    const QDeadlineTimer deadline(Private::walkBudgetMs);
    auto& mirror = d->mirrors[ref->busName()];
    // While settling, a walk starts afresh once the one before it read everything; one that ran
    // out of time is gone on with, or a tree bigger than one walk's time is never read whole.
    // Whatever a walk finds is confirmed against the application before it is acted on.
    const bool fresh = !mirror.tree || mirror.age.elapsed() > Private::mirrorLifetimeMs ||
                       mirror.tree->size() > Private::mirrorMaxNodes ||
                       (d->settling(ref->busName()) && mirror.lastWalkComplete);
    if (fresh) {
        mirror.tree = std::make_unique<AtspiTree>(d->bus);
        mirror.age.start();
        d->watch(ref->busName(), true);
        d->scheduleExpiry();
    }
    if (!d->catchUp(ref->busName(), deadline)) {
        d->unresponsiveBus = ref->busName();
        return;
    }
    // Events may have overflowed and taken every kept tree with them.
    auto kept = d->mirrors.find(ref->busName());
    if (kept == d->mirrors.end()) {
        kept = d->mirrors.emplace(ref->busName(), Private::Mirror()).first;
        kept->second.tree = std::make_unique<AtspiTree>(d->bus);
        kept->second.age.start();
        d->watch(ref->busName(), true);
        d->scheduleExpiry();
    }
    d->walk = kept->second.tree.get();
    d->walkBus = ref->busName();
    d->walk->setRoot(d->walk->node(ref->busName(), ref->path()));
    d->walk->setDeadline(deadline);
}

void AtspiAccessibility::endWalk() {
    d->lastWalkComplete = d->walk && d->walk->complete();
    if (auto kept = d->mirrors.find(d->walkBus); d->walk && kept != d->mirrors.end())
        kept->second.lastWalkComplete = d->lastWalkComplete;
    d->walk = nullptr;
    d->walkBus.clear();
    d->unresponsiveBus.clear();
}

bool AtspiAccessibility::lastWalkComplete() const {
    return d->lastWalkComplete;
}

} // namespace brevlin
