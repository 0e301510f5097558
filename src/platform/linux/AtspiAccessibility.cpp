#include "AtspiAccessibility.h"

#include "AtspiBus.h"
#include "AtspiTranslate.h"
#include "AtspiTree.h"
#include "AtspiTrust.h"
#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QStringList>

#include <atspi/atspi-constants.h>

#include <algorithm>

namespace brevlin {

using atspi::AtspiTree;
using atspi::Batch;
using atspi::ObjectRef;
using atspi::Variant;
using namespace atspi;

std::size_t AtspiElementRef::identityHash() const {
    return qHash(m_path, qHash(m_busName));
}

bool AtspiElementRef::equals(const AccessibleElementRef& other) const {
    auto* o = dynamic_cast<const AtspiElementRef*>(&other);
    return o && o->m_path == m_path && o->m_busName == m_busName;
}

namespace {

// The parent a Properties.Get "Parent" reply names; null for any other reply.
ObjectRef parentNamedIn(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)")))
        return {};
    Variant boxed(g_variant_get_child_value(reply, 0));
    Variant ref(g_variant_get_variant(boxed.get()));
    return objectRef(ref.get());
}

AccessibleElement makeElement(const QString& bus, const QString& path) {
    return AccessibleElement(std::make_shared<const AtspiElementRef>(bus, path));
}

// A press or a focus request whose steps are answered in the main loop. The state lives as long as
// a call is out, also past the backend, whose bus connection it holds on to.
struct ActInFlight {
    ActInFlight(GDBusConnection* connection, const AtspiElementRef& ref,
                std::function<void(bool)> done)
        : connection(G_DBUS_CONNECTION(g_object_ref(connection)))
        , busName(ref.busName().toUtf8())
        , path(ref.path().toUtf8())
        , done(std::move(done)) {}
    ~ActInFlight() { g_object_unref(connection); }
    ActInFlight(const ActInFlight&) = delete;
    ActInFlight& operator=(const ActInFlight&) = delete;

    GDBusConnection* connection;
    QByteArray busName;
    QByteArray path;
    std::function<void(bool)> done;
    // A press's action names, by index, as they are answered.
    QStringList names;
    qsizetype unanswered = 0;

    // Each call holds a share of the act, handed back in its callback.
    struct Step {
        std::shared_ptr<ActInFlight> act;
        qsizetype index = 0;
    };
    using Callback = void (*)(GObject*, GAsyncResult*, gpointer);
    static void send(std::shared_ptr<ActInFlight> act, const char* interface, const char* method,
                     GVariant* params, const GVariantType* replyType, Callback callback,
                     qsizetype index = 0) {
        ActInFlight& a = *act;
        g_dbus_connection_call(a.connection, a.busName.constData(), a.path.constData(), interface,
                               method, params, replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                               Bus::batchCallTimeoutMs, nullptr, callback,
                               new Step{std::move(act), index});
    }
    // The step a callback was handed, and the call's answer (null on any failure).
    static std::pair<std::unique_ptr<Step>, Variant> answer(GObject* source, GAsyncResult* result,
                                                            gpointer data) {
        return {std::unique_ptr<Step>(static_cast<Step*>(data)),
                Variant(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr))};
    }

    // Starts `first` on the element, or answers false at once when there is nothing to ask.
    static void begin(Bus& bus, const AccessibleElement& element, std::function<void(bool)> done,
                      void (*first)(std::shared_ptr<ActInFlight>)) {
        const auto* ref = element.as<AtspiElementRef>();
        if (!ref || !bus.ensureConnected()) {
            done(false);
            return;
        }
        // Counted as one request: the calls that follow are answered after the backend may be
        // gone.
        bus.countRequests(1);
        first(std::make_shared<ActInFlight>(bus.connection(), *ref, std::move(done)));
    }
    static void focus(std::shared_ptr<ActInFlight> act) {
        send(std::move(act), "org.a11y.atspi.Component", "GrabFocus", nullptr,
             G_VARIANT_TYPE("(b)"), onDone);
    }
    static void press(std::shared_ptr<ActInFlight> act) {
        send(std::move(act), "org.freedesktop.DBus.Properties", "Get",
             g_variant_new("(ss)", "org.a11y.atspi.Action", "NActions"), G_VARIANT_TYPE("(v)"),
             onCount);
    }
    static void onCount(GObject* source, GAsyncResult* result, gpointer data) {
        const auto [step, count] = answer(source, result, data);
        const int n = std::min(unboxInt(count.get()), 32);
        ActInFlight& act = *step->act;
        if (n <= 0) {
            act.done(false);
            return;
        }
        act.names.resize(n);
        act.unanswered = n;
        for (int i = 0; i < n; ++i)
            send(step->act, "org.a11y.atspi.Action", "GetName", g_variant_new("(i)", i),
                 G_VARIANT_TYPE("(s)"), onName, i);
    }
    static void onName(GObject* source, GAsyncResult* result, gpointer data) {
        const auto [step, name] = answer(source, result, data);
        ActInFlight& act = *step->act;
        act.names[step->index] = unboxString(name.get());
        if (--act.unanswered > 0)
            return;
        const int index = pressActionIndex(act.names);
        if (index < 0) {
            act.done(false);
            return;
        }
        send(step->act, "org.a11y.atspi.Action", "DoAction", g_variant_new("(i)", index),
             G_VARIANT_TYPE("(b)"), onDone);
    }
    static void onDone(GObject* source, GAsyncResult* result, gpointer data) {
        const auto [step, done] = answer(source, result, data);
        step->act->done(unboxBool(done.get()));
    }
};

} // namespace

