#include "AtspiBus.h"

#include <QByteArray>
#include <QFileInfo>

#include <algorithm>

namespace brevlin::atspi {

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

Bus::~Bus() {
    if (m_connection)
        g_object_unref(m_connection);
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
                  const char* method, GVariant* params, const GVariantType* replyType) {
    if (!ensureConnected()) {
        if (params)
            g_variant_unref(g_variant_ref_sink(params));
        return {};
    }
    ++m_requests;
    const QByteArray bus = busName.toUtf8();
    const QByteArray objectPath = path.toUtf8();
    return Variant(g_dbus_connection_call_sync(
        m_connection, bus.constData(), objectPath.constData(), interface, method, params, replyType,
        G_DBUS_CALL_FLAGS_NONE, callTimeoutMs, nullptr, nullptr));
}

void Batch::add(const QString& busName, const QString& path, const char* interface,
                const char* method, GVariant* params, Reply onReply) {
    if (params)
        g_variant_ref_sink(params);
    m_calls.push_back(
        {busName.toUtf8(), path.toUtf8(), interface, method, params, std::move(onReply)});
}

namespace {
struct BatchState {
    std::vector<Batch::Reply>* replies;
    int outstanding = 0;
};
struct CallTag {
    BatchState* state;
    std::size_t index;
};

void onCallDone(GObject* source, GAsyncResult* result, gpointer data) {
    auto* tag = static_cast<CallTag*>(data);
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    (*tag->state->replies)[tag->index](reply);
    if (reply)
        g_variant_unref(reply);
    --tag->state->outstanding;
    delete tag;
}
} // namespace

void Batch::run() {
    std::vector<Call> calls;
    calls.swap(m_calls);
    if (calls.empty())
        return;
    std::vector<Reply> replies;
    replies.reserve(calls.size());
    for (auto& c : calls)
        replies.push_back(std::move(c.onReply));

    if (!m_bus.ensureConnected()) {
        for (std::size_t i = 0; i < calls.size(); ++i) {
            replies[i](nullptr);
            if (calls[i].params)
                g_variant_unref(calls[i].params);
        }
        return;
    }

    // Our own context, so that waiting here never runs the application's event loop.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    BatchState state{&replies, 0};
    constexpr int window = 400;
    std::size_t next = 0;
    while (next < calls.size() || state.outstanding > 0) {
        while (next < calls.size() && state.outstanding < window) {
            Call& c = calls[next];
            ++state.outstanding;
            g_dbus_connection_call(m_bus.connection(), c.busName.constData(), c.path.constData(),
                                   c.interface, c.method, c.params, nullptr,
                                   G_DBUS_CALL_FLAGS_NO_AUTO_START, Bus::batchCallTimeoutMs,
                                   nullptr, onCallDone, new CallTag{&state, next});
            if (c.params)
                g_variant_unref(c.params);
            ++next;
        }
        g_main_context_iteration(context, TRUE);
    }
    m_bus.countRequests(calls.size());
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
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

} // namespace brevlin::atspi
