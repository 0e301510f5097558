#include "AtspiBus.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>

namespace brevlin::atspi {

namespace {
// Reads that kept the thread waiting, with what they asked: QT_LOGGING_RULES=
// "brevlin.atspi.debug=true" shows which questions a slow application makes a launch wait for.
Q_LOGGING_CATEGORY(busLog, "brevlin.atspi", QtWarningMsg)
constexpr qint64 loggedWaitMs = 10;
} // namespace

GDBusConnection* sessionBus() {
    // GIO falls back to auto-launching a session bus when none is configured; a bus started
    // that way would outlive us and never carry any application's accessibility anyway.
    const QByteArray configured = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (configured.isEmpty()) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(QString::fromLocal8Bit(runtime) + "/bus"))
            return nullptr;
        static GDBusConnection* fallback = nullptr;
        if (!fallback || g_dbus_connection_is_closed(fallback)) {
            if (fallback)
                g_object_unref(fallback);
            const QByteArray address = "unix:path=" + runtime + "/bus";
            fallback = g_dbus_connection_new_for_address_sync(
                address.constData(),
                GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                     G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, nullptr);
        }
        return fallback;
    }
    static GDBusConnection* session = nullptr;
    if (!session || g_dbus_connection_is_closed(session)) {
        if (session)
            g_object_unref(session);
        session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    }
    return session;
}

struct Bus::PendingCall {
    Bus* bus = nullptr;
    bool finished = false;
    bool answered = false;
    Variant reply;
    // Set while a batch waits for this answer.
    std::function<void(PendingCall&)> notify;
    QDeadlineTimer keptUntil;
};

Bus::~Bus() {
    if (m_context) {
        // The answers still out hold on to this bus: collect them before it goes.
        g_cancellable_cancel(m_cancellable);
        g_main_context_push_thread_default(m_context);
        while (m_inFlight > 0)
            g_main_context_iteration(m_context, TRUE);
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
        g_object_unref(m_cancellable);
    }
    m_late.clear();
    if (m_connection)
        g_object_unref(m_connection);
    for (const QMetaObject::Connection& c : m_turnEnds)
        QObject::disconnect(c);
}

QDeadlineTimer Bus::withinTurn(QDeadlineTimer wanted) {
    if (m_turnBudgetMs <= 0)
        return wanted;
    if (!m_turnEnds[0]) {
        // A turn ends when the event loop goes back to waiting (or, without one running, each
        // time events are processed by hand).
        if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance()) {
            m_turnEnds[0] = QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock,
                                             [this] { m_turnOpen = false; });
            m_turnEnds[1] = QObject::connect(loop, &QAbstractEventDispatcher::awake,
                                             [this] { m_turnOpen = false; });
        }
    }
    if (!m_turnOpen) {
        m_turnClock.start();
        m_turnOpen = true;
    }
    return std::min(wanted,
                    QDeadlineTimer(std::max<qint64>(0, m_turnBudgetMs - m_turnClock.elapsed())));
}

int Bus::withinTurn(int timeoutMs) {
    return int(
        std::clamp<qint64>(withinTurn(QDeadlineTimer(timeoutMs)).remainingTime(), 0, timeoutMs));
}

GMainContext* Bus::context() {
    if (!m_context) {
        m_context = g_main_context_new();
        m_cancellable = g_cancellable_new();
    }
    return m_context;
}

void Bus::forgetLate() {
    m_late.clear();
}

void Bus::forgetLate(const QString& busName, const QString& path) {
    if (m_late.isEmpty())
        return;
    // No path: all of the application's.
    const QByteArray prefix =
        busName.toUtf8() + '\n' + (path.isEmpty() ? QByteArray() : path.toUtf8() + '\n');
    m_late.removeIf([&](const auto& entry) { return entry.key().startsWith(prefix); });
}

void Bus::expireLate() {
    m_late.removeIf([](const auto& entry) { return entry.value()->keptUntil.hasExpired(); });
}

static QByteArray accessibilityBusAddress() {
    const QByteArray forced = qgetenv("AT_SPI_BUS_ADDRESS");
    if (!forced.isEmpty())
        return forced;
    GDBusConnection* session = sessionBus();
    if (!session)
        return {};
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, Bus::callTimeoutMs, nullptr,
        nullptr);
    if (!reply) {
        // The launcher of the accessibility bus is started on demand by the session bus.
        reply = g_dbus_connection_call_sync(
            session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
            G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, Bus::callTimeoutMs, nullptr, nullptr);
    }
    if (!reply)
        return {};
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    QByteArray result(address);
    g_variant_unref(reply);
    return result;
}