class AtspiAccessibility::Private {
public:
    Bus bus;
    KeptTrees kept{bus};
    // The tree the current walk reads, of the application on walkBus.
    AtspiTree* walk = nullptr;
    QString walkBus;
    // An application that did not answer when its walk began: the rest of that walk fails at
    // once instead of waiting out a timeout on every read.
    QString unresponsiveBus;
    bool lastWalkComplete = true;
    AnchorCounts anchors;
    // Parents the application named lately, by bus name and path: confirming an element asks
    // them all again at once instead of one after another.
    QHash<QString, QString> parentsSeen;

    // What was read lately, answered again without asking while its application has reported
    // no change to the element, below it or above it, and for a short while only: an application
    // may change what it does not report. A wait that looks every few milliseconds then asks
    // the application only after something changed, however long the application takes to show
    // what the wait is for (Chromium beside 10,000 rows: a tenth of a second and more).
    struct Stamp {
        quint64 mark = 0;
        quint64 tree = 0; // of the kept tree whose events were followed; 0: none were
        QElapsedTimer age;
    };
    template <typename T> using Recalled = QHash<QString, std::pair<Stamp, T>>;
    static constexpr qint64 recallMs = 100;
    static constexpr qsizetype recalledMaximum = 64;
    static constexpr int placingDepth = 64;
    struct Mark {
        quint64 value = 0;
        QSet<QString> above; // the element's ancestors, as far as they were known when first read
    };
    // By bus name and path, of the elements read lately: changed when an event touches them.
    QHash<QString, Mark> marks;
    quint64 lastMark = 0;
    Recalled<Finding> findsRecalled;
    // An element's texts, and whether it is a text element (whose empty text reads as absent).
    struct Texts {
        ElementTexts texts;
        bool textElement = false;
    };
    Recalled<Texts> textsRecalled;
    Recalled<AtspiObjectInfo> basicsRecalled;

    static QString keyOf(const QString& busName, const QString& path) {
        return busName + QLatin1Char('\n') + path;
    }

    // The parent the kept tree or a climb lately placed the element under; empty when neither
    // did.
    QString knownParent(const AtspiTree* tree, const QString& busName, const QString& path) const {
        const AtspiTree::Node* n = tree ? tree->find(busName, path) : nullptr;
        return n && n->rawParent ? n->rawParent->path : parentSeen(busName, path);
    }

    // The element's ancestors as the kept tree and the parents named lately place it, up to its
    // application; `placed` tells whether they reach it.
    QSet<QString> ancestors(const AtspiTree* tree, const QString& busName, const QString& path,
                            bool* placed = nullptr) const {
        QSet<QString> above;
        bool reached = false;
        QString at = path;
        for (int up = 0; up < placingDepth && !reached; ++up) {
            at = knownParent(tree, busName, at);
            if (at.isEmpty())
                break;
            reached = at == QLatin1String(rootPath);
            above.insert(at);
        }
        if (placed)
            *placed = reached;
        return above;
    }

    // Taken before a read: what it finds holds as long as the stamp does.
    Stamp stamp(const QString& busName, const QString& path) {
        Stamp s;
        const AtspiTree* tree = kept.tree(busName);
        if (!tree || kept.settling(busName))
            return s;
        if (marks.size() >= 2 * recalledMaximum)
            forgetRecalled();
        auto mark = marks.find(keyOf(busName, path));
        if (mark == marks.end())
            mark = marks.insert(keyOf(busName, path),
                                Mark{++lastMark, ancestors(tree, busName, path)});
        s.mark = mark->value;
        s.tree = tree->id();
        s.age.start();
        return s;
    }

    bool stillHolds(const QString& busName, const QString& path, const Stamp& s) const {
        if (!s.tree || s.age.elapsed() >= recallMs || kept.settling(busName))
            return false;
        const AtspiTree* tree = kept.tree(busName);
        const auto mark = marks.constFind(keyOf(busName, path));
        return tree && tree->id() == s.tree && mark != marks.constEnd() && mark->value == s.mark;
    }

    // What was read lately of the element under `key`, while that holds; else `read`, which
    // answers none for a read that did not finish: that is never given again. A walk's own
    // reads come from its tree, as they always did.
    template <typename T, typename Read>
    std::optional<T> recalledOr(Recalled<T>& recalled, const AtspiElementRef& ref,
                                const QString& key, Read read) {
        if (walking(ref))
            return read();
        kept.applyEvents();
        if (const auto found = recalled.find(key); found != recalled.end()) {
            if (stillHolds(ref.busName(), ref.path(), found->first))
                return found->second;
            recalled.erase(found);
        }
        const Stamp s = stamp(ref.busName(), ref.path());
        std::optional<T> value = read();
        if (value && s.tree) {
            if (recalled.size() >= recalledMaximum)
                recalled.clear();
            recalled.insert(key, {s, *value});
        }
        return value;
    }

