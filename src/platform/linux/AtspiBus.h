#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QMetaObject>
#include <QString>

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <vector>

namespace brevlin::atspi {

// Owns a GVariant reference.
class Variant {
public:
    Variant() = default;
    explicit Variant(GVariant* v)
        : m_v(v) {}
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& o) noexcept
        : m_v(o.m_v) {
        o.m_v = nullptr;
    }
    Variant& operator=(Variant&& o) noexcept {
        std::swap(m_v, o.m_v);
        return *this;
    }
    ~Variant() {
        if (m_v)
            g_variant_unref(m_v);
    }
    GVariant* get() const { return m_v; }
    explicit operator bool() const { return m_v != nullptr; }

private:
    GVariant* m_v = nullptr;
};

// The session bus, without ever auto-launching one: none when no bus is configured.
GDBusConnection* sessionBus();

// A connection to the accessibility bus, found through org.a11y.Bus on the session bus.
class Bus {
public:
    Bus() = default;
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;
    ~Bus();

    // Connects when needed; false when the accessibility bus does not answer.
    bool ensureConnected();
    GDBusConnection* connection() const { return m_connection; }

    // One blocking call; none on any failure. `params` is consumed when floating. `answered`,
    // when given, tells a failure the application answered (an error) from no answer in time.
    Variant call(const QString& busName, const QString& path, const char* interface,
                 const char* method, GVariant* params, const GVariantType* replyType,
                 int timeoutMs = callTimeoutMs, bool* answered = nullptr);

    quint64 requestCount() const { return m_requests; }
    // Reads not answered in time (or not sent for want of time) so far: a search that saw this
    // grow has not read all it looked at.
    quint64 unansweredCount() const { return m_unanswered; }
    // A read not asked for want of time.
    void noteUnanswered() { ++m_unanswered; }
    void countRequests(quint64 n) { m_requests += n; }

    // Answers to batch calls given up at a walk's deadline are still taken when they come, and
    // the next batch asking the same question uses them instead of asking again. Without this,
    // an application that takes longer than a walk's budget to answer one question would be
    // asked it again by every walk and never be read. What the application reports as changed
    // is forgotten, and nothing is kept for long. No path: all of the application's.
    void forgetLate(const QString& busName, const QString& path = {});
    void forgetLate();
    static constexpr int lateAnswerKeptMs = 3000;

    // A single read holds the main thread while it waits, so an application that does not
    // answer costs at most this much.
    static constexpr int callTimeoutMs = 100;
    // Reads share one budget per turn of the thread's event loop. An application that answers
    // slowly makes every read of a turn wait, and they add up: however many there are, no read
    // starts, and no batch goes on, once the turn has held the thread this long since its first
    // read; the thread is soon back in its event loop (the dock paints).
    // What was not answered by then is unknown for this turn and asked again in the next; a batch's
    // late answers are kept. A turn runs past this by up to one chunk of a walk's reads; the two
    // keep a turn on a page of 10,000 rows within 50 ms.
    static constexpr int turnBudgetMs = 30;
    // `wanted`, cut to what is left of this turn's budget. Acting on the application (pressing,
    // focusing, typing) is never cut: an act given up early may still happen.
    QDeadlineTimer withinTurn(QDeadlineTimer wanted);
    int withinTurn(int timeoutMs);
    // 0: no shared budget, each read has its own time (for callers reading outside any event
    // loop, where a turn never ends).
    void setTurnBudget(int milliseconds) { m_turnBudgetMs = milliseconds; }
    // Calls of a batch queue up at the application behind each other, so each gets longer.
    static constexpr int batchCallTimeoutMs = 1500;

    struct PendingCall;

private:
    friend class Batch;
    GMainContext* context();
    static void onCallDone(GObject* source, GAsyncResult* result, gpointer data);
    void expireLate();

    GDBusConnection* m_connection = nullptr;
    quint64 m_requests = 0;
    quint64 m_unanswered = 0;
    // Batch calls are dispatched here, never in the application's event loop.
    GMainContext* m_context = nullptr;
    // Cancelled only when the bus goes, to collect the calls still out.
    GCancellable* m_cancellable = nullptr;
    int m_inFlight = 0;
    QHash<QByteArray, std::shared_ptr<PendingCall>> m_late;
    // Since the turn's first read: what the turn does besides waiting (taking in a long list's
    // answers, walking what was read) holds the thread as much as waiting does.
    QElapsedTimer m_turnClock;
    bool m_turnOpen = false;
    int m_turnBudgetMs = turnBudgetMs;
    QMetaObject::Connection m_turnEnds[2];
};

// Calls sent together and answered together: the requests go out back to back (a window of
// them at a time) and the replies are collected as they arrive, instead of one round trip each.
class Batch {
public:
    using Reply = std::function<void(GVariant* reply)>; // reply is null on failure
    // A call the application did not answer in time (or that was never sent because the time
    // was up): unlike an error it says nothing about the object, so what it was to read is
    // still unknown rather than empty.
    using Unanswered = std::function<void()>;

    explicit Batch(Bus& bus, QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                   int window = 400)
        : m_bus(bus)
        , m_deadline(deadline)
        , m_window(window) {}
    void add(const QString& busName, const QString& path, const char* interface, const char* method,
             GVariant* params, Reply onReply, Unanswered onUnanswered = {});
    bool isEmpty() const { return m_calls.empty(); }
    // Every call of this batch goes to the application, none is answered from an answer kept
    // from before: for confirming that something is still there now.
    void askAfresh() { m_afresh = true; }
    // The batch is part of acting on the application: its deadline is not cut to the turn's
    // reading budget (see Bus::withinTurn).
    void acting() { m_acting = true; }
    // Sends everything added so far and returns when every reply (or failure) has been handled,
    // or at the deadline: calls still waiting then are given up for this batch (their answers
    // are kept for a later one, see Bus::forgetLate) and calls not yet sent are not sent. False
    // when any call went unanswered.
    bool run();

private:
    struct Call {
        QByteArray busName;
        QByteArray path;
        const char* interface;
        const char* method;
        GVariant* params;
        Reply onReply;
        Unanswered onUnanswered;
    };
    Bus& m_bus;
    QDeadlineTimer m_deadline;
    int m_window;
    bool m_afresh = false;
    bool m_acting = false;
    std::vector<Call> m_calls;
};

// The paths of the objects in a GetChildren-style reply "(a(so))" or a "(so)" reference.
struct ObjectRef {
    QString busName;
    QString path;
};
std::vector<ObjectRef> objectRefs(GVariant* arrayOfRefs);
ObjectRef objectRef(GVariant* ref);
bool isNullRef(const ObjectRef& ref);

// Reading replies. Each gives the empty value (an empty string, -1, no states, false) for a
// missing reply or one of another type.
//
// The argument of Properties.Get for a property of the Accessible interface.
GVariant* propertyName(const char* property);
// The string of a "(s)" method reply or a "(v)" property reply.
QString unboxString(GVariant* reply);
// An int32 property as Properties.Get answers it; -1 when not there, never below 0 otherwise.
int unboxInt(GVariant* reply);
// The state set of a GetState reply "(au)": bit n set when AtspiStateType n is present.
quint64 unboxStates(GVariant* reply);
// The Boolean of a "(b)" reply.
bool unboxBool(GVariant* reply);

inline constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* cacheInterface = "org.a11y.atspi.Cache";
inline constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";

} // namespace brevlin::atspi
