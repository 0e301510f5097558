#include "AtspiTrust.h"

#include "AtspiBus.h"

#include <QByteArray>
#include <QTimer>

#include <gio/gio.h>

#include <memory>

namespace brevlin::atspi {

namespace {

struct TrustCheck {
    std::function<void(bool)> answer;
    GDBusConnection* session = nullptr;
    GDBusConnection* accessibilityBus = nullptr;

    ~TrustCheck() {
        if (session)
            g_object_unref(session);
        if (accessibilityBus)
            g_object_unref(accessibilityBus);
    }
};

// Takes ownership back from a GIO callback's user data.
std::unique_ptr<TrustCheck> reclaim(gpointer data) {
    return std::unique_ptr<TrustCheck>(static_cast<TrustCheck*>(data));
}

void finish(std::unique_ptr<TrustCheck> check, bool trusted) {
    check->answer(trusted);
}

void onConnected(GObject*, GAsyncResult* result, gpointer data) {
    auto check = reclaim(data);
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    const bool answers = connection != nullptr;
    if (connection) {
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        g_object_unref(connection);
    }
    finish(std::move(check), answers);
}

void onAddress(GObject* source, GAsyncResult* result, gpointer data) {
    auto check = reclaim(data);
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply) {
        finish(std::move(check), false);
        return;
    }
    const gchar* address = nullptr;
    g_variant_get(reply, "(&s)", &address);
    const QByteArray copy(address);
    g_variant_unref(reply);
    g_dbus_connection_new_for_address(
        copy.constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, onConnected, check.release());
}

void askAddress(std::unique_ptr<TrustCheck> check) {
    const QByteArray forced = qgetenv("AT_SPI_BUS_ADDRESS");
    if (!forced.isEmpty()) {
        g_dbus_connection_new_for_address(
            forced.constData(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, onConnected, check.release());
        return;
    }
    GDBusConnection* session = check->session;
    // The launcher of the accessibility bus is started on demand by the session bus.
    g_dbus_connection_call(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                           nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
                           trustStepTimeoutMs, nullptr, onAddress, check.release());
}

bool enabledIn(GVariant* properties, const char* name) {
    bool value = false;
    GVariant* boxed = g_variant_lookup_value(properties, name, G_VARIANT_TYPE_BOOLEAN);
    if (boxed) {
        value = g_variant_get_boolean(boxed);
        g_variant_unref(boxed);
    }
    return value;
}

void onStatus(GObject* source, GAsyncResult* result, gpointer data) {
    auto check = reclaim(data);
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply) {
        finish(std::move(check), false);
        return;
    }
    GVariant* properties = g_variant_get_child_value(reply, 0);
    const bool enabled =
        enabledIn(properties, "IsEnabled") || enabledIn(properties, "ScreenReaderEnabled");
    g_variant_unref(properties);
    g_variant_unref(reply);
    if (!enabled) {
        finish(std::move(check), false);
        return;
    }
    // Connecting anew costs a handshake with the bus on every launch.
    if (check->accessibilityBus && !g_dbus_connection_is_closed(check->accessibilityBus)) {
        finish(std::move(check), true);
        return;
    }
    askAddress(std::move(check));
}

void askStatus(std::unique_ptr<TrustCheck> check) {
    GDBusConnection* session = check->session;
    g_dbus_connection_call(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "GetAll",
        g_variant_new("(s)", "org.a11y.Status"), G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE,
        trustStepTimeoutMs, nullptr, onStatus, check.release());
}

void startCheck(bool prompt, std::function<void(bool trusted)> answer,
                GDBusConnection* accessibilityBus);

void onEnabled(GObject* source, GAsyncResult* result, gpointer data) {
    auto check = reclaim(data);
    // Whether the switch took is what the status read says next.
    if (GVariant* done = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr))
        g_variant_unref(done);
    askStatus(std::move(check));
}

} // namespace

void checkTrust(bool prompt, std::function<void(bool trusted)> answer,
                GDBusConnection* accessibilityBus) {
    if (accessibilityBus)
        g_object_ref(accessibilityBus);
    // Even connecting to the session bus waits for its answer: it happens in a later turn, so a
    // check asked for while the dock is being put up does not hold the dock back.
    QTimer::singleShot(0, [prompt, answer = std::move(answer), accessibilityBus]() mutable {
        startCheck(prompt, std::move(answer), accessibilityBus);
    });
}

namespace {

void startCheck(bool prompt, std::function<void(bool trusted)> answer,
                GDBusConnection* accessibilityBus) {
    auto check = std::make_unique<TrustCheck>();
    check->accessibilityBus = accessibilityBus;
    // The answer always comes in a later turn of the main loop, even when it is known at once.
    check->answer = [answer = std::move(answer)](bool trusted) {
        QTimer::singleShot(0, [answer, trusted] { answer(trusted); });
    };
    GDBusConnection* session = sessionBus();
    if (!session) {
        finish(std::move(check), false);
        return;
    }
    check->session = G_DBUS_CONNECTION(g_object_ref(session));
    if (!prompt) {
        askStatus(std::move(check));
        return;
    }
    g_dbus_connection_call(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
        nullptr, G_DBUS_CALL_FLAGS_NONE, trustStepTimeoutMs, nullptr, onEnabled, check.release());
}

} // namespace

} // namespace brevlin::atspi