    void forgetRecalled() {
        marks.clear();
        findsRecalled.clear();
        textsRecalled.clear();
        basicsRecalled.clear();
    }

    static constexpr std::size_t burstEvents = 64;
    bool burst = false;
    QSet<QString> burstTouched;
    void noteBatch(std::size_t count) {
        burst = count > burstEvents;
        burstTouched.clear();
    }

    // An event touches what was read of an element when it is about the element, an element
    // above it (a window that went) or one below it (a result that came). An element never read
    // touches nothing read; one read but not placed up to its application may be anywhere.
    void noteEvent(const Event& e, const AtspiTree& tree) {
        if (marks.isEmpty())
            return;
        const QString prefix = keyOf(e.sender, QString());
        // A burst of changes (a page that publishes a whole panel again) touches everything of
        // its application, once: placing each of its thousands of events would hold the thread.
        if (burst) {
            if (!burstTouched.contains(e.sender)) {
                burstTouched.insert(e.sender);
                for (auto mark = marks.begin(); mark != marks.end(); ++mark) {
                    if (mark.key().startsWith(prefix))
                        mark->value = ++lastMark;
                }
            }
            return;
        }
        const bool everything = e.window || e.path == QLatin1String(rootPath);
        bool placed = true;
        QSet<QString> around;
        const bool known = !everything && (tree.find(e.sender, e.path) ||
                                           !knownParent(&tree, e.sender, e.path).isEmpty());
        if (known)
            around = ancestors(&tree, e.sender, e.path, &placed);
        around.insert(e.path);
        if (!e.parentPath.isEmpty())
            around.insert(e.parentPath);
        for (auto mark = marks.begin(); mark != marks.end(); ++mark) {
            if (!mark.key().startsWith(prefix))
                continue;
            const QString path = mark.key().mid(prefix.size());
            if (everything || !placed || around.contains(path) || mark->above.contains(e.path) ||
                (!e.parentPath.isEmpty() && mark->above.contains(e.parentPath)))
                mark->value = ++lastMark;
        }
    }

    // What an assistive client does first, and what makes Chromium publish its tree: the
    // attributes of the application and of each of its windows.
    void wake(const QString& busName) {
        kept.noteWoken(busName);
        const QString root = QString::fromLatin1(rootPath);
        // Asking is what counts: a busy application answers later, and the main thread is not
        // held for it (an answer that comes later is taken by the next launch's ask).
        Batch batch(bus, QDeadlineTimer(Bus::callTimeoutMs));
        std::vector<ObjectRef> windows;
        batch.add(busName, root, accessibleInterface, "GetAttributes", nullptr, [](GVariant*) {});
        batch.add(busName, root, accessibleInterface, "GetChildren", nullptr,
                  [&windows](GVariant* r) {
                      if (!r || !g_variant_is_of_type(r, G_VARIANT_TYPE("(a(so))")))
                          return;
                      Variant arr(g_variant_get_child_value(r, 0));
                      windows = objectRefs(arr.get());
                  });
        batch.run();
        for (const ObjectRef& w : windows) {
            if (!isNullRef(w))
                batch.add(w.busName, w.path, accessibleInterface, "GetAttributes", nullptr,
                          [](GVariant*) {});
        }
        batch.run();
    }

    // A call answered "(b)": whether it was answered true.
    bool callSucceeds(const AtspiElementRef& ref, const char* interface, const char* method,
                      GVariant* params = nullptr) {
        return unboxBool(
            bus.call(ref.busName(), ref.path(), interface, method, params, G_VARIANT_TYPE("(b)"))
                .get());
    }

    // Reading (within the turn's budget), unless `acting`.
    ObjectRef rawParent(const QString& busName, const QString& path, bool* answered = nullptr,
                        bool acting = false) {
        Variant reply =
            bus.call(busName, path, "org.freedesktop.DBus.Properties", "Get",
                     propertyName("Parent"), G_VARIANT_TYPE("(v)"),
                     acting ? Bus::callTimeoutMs : bus.withinTurn(Bus::callTimeoutMs), answered);
        ObjectRef parent = parentNamedIn(reply.get());
        if (!isNullRef(parent) && parent.busName == busName) {
            // Bounded: a walk over a large page may climb from many elements.
            if (parentsSeen.size() > 4096)
                parentsSeen.clear();
            parentsSeen.insert(busName + QLatin1Char('\n') + path, parent.path);
        }
        return parent;
    }
    // The parent an element last named when asked; empty when it was not asked.
    QString parentSeen(const QString& busName, const QString& path) const {
        return parentsSeen.value(busName + QLatin1Char('\n') + path);
    }

    AccessibleElement parentElement(const AtspiElementRef& ref) {
        QString busName = ref.busName();
        QString path = ref.path();
        for (int up = 0; up < 64; ++up) {
            const ObjectRef parent = rawParent(busName, path);
            if (isNullRef(parent))
                return {};
            if (parent.path == QLatin1String(rootPath))
                return makeElement(parent.busName, parent.path);
            AtspiTree scratch(bus);
            AtspiTree::Node* n = scratch.node(parent.busName, parent.path);
            scratch.ensureBasics({n});
            if (!isCollapsedContainer(n->info) ||
                rawParent(parent.busName, parent.path).path == QLatin1String(rootPath))
                return makeElement(parent.busName, parent.path);
            busName = parent.busName;
            path = parent.path;
        }
        return {};
    }

