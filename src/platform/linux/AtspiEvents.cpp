#include "AtspiEvents.h"

#include "AtspiBus.h"

#include <QSet>

#include <mutex>

namespace brevlin::atspi {

struct EventInbox::Shared {
    std::mutex mutex;
    QSet<QString> watched;
    std::vector<Event> events;
    bool overflowed = false;
};

EventInbox::EventInbox(Bus& bus)
    : m_bus(bus)
    , m_shared(std::make_shared<Shared>()) {}

EventInbox::~EventInbox() {
    stop();
}

void EventInbox::stop() {
    if (!m_listening)
        return;
    if (m_listening == m_bus.connection())
        registerEvents(false);
    g_dbus_connection_remove_filter(m_listening, m_filterId);
    g_object_unref(m_listening);
    m_listening = nullptr;
    clear();
}

void EventInbox::clear() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->watched.clear();
    m_shared->events.clear();
    m_shared->overflowed = false;
}

bool EventInbox::listen(bool& restarted) {
    restarted = false;
    if (!m_bus.ensureConnected())
        return false;
    if (m_listening == m_bus.connection())
        return true;
    stop();
    restarted = true;
    m_listening = G_DBUS_CONNECTION(g_object_ref(m_bus.connection()));
    m_filterId = g_dbus_connection_add_filter(
        m_listening, &EventInbox::note, new std::shared_ptr<Shared>(m_shared),
        [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });
    registerEvents(true);
    return true;
}

void EventInbox::registerEvents(bool on) {
    for (const char* rule : {"type='signal',interface='org.a11y.atspi.Event.Object'",
                             "type='signal',interface='org.a11y.atspi.Event.Window'",
                             "type='signal',interface='org.a11y.atspi.Cache'"}) {
        m_bus.call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                   "org.freedesktop.DBus", on ? "AddMatch" : "RemoveMatch",
                   g_variant_new("(s)", rule), nullptr);
    }
    // Toolkits send events only while someone has registered for them.
    for (const char* event : {"object:", "window:"}) {
        if (on)
            m_bus.call(QStringLiteral("org.a11y.atspi.Registry"),
                       QStringLiteral("/org/a11y/atspi/registry"), "org.a11y.atspi.Registry",
                       "RegisterEvent",
                       g_variant_new("(s@ass)", event, g_variant_new_strv(nullptr, 0), ""),
                       nullptr);
        else
            m_bus.call(QStringLiteral("org.a11y.atspi.Registry"),
                       QStringLiteral("/org/a11y/atspi/registry"), "org.a11y.atspi.Registry",
                       "DeregisterEvent", g_variant_new("(s)", event), nullptr);
    }
}

void EventInbox::watch(const QString& busName, bool on) {
    std::lock_guard lock(m_shared->mutex);
    if (on)
        m_shared->watched.insert(busName);
    else
        m_shared->watched.remove(busName);
}

EventInbox::Taken EventInbox::take() {
    Taken taken;
    {
        std::lock_guard lock(m_shared->mutex);
        taken.events.swap(m_shared->events);
        taken.overflowed = m_shared->overflowed;
    }
    if (taken.overflowed) {
        taken.events.clear();
        clear();
    }
    return taken;
}

GDBusMessage* EventInbox::note(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                               gpointer data) {
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_SIGNAL)
        return message;
    const gchar* interface = g_dbus_message_get_interface(message);
    const gchar* sender = g_dbus_message_get_sender(message);
    if (!interface || !sender)
        return message;
    const bool cache = g_str_equal(interface, cacheInterface);
    if (!cache && !g_str_has_prefix(interface, "org.a11y.atspi.Event."))
        return message;
    Shared& box = **static_cast<std::shared_ptr<Shared>*>(data);
    const QString from = QString::fromUtf8(sender);
    std::lock_guard lock(box.mutex);
    if (!box.watched.contains(from) || box.overflowed)
        return message;
    if (box.events.size() >= capacity) {
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
        // Toolkits that keep the bus's cache report what comes and goes through it alone: the
        // object, and for an addition its parent.
        e.cache = true;
        if (body && g_variant_is_of_type(body, G_VARIANT_TYPE("((so))"))) {
            Variant ref(g_variant_get_child_value(body, 0));
            e.path = objectRef(ref.get()).path;
        } else if (body && g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE) &&
                   g_variant_n_children(body) > 0) {
            Variant item(g_variant_get_child_value(body, 0));
            if (g_variant_is_of_type(item.get(), G_VARIANT_TYPE_TUPLE) &&
                g_variant_n_children(item.get()) > 2) {
                Variant object(g_variant_get_child_value(item.get(), 0));
                Variant parent(g_variant_get_child_value(item.get(), 2));
                e.path = objectRef(object.get()).path;
                e.parentPath = objectRef(parent.get()).path;
            }
        }
    } else if (body && g_variant_is_of_type(body, G_VARIANT_TYPE_TUPLE) &&
               g_variant_n_children(body) > 0) {
        Variant first(g_variant_get_child_value(body, 0));
        if (g_variant_is_of_type(first.get(), G_VARIANT_TYPE_STRING))
            e.detail = g_variant_get_string(first.get(), nullptr);
        if (g_variant_n_children(body) > 1) {
            Variant second(g_variant_get_child_value(body, 1));
            if (g_variant_is_of_type(second.get(), G_VARIANT_TYPE_INT32))
                e.detail1 = g_variant_get_int32(second.get());
        }
    }
    box.events.push_back(std::move(e));
    return message;
}

} // namespace brevlin::atspi