bool Bus::ensureConnected() {
    if (m_connection && !g_dbus_connection_is_closed(m_connection))
        return true;
    if (m_connection) {
        g_object_unref(m_connection);
        m_connection = nullptr;
    }
    const QByteArray address = accessibilityBusAddress();
    if (address.isEmpty())
        return false;
    m_connection = g_dbus_connection_new_for_address_sync(
        address.constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (m_connection)
        g_dbus_connection_set_exit_on_close(m_connection, FALSE);
    return m_connection != nullptr;
}

Variant Bus::call(const QString& busName, const QString& path, const char* interface,
                  const char* method, GVariant* params, const GVariantType* replyType,
                  int timeoutMs, bool* answered) {
    if (answered)
        *answered = false;
    // No time left (of this turn's reads): not asked, and not answered.
    if (timeoutMs == 0 || !ensureConnected()) {
        if (params)
            g_variant_unref(g_variant_ref_sink(params));
        ++m_unanswered;
        return {};
    }
    ++m_requests;
    QElapsedTimer waited;
    waited.start();
    const QByteArray bus = busName.toUtf8();
    const QByteArray objectPath = path.toUtf8();
    GError* error = nullptr;
    Variant reply(g_dbus_connection_call_sync(m_connection, bus.constData(), objectPath.constData(),
                                              interface, method, params, replyType,
                                              G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error));
    if (waited.elapsed() >= loggedWaitMs)
        qCDebug(busLog, "%s.%s waited %lld ms", interface, method, waited.elapsed());
    const bool inTime = reply || !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    if (!inTime)
        ++m_unanswered;
    if (answered)
        *answered = inTime;
    if (error)
        g_error_free(error);
    return reply;
}

void Batch::add(const QString& busName, const QString& path, const char* interface,
                const char* method, GVariant* params, Reply onReply, Unanswered onUnanswered) {
    if (params)
        g_variant_ref_sink(params);
    m_calls.push_back({busName.toUtf8(), path.toUtf8(), interface, method, params,
                       std::move(onReply), std::move(onUnanswered)});
}

namespace {
// Holds its call's record until the answer comes, whoever waits for it by then.
struct CallTag {
    std::shared_ptr<Bus::PendingCall> call;
};

QByteArray questionKey(const QByteArray& busName, const QByteArray& path, const char* interface,
                       const char* method, GVariant* params) {
    QByteArray key = busName + '\n' + path + '\n' + interface + '.' + method + '\n';
    if (params) {
        gchar* printed = g_variant_print(params, FALSE);
        key += printed;
        g_free(printed);
    }
    return key;
}

gboolean markDeadline(gpointer timedOut) {
    *static_cast<bool*>(timedOut) = true;
    return G_SOURCE_REMOVE;
}
} // namespace

void Bus::onCallDone(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<CallTag> tag(static_cast<CallTag*>(data));
    PendingCall& call = *tag->call;
    GError* error = nullptr;
    call.reply = Variant(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    call.answered = call.reply || !(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
                                    g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT));
    if (error)
        g_error_free(error);
    call.finished = true;
    call.keptUntil = QDeadlineTimer(lateAnswerKeptMs);
    --call.bus->m_inFlight;
    if (call.notify) {
        auto notify = std::move(call.notify);
        call.notify = nullptr;
        notify(call);
    }
}

bool Batch::run() {
    std::vector<Call> calls;
    calls.swap(m_calls);
    if (calls.empty())
        return true;
    std::vector<Reply> replies;
    std::vector<Unanswered> unanswered;
    replies.reserve(calls.size());
    unanswered.reserve(calls.size());
    for (auto& c : calls) {
        replies.push_back(std::move(c.onReply));
        unanswered.push_back(std::move(c.onUnanswered));
    }
    bool allAnswered = true;
    auto giveUp = [&](std::size_t i) {
        allAnswered = false;
        ++m_bus.m_unanswered;
        replies[i](nullptr);
        if (unanswered[i])
            unanswered[i]();
    };
    auto unrefParams = [&](std::size_t from) {
        for (std::size_t i = from; i < calls.size(); ++i) {
            if (calls[i].params)
                g_variant_unref(calls[i].params);
        }
    };

    // Reads share the turn's budget.
    if (!m_acting)
        m_deadline = m_bus.withinTurn(m_deadline);
    if (m_deadline.hasExpired() || !m_bus.ensureConnected()) {
        for (std::size_t i = 0; i < calls.size(); ++i)
            giveUp(i);
        unrefParams(0);
        return false;
    }

    QElapsedTimer waited;
    waited.start();
    // The bus's own context, so that waiting here never runs the application's event loop.
    GMainContext* context = m_bus.context();
    g_main_context_push_thread_default(context);
    m_bus.expireLate();
    bool timedOut = false;
    GSource* timer = nullptr;
    if (!m_deadline.isForever()) {
        timer = g_timeout_source_new(guint(std::max<qint64>(0, m_deadline.remainingTime())));
        g_source_set_callback(timer, markDeadline, &timedOut, nullptr);
        g_source_attach(timer, context);
    }
    std::vector<std::shared_ptr<Bus::PendingCall>> waiting(calls.size());
    std::vector<QByteArray> keys(calls.size());
    int outstanding = 0;
    auto deliver = [&](std::size_t i, Bus::PendingCall& call) {
        replies[i](call.reply.get());
        if (!call.answered) {
            allAnswered = false;
            ++m_bus.m_unanswered;
            if (unanswered[i])
                unanswered[i]();
        }
    };
    std::size_t next = 0;
    std::size_t sent = 0;
    while (next < calls.size() || outstanding > 0) {
        while (next < calls.size() && outstanding < m_window && !timedOut) {
            Call& c = calls[next];
            const std::size_t i = next++;
            keys[i] = questionKey(c.busName, c.path, c.interface, c.method, c.params);
            std::shared_ptr<Bus::PendingCall> call = m_bus.m_late.take(keys[i]);
            if (m_afresh)
                call.reset();
            if (call && call->finished && call->answered) {
                deliver(i, *call);
                continue;
            }
            if (!call || call->finished) {
                call = std::make_shared<Bus::PendingCall>();
                call->bus = &m_bus;
                ++m_bus.m_inFlight;
                ++sent;
                g_dbus_connection_call(m_bus.connection(), c.busName.constData(),
                                       c.path.constData(), c.interface, c.method, c.params, nullptr,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, Bus::batchCallTimeoutMs,
                                       m_bus.m_cancellable, &Bus::onCallDone, new CallTag{call});
            }
            ++outstanding;
            waiting[i] = call;
            call->notify = [&, i](Bus::PendingCall& done) {
                waiting[i].reset();
                --outstanding;
                deliver(i, done);
            };
        }
        if (timedOut) {
            // What is still out is given up here and kept for whoever asks it next.
            for (std::size_t i = 0; i < calls.size(); ++i) {
                if (std::shared_ptr<Bus::PendingCall> call = std::move(waiting[i])) {
                    call->notify = nullptr;
                    call->keptUntil =
                        QDeadlineTimer(Bus::batchCallTimeoutMs + Bus::lateAnswerKeptMs);
                    m_bus.m_late.insert(keys[i], call);
                    giveUp(i);
                }
            }
            outstanding = 0;
            for (std::size_t i = next; i < calls.size(); ++i)
                giveUp(i);
            break;
        }
        if (outstanding > 0)
            g_main_context_iteration(context, TRUE);
    }
    unrefParams(0);
    m_bus.countRequests(sent);
    if (timer) {
        g_source_destroy(timer);
        g_source_unref(timer);
    }
    g_main_context_pop_thread_default(context);
    if (waited.elapsed() >= loggedWaitMs)
        qCDebug(busLog, "batch of %zu (%zu sent, first %s) waited %lld ms%s", calls.size(), sent,
                calls.front().method, waited.elapsed(), allAnswered ? "" : ", not all answered");
    return allAnswered;
}

std::vector<ObjectRef> objectRefs(GVariant* arrayOfRefs) {
    std::vector<ObjectRef> refs;
    if (!arrayOfRefs || !g_variant_is_of_type(arrayOfRefs, G_VARIANT_TYPE("a(so)")))
        return refs;
    refs.reserve(g_variant_n_children(arrayOfRefs));
    GVariantIter iter;
    g_variant_iter_init(&iter, arrayOfRefs);
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    while (g_variant_iter_next(&iter, "(&s&o)", &bus, &path))
        refs.push_back({QString::fromUtf8(bus), QString::fromUtf8(path)});
    return refs;
}

ObjectRef objectRef(GVariant* ref) {
    if (!ref || !g_variant_is_of_type(ref, G_VARIANT_TYPE("(so)")))
        return {};
    const gchar* bus = nullptr;
    const gchar* path = nullptr;
    g_variant_get(ref, "(&s&o)", &bus, &path);
    return {QString::fromUtf8(bus), QString::fromUtf8(path)};
}

bool isNullRef(const ObjectRef& ref) {
    return ref.busName.isEmpty() || ref.path.isEmpty() ||
           ref.path == QLatin1String("/org/a11y/atspi/null");
}

GVariant* propertyName(const char* property) {
    return g_variant_new("(ss)", accessibleInterface, property);
}

QString unboxString(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE_TUPLE) ||
        g_variant_n_children(reply) < 1)
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

int unboxInt(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(v)")))
        return -1;
    Variant boxed(g_variant_get_child_value(reply, 0));
    Variant value(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32))
        return -1;
    return std::max(0, int(g_variant_get_int32(value.get())));
}

quint64 unboxStates(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(au)")))
        return 0;
    Variant words(g_variant_get_child_value(reply, 0));
    gsize count = 0;
    auto* bits = static_cast<const guint32*>(
        g_variant_get_fixed_array(words.get(), &count, sizeof(guint32)));
    return quint64(count > 0 ? bits[0] : 0) | (quint64(count > 1 ? bits[1] : 0) << 32);
}

bool unboxBool(GVariant* reply) {
    if (!reply || !g_variant_is_of_type(reply, G_VARIANT_TYPE("(b)")))
        return false;
    gboolean value = FALSE;
    g_variant_get(reply, "(b)", &value);
    return value;
}

} // namespace brevlin::atspi