    bool implements(const QString& busName, const QString& path, const char* interface) {
        Variant reply = bus.call(busName, path, accessibleInterface, "GetInterfaces", nullptr,
                                 G_VARIANT_TYPE("(as)"));
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
        const ObjectRef parent = rawParent(ref.busName(), ref.path(), nullptr, true);
        if (isNullRef(parent) ||
            !implements(parent.busName, parent.path, "org.a11y.atspi.Selection"))
            return false;
        Variant index = bus.call(ref.busName(), ref.path(), accessibleInterface, "GetIndexInParent",
                                 nullptr, G_VARIANT_TYPE("(i)"));
        if (!index)
            return false;
        gint32 i = -1;
        g_variant_get(index.get(), "(i)", &i);
        if (i < 0)
            return false;
        return unboxBool(bus.call(parent.busName, parent.path, "org.a11y.atspi.Selection",
                                  "SelectChild", g_variant_new("(i)", i), G_VARIANT_TYPE("(b)"))
                             .get());
    }

    // The action names, not their localized forms: GetActions hands out the localized ones,
    // which some toolkits leave empty and others translate.
    QStringList actionNames(const AtspiElementRef& ref) {
        QStringList names;
        Variant count = bus.call(ref.busName(), ref.path(), "org.freedesktop.DBus.Properties",
                                 "Get", g_variant_new("(ss)", "org.a11y.atspi.Action", "NActions"),
                                 G_VARIANT_TYPE("(v)"));
        const int n = std::min(unboxInt(count.get()), 32);
        if (n <= 0)
            return names;
        std::vector<QString> byIndex(static_cast<std::size_t>(n));
        // Part of pressing: an act, not cut to the turn.
        Batch batch(bus);
        batch.acting();
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

    bool press(const AtspiElementRef& ref) {
        const int index = pressActionIndex(actionNames(ref));
        return index >= 0 &&
               callSucceeds(ref, "org.a11y.atspi.Action", "DoAction", g_variant_new("(i)", index));
    }

    // Whether the application still reports the element focused.
    bool stillFocused(const QString& busName, const QString& path) {
        Variant state = bus.call(busName, path, accessibleInterface, "GetState", nullptr,
                                 G_VARIANT_TYPE("(au)"), bus.withinTurn(Bus::callTimeoutMs));
        return state && hasState(unboxStates(state.get()), ATSPI_STATE_FOCUSED);
    }

    // The focused element of the application's active window, in one Collection query where the
    // toolkit has one; null otherwise.
    AccessibleElement focusedInActiveWindow(AtspiTree& tree, const QString& busName) {
        AtspiTree::Node* app = tree.node(busName, QString::fromLatin1(rootPath));
        AtspiTree::Node* window = tree.activeWindow(app);
        if (!window)
            return {};
        GVariantBuilder states;
        g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
        const quint64 bits = quint64(1) << ATSPI_STATE_FOCUSED;
        g_variant_builder_add(&states, "i", gint32(bits & 0xffffffffu));
        g_variant_builder_add(&states, "i", gint32(bits >> 32));
        GVariant* rule = g_variant_new(
            "(aii@a{ss}i@aii@asib)", &states, int(ATSPI_Collection_MATCH_ALL),
            g_variant_new_array(G_VARIANT_TYPE("{ss}"), nullptr, 0),
            int(ATSPI_Collection_MATCH_ALL), g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
            int(ATSPI_Collection_MATCH_ALL), g_variant_new_strv(nullptr, 0),
            int(ATSPI_Collection_MATCH_ALL), FALSE);
        // The application answers this by going through its whole tree, which on a large page
        // outlasts one read's time: an answer that comes later is taken by the next ask.
        AccessibleElement focused;
        Batch batch(bus, QDeadlineTimer(Bus::callTimeoutMs), 1);
        batch.add(window->bus, window->path, "org.a11y.atspi.Collection", "GetMatches",
                  g_variant_new("(@(aiia{ss}iaiiasib)uib)", rule,
                                guint32(ATSPI_Collection_SORT_ORDER_CANONICAL), 1, TRUE),
                  [&focused](GVariant* reply) {
                      if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(a(so))")))
                          return;
                      Variant refs(g_variant_get_child_value(reply, 0));
                      for (const ObjectRef& found : objectRefs(refs.get())) {
                          if (!isNullRef(found)) {
                              focused = makeElement(found.busName, found.path);
                              return;
                          }
                      }
                  });
        batch.run();
        // An answer that came late may name where the focus was a while ago.
        const auto* ref = focused.as<AtspiElementRef>();
        if (ref && !stillFocused(ref->busName(), ref->path()))
            return {};
        return focused;
    }

    // Whether a read of the element is answered from the walk going on.
    bool walking(const AtspiElementRef& ref) const { return walk && ref.busName() == walkBus; }

    // The tree that answers a read: the walk's, or a fresh one for a single read, which has a
    // walk's time.
    AtspiTree& treeFor(const AtspiElementRef& ref, std::unique_ptr<AtspiTree>& scratch) {
        if (walk && ref.busName() == walkBus)
            return *walk;
        // What changed since is not answered from late answers of before.
        kept.applyEvents();
        scratch = std::make_unique<AtspiTree>(bus);
        scratch->setDeadline(bus.withinTurn(QDeadlineTimer(AtspiTree::walkBudgetMs)));
        return *scratch;
    }
};

namespace {

// Where one read of an element is answered from; false when the element cannot be read at all.
class Reading {
public:
    Reading(AtspiAccessibility::Private& d, const AccessibleElement& element)
        : ref(element.as<AtspiElementRef>()) {
        if (!ref || !d.bus.ensureConnected() || ref->busName() == d.unresponsiveBus)
            return;
        tree = &d.treeFor(*ref, m_scratch);
        node = tree->node(*ref);
    }
    explicit operator bool() const { return node != nullptr; }

    // The element's role, state and name, read when not known; false when not read in time.
    bool basics() const {
        tree->ensureBasics({node});
        return node->hasBasics;
    }

    const AtspiElementRef* ref = nullptr;
    AtspiTree* tree = nullptr;
    AtspiTree::Node* node = nullptr;

private:
    std::unique_ptr<AtspiTree> m_scratch;
};

// The element's role, state and name; none when not read in time.
std::optional<AtspiObjectInfo> basicsOf(AtspiAccessibility::Private& d,
                                        const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return std::nullopt;
    return d.recalledOr(d.basicsRecalled, *ref,
                        AtspiAccessibility::Private::keyOf(ref->busName(), ref->path()),
                        [&]() -> std::optional<AtspiObjectInfo> {
                            const Reading read(d, element);
                            if (!read || !read.basics())
                                return std::nullopt;
                            return read.node->info;
                        });
}

// The element's texts; none when not read in time.
std::optional<AtspiAccessibility::Private::Texts> textsOf(AtspiAccessibility::Private& d,
                                                          const AccessibleElement& element) {
    using Texts = AtspiAccessibility::Private::Texts;
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return std::nullopt;
    return d.recalledOr(d.textsRecalled, *ref,
                        AtspiAccessibility::Private::keyOf(ref->busName(), ref->path()),
                        [&]() -> std::optional<Texts> {
                            const Reading read(d, element);
                            if (!read)
                                return std::nullopt;
                            AtspiTree::Node* n = read.node;
                            read.tree->ensureExtras({n});
                            // Not read in time: absent, as a failed read is.
                            if (!n->hasExtras)
                                return std::nullopt;
                            if (!n->texts)
                                n->texts = atspi::textsOf(n->info);
                            return Texts{*n->texts, isTextElement(n->info.role, n->info.states)};
                        });
}

} // namespace

AtspiAccessibility::AtspiAccessibility()
    : d(std::make_unique<Private>()) {
    Private* p = d.get();
    d->kept.setObserver({[p](std::size_t count) { p->noteBatch(count); },
                         [p](const Event& e, const AtspiTree& tree) { p->noteEvent(e, tree); },
                         [p] { p->forgetRecalled(); }});
}

AtspiAccessibility::~AtspiAccessibility() = default;

quint64 AtspiAccessibility::requestCount() const {
    return d->bus.requestCount();
}

void AtspiAccessibility::setTurnBudget(int milliseconds) {
    d->bus.setTurnBudget(milliseconds);
}

bool AtspiAccessibility::isProcessTrusted(bool prompt) {
    GDBusConnection* session = sessionBus();
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
    checkTrust(prompt, std::move(answer), d->bus.connection());
}

AccessibleElement AtspiAccessibility::applicationElement(qint64 processIdentifier) {
    Variant apps =
        d->bus.call(QStringLiteral("org.a11y.atspi.Registry"), QString::fromLatin1(rootPath),
                    accessibleInterface, "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"),
                    d->bus.withinTurn(Bus::callTimeoutMs));
    if (!apps)
        return {};
    Variant arr(g_variant_get_child_value(apps.get(), 0));
    for (const ObjectRef& app : objectRefs(arr.get())) {
        Variant pid = d->bus.call(QStringLiteral("org.freedesktop.DBus"),
                                  QStringLiteral("/org/freedesktop/DBus"), "org.freedesktop.DBus",
                                  "GetConnectionUnixProcessID",
                                  g_variant_new("(s)", app.busName.toUtf8().constData()),
                                  G_VARIANT_TYPE("(u)"), d->bus.withinTurn(Bus::callTimeoutMs));
        if (!pid)
            continue;
        guint32 value = 0;
        g_variant_get(pid.get(), "(u)", &value);
        if (qint64(value) == processIdentifier) {
            d->wake(app.busName);
            // Listening from here on, the focus event of the palette's field is caught.
            d->kept.keep(app.busName);
            return makeElement(app.busName, QString::fromLatin1(rootPath));
        }
    }
    return {};
}

bool AtspiAccessibility::confirmElement(const AccessibleElement& element) {
    return confirmation(element) == Confirmation::there;
}

AtspiAccessibility::Confirmation
AtspiAccessibility::confirmation(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref)
        return Confirmation::gone;
    if (!d->bus.ensureConnected())
        return Confirmation::unanswered;
    if (ref->path() == QLatin1String(rootPath))
        return Confirmation::there;
    // The chain of parents as the kept tree knows it, each link and each state asked at once:
    // one round trip where climbing asks one parent at a time.
    if (const std::optional<Confirmation> confirmed = confirmKnownChain(*ref))
        return *confirmed;
    // Up the parents to the application; a chain that breaks off is no longer in the tree.
    // An application too busy to answer in time has not said that anything changed: the
    // element is not confirmed, but what is kept of it stays.
    std::vector<ChainLink> links;
    QString path = ref->path();
    bool reachesApplication = false;
    bool answered = true;
    for (int up = 0; up < 64 && answered; ++up) {
        const ObjectRef parent = d->rawParent(ref->busName(), path, &answered);
        if (isNullRef(parent) || parent.busName != ref->busName())
            break;
        links.push_back({path, parent.path});
        if (parent.path == QLatin1String(rootPath)) {
            reachesApplication = true;
            break;
        }
        path = parent.path;
    }
    if (reachesApplication)
        return *confirmChain(ref->busName(), links, false);
    if (!answered)
        return Confirmation::unanswered;
    d->kept.drop(ref->busName());
    return Confirmation::gone;
}

std::optional<AtspiAccessibility::Confirmation>
AtspiAccessibility::confirmKnownChain(const AtspiElementRef& ref) {
    const QString& bus = ref.busName();
    const AtspiTree* tree = d->kept.tree(bus);
    std::vector<ChainLink> links;
    for (QString path = ref.path(); path != QLatin1String(rootPath);) {
        QString parent = d->knownParent(tree, bus, path);
        if (parent.isEmpty() || links.size() >= 64)
            return std::nullopt;
        links.push_back({path, parent});
        path = std::move(parent);
    }
    if (links.empty())
        return std::nullopt;
    return confirmChain(bus, links, true);
}

std::optional<AtspiAccessibility::Confirmation>
AtspiAccessibility::confirmChain(const QString& bus, const std::vector<ChainLink>& links,
                                 bool askParents) {
    bool answered = true;
    bool linked = true;
    bool showing = true;
    Batch batch(d->bus, QDeadlineTimer(AtspiTree::walkBudgetMs));
    batch.askAfresh();
    const auto unanswered = [&answered] { answered = false; };
    for (const ChainLink& link : links) {
        if (askParents) {
            batch.add(
                bus, link.path, "org.freedesktop.DBus.Properties", "Get", propertyName("Parent"),
                [&linked, &bus, &link](GVariant* r) {
                    const ObjectRef named = parentNamedIn(r);
                    if (named.busName != bus || named.path != link.parent)
                        linked = false;
                },
                unanswered);
        }
        batch.add(
            bus, link.path, accessibleInterface, "GetState", nullptr,
            [&showing](GVariant* r) {
                const quint64 states = unboxStates(r);
                if (!isShowing(states) || hasState(states, ATSPI_STATE_DEFUNCT))
                    showing = false;
            },
            unanswered);
    }
    batch.run();
    if (!answered)
        return Confirmation::unanswered;
    // A chain that moved is climbed afresh.
    if (!linked)
        return std::nullopt;
    if (!showing)
        d->kept.drop(bus);
    return showing ? Confirmation::there : Confirmation::gone;
}

Role AtspiAccessibility::role(const AccessibleElement& element) {
    const Reading read(*d, element);
    if (!read || !read.basics())
        return Role::other;
    AtspiTree::Node* n = read.node;
    if (!n->topLevel) {
        n->topLevel =
            !AtspiTree::isApplication(n) &&
            d->rawParent(read.ref->busName(), read.ref->path()).path == QLatin1String(rootPath);
    }
    return roleOf(n->info.role, n->info.states, *n->topLevel);
}

int AtspiAccessibility::platformRole(const AccessibleElement& element) {
    const Reading read(*d, element);
    if (!read || !read.basics())
        return -1;
    return int(read.node->info.role);
}

std::optional<QString> AtspiAccessibility::text(const AccessibleElement& element, LabelText which) {
    const std::optional<Private::Texts> read = textsOf(*d, element);
    return read ? read->texts[which] : std::nullopt;
}

AccessibilityApi::TextRead AtspiAccessibility::readText(const AccessibleElement& element,
                                                        LabelText which) {
    const quint64 unansweredBefore = d->bus.unansweredCount();
    const std::optional<Private::Texts> read = textsOf(*d, element);
    std::optional<QString> value = read ? read->texts[which] : std::nullopt;
    const bool answered = d->bus.unansweredCount() == unansweredBefore;
    // An empty text reads as absent; a text element that answered holds one all the same.
    const bool readable =
        value.has_value() || (answered && read && which == LabelText::value && read->textElement);
    return {answered, std::move(value), readable};
}

std::vector<AccessibleElement> AtspiAccessibility::elements(const AccessibleElement& element,
                                                            Relation relation) {
    const Reading read(*d, element);
    if (!read)
        return {};
    AtspiTree& tree = *read.tree;
    AtspiTree::Node* n = read.node;
    auto toElements = [&tree](const std::vector<AtspiTree::Node*>& nodes) {
        std::vector<AccessibleElement> list;
        list.reserve(nodes.size());
        for (auto* c : nodes)
            list.push_back(tree.element(c));
        return list;
    };
    const bool application = AtspiTree::isApplication(n);
    switch (relation) {
    case Relation::children:
        return toElements(tree.children(n));
    case Relation::windows:
        return application ? toElements(tree.windows(n)) : std::vector<AccessibleElement>();
    case Relation::focusedWindow:
    case Relation::mainWindow: {
        if (!application)
            return {};
        AtspiTree::Node* window = tree.activeWindow(n);
        if (!window && relation == Relation::mainWindow) {
            const auto all = tree.windows(n);
            if (!all.empty())
                window = all.front();
        }
        if (!window)
            return {};
        return {tree.element(window)};
    }
    case Relation::contents:
        return {};
    }
    return {};
}

std::optional<AccessibleElement> AtspiAccessibility::parent(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref || !d->bus.ensureConnected() || ref->busName() == d->unresponsiveBus ||
        ref->path() == QLatin1String(rootPath))
        return std::nullopt;
    AccessibleElement parent = d->parentElement(*ref);
    if (parent.isNull())
        return std::nullopt;
    return parent;
}

bool AtspiAccessibility::isFocused(const AccessibleElement& element) {
    const std::optional<AtspiObjectInfo> info = basicsOf(*d, element);
    return info && atspi::isFocused(*info);
}

bool AtspiAccessibility::isSelected(const AccessibleElement& element) {
    const std::optional<AtspiObjectInfo> info = basicsOf(*d, element);
    return info && atspi::isSelected(*info);
}

bool AtspiAccessibility::isAllTextSelected(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    if (!ref || !d->bus.ensureConnected())
        return false;
    // Selections are not among what the kept tree follows: both are read afresh.
    int characters = -1;
    gint32 start = -1;
    gint32 end = -1;
    Batch batch(d->bus, d->bus.withinTurn(QDeadlineTimer(Bus::callTimeoutMs)));
    batch.askAfresh();
    batch.add(ref->busName(), ref->path(), "org.freedesktop.DBus.Properties", "Get",
              g_variant_new("(ss)", "org.a11y.atspi.Text", "CharacterCount"),
              [&characters](GVariant* r) { characters = unboxInt(r); });
    batch.add(ref->busName(), ref->path(), "org.a11y.atspi.Text", "GetSelection",
              g_variant_new("(i)", 0), [&start, &end](GVariant* r) {
                  if (r && g_variant_is_of_type(r, G_VARIANT_TYPE("(ii)")))
                      g_variant_get(r, "(ii)", &start, &end);
              });
    batch.run();
    return characters > 0 && std::min(start, end) == 0 && std::max(start, end) == characters;
}

bool AtspiAccessibility::press(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    return ref && d->bus.ensureConnected() && d->press(*ref);
}

void AtspiAccessibility::pressWithoutWaiting(const AccessibleElement& element,
                                             std::function<void(bool pressed)> done) {
    ActInFlight::begin(d->bus, element, std::move(done), &ActInFlight::press);
}

void AtspiAccessibility::focusWithoutWaiting(const AccessibleElement& element,
                                             std::function<void(bool focused)> done) {
    ActInFlight::begin(d->bus, element, std::move(done), &ActInFlight::focus);
}

bool AtspiAccessibility::focus(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    return ref && d->bus.ensureConnected() &&
           d->callSucceeds(*ref, "org.a11y.atspi.Component", "GrabFocus");
}

bool AtspiAccessibility::select(const AccessibleElement& element) {
    const auto* ref = element.as<AtspiElementRef>();
    return ref && d->bus.ensureConnected() && d->selectThroughParent(*ref);
}

bool AtspiAccessibility::setText(const AccessibleElement& element, const QString& text) {
    const auto* ref = element.as<AtspiElementRef>();
    return ref && d->bus.ensureConnected() &&
           d->callSucceeds(*ref, "org.a11y.atspi.EditableText", "SetTextContents",
                           g_variant_new("(s)", text.toUtf8().constData()));
}

bool AtspiAccessibility::raise(const AccessibleElement& window) {
    return focus(window);
}

void AtspiAccessibility::beginWalk(const AccessibleElement& root) {
    d->walk = nullptr;
    d->walkBus.clear();
    d->unresponsiveBus.clear();
    d->lastWalkComplete = false;
    const auto* ref = root.as<AtspiElementRef>();
    if (!ref)
        return;
    const QDeadlineTimer deadline = d->bus.withinTurn(QDeadlineTimer(AtspiTree::walkBudgetMs));
    AtspiTree* tree = d->kept.beginWalk(ref->busName(), deadline);
    if (!tree) {
        d->unresponsiveBus = ref->busName();
        return;
    }
    d->walk = tree;
    d->walkBus = ref->busName();
    AtspiTree::Node* rootNode = tree->node(ref->busName(), ref->path());
    tree->setRoot(rootNode);
    tree->setDeadline(deadline);
    // The root's own role, state and name first, while the application has nothing else of
    // ours to answer: once the walk has asked for a long list, a read queued behind it may
    // wait out the walk's time, and a walk that cannot read its root finds nothing.
    tree->ensureBasics({rootNode});
}

void AtspiAccessibility::endWalk() {
    d->lastWalkComplete = d->walk && d->walk->complete();
    if (d->walk)
        d->kept.endWalk(d->walkBus, d->lastWalkComplete);
    d->walk = nullptr;
    d->walkBus.clear();
    d->unresponsiveBus.clear();
}

bool AtspiAccessibility::lastWalkComplete() const {
    return d->lastWalkComplete;
}

AtspiAccessibility::AnchorCounts AtspiAccessibility::anchorCounts() const {
    return d->anchors;
}

Finding AtspiAccessibility::find(const AccessibleElement& scope, const Sought& sought) {
    const auto* ref = scope.as<AtspiElementRef>();
    if (!ref)
        return {Presence::absent, {}};
    const FigmaUITraversal traversal(*this, FigmaLauncher::defaultTraversalRelations());
    if (sought.kind == Sought::Kind::actionsPalette)
        return findPalette(scope, traversal);
    const QString key = Private::keyOf(ref->busName(), ref->path()) + QLatin1Char('\n') +
                        QString::number(int(sought.kind)) + QLatin1Char('\n') + sought.name;
    const std::optional<Finding> finding =
        d->recalledOr(d->findsRecalled, *ref, key, [&]() -> std::optional<Finding> {
            Finding afresh = findAfresh(scope, sought, traversal);
            if (afresh.presence == Presence::unknown)
                return std::nullopt;
            return afresh;
        });
    return finding.value_or(Finding{});
}

Finding AtspiAccessibility::findAfresh(const AccessibleElement& scope, const Sought& sought,
                                       const FigmaUITraversal& traversal) {
    const auto* ref = scope.as<AtspiElementRef>();
    // A scope that went (a palette that closed) holds nothing any more. One read of its state
    // tells: the chain of its parents is confirmed with whatever the search finds in it.
    if (ref->path() != QLatin1String(rootPath)) {
        bool answered = false;
        Variant state =
            d->bus.call(ref->busName(), ref->path(), accessibleInterface, "GetState", nullptr,
                        G_VARIANT_TYPE("(au)"), d->bus.withinTurn(Bus::callTimeoutMs), &answered);
        if (!state && !answered)
            return {Presence::unknown, {}};
        const quint64 states = unboxStates(state.get());
        if (!state || !isShowing(states) || hasState(states, ATSPI_STATE_DEFUNCT))
            return {Presence::absent, {}};
    }
    // A find the application does not confirm is looked for once more: the tree it came from
    // was dropped, so the second walk reads afresh.
    for (int attempt = 0; attempt < 2; ++attempt) {
        beginWalk(scope);
        const std::optional<AccessibleElement> found = traversal.firstMatch(scope, sought);
        endWalk();
        if (!found)
            return {lastWalkComplete() ? Presence::absent : Presence::unknown, {}};
        const Confirmation confirmed = confirmation(*found);
        if (confirmed == Confirmation::unanswered)
            return {Presence::unknown, {}};
        if (confirmed == Confirmation::there && traversal.matches(*found, sought))
            return {Presence::found, *found};
    }
    return {Presence::unknown, {}};
}

Finding AtspiAccessibility::findPalette(const AccessibleElement& application,
                                        const FigmaUITraversal& traversal) {
    const auto* ref = application.as<AtspiElementRef>();
    const quint64 unansweredBefore = d->bus.unansweredCount();
    // Catches up with the application's events, which name where the focus went.
    beginWalk(application);
    const QString busName = ref->busName();
    AccessibleElement focused;
    const QString path = d->kept.lastFocused(busName);
    if (!path.isEmpty() && d->stillFocused(busName, path)) {
        focused = makeElement(busName, path);
        ++d->anchors.fromFocusEvent;
    } else if (d->walk) {
        focused = d->focusedInActiveWindow(*d->walk, busName);
        if (!focused.isNull())
            ++d->anchors.fromFocusQuery;
    }
    std::optional<AccessibleElement> palette;
    if (!focused.isNull()) {
        // Through the nameless containers walks leave out: a web page's palette is often one.
        palette = traversal.paletteAround(
            focused, [this](const AccessibleElement& element) -> std::optional<AccessibleElement> {
                const auto* child = element.as<AtspiElementRef>();
                if (!child)
                    return std::nullopt;
                const ObjectRef parent = d->rawParent(child->busName(), child->path());
                if (isNullRef(parent) || parent.path == QLatin1String(rootPath))
                    return std::nullopt;
                return makeElement(parent.busName, parent.path);
            });
    }
    endWalk();
    if (focused.isNull()) {
        ++d->anchors.none;
        return {Presence::unknown, {}};
    }
    // A climb that went without an answer has not seen whether the focus is in a palette.
    if (!palette) {
        return {d->bus.unansweredCount() == unansweredBefore ? Presence::absent : Presence::unknown,
                {}};
    }
    return {Presence::found, *palette};
}

} // namespace brevlin
