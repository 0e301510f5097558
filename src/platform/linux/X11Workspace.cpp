#include "X11Workspace.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstdlib>

#include <poll.h>

namespace brevlin {

namespace {

const QString figmaIdentifier = QStringLiteral("com.figma.Desktop");
// The server answers a property change at once; past this, activation goes with CurrentTime.
constexpr qint64 serverTimeBudgetMilliseconds = 50;
const QString communityFigmaEntry = QStringLiteral("figma-linux.desktop");

struct Entry {
    QString id;
    QString path;
    QString wmClass;
};

QString fromUtf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

std::optional<Entry> entryFromInfo(GDesktopAppInfo* info) {
    if (!info)
        return std::nullopt;
    Entry entry;
    entry.id = fromUtf8(g_app_info_get_id(G_APP_INFO(info)));
    entry.path = fromUtf8(g_desktop_app_info_get_filename(info));
    entry.wmClass = fromUtf8(g_desktop_app_info_get_startup_wm_class(info));
    if (entry.wmClass.isEmpty()) {
        // Without StartupWMClass, toolkits name the window class after the entry's id.
        QString base = entry.id.isEmpty() ? entry.path.section('/', -1) : entry.id;
        if (base.endsWith(".desktop"))
            base.chop(8);
        entry.wmClass = base;
    }
    g_object_unref(info);
    return entry;
}

std::optional<Entry> entryForIdentifier(const QString& identifier) {
    QStringList ids = {identifier + ".desktop"};
    if (identifier == figmaIdentifier)
        ids.append(communityFigmaEntry);
    for (const QString& id : ids)
        if (auto entry = entryFromInfo(g_desktop_app_info_new(id.toUtf8().constData())))
            return entry;
    return std::nullopt;
}

std::optional<Entry> entryAtPath(const QString& path) {
    return entryFromInfo(g_desktop_app_info_new_from_filename(path.toLocal8Bit().constData()));
}

struct WindowInfo {
    xcb_window_t window = XCB_NONE;
    QString instance;
    QString windowClass;
    qint64 pid = 0;
    bool mapped = false;
};

} // namespace

struct X11Workspace::Display {
    xcb_connection_t* connection = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    int screenNumber = 0;
    xcb_window_t root = XCB_NONE;
    // An unmapped window of ours, for asking the server what time it is.
    xcb_window_t clock = XCB_NONE;
    xcb_atom_t clockAtom = XCB_NONE;
    // Identifiers asked about; their entries are looked up again each time, as they may change.
    QStringList knownIdentifiers;
    // The window class each known identifier's entry gave, for the frontmost check, which runs
    // before every key of a launch: reading the entry again each time would cost more than the
    // rest of the check. Kept only briefly, so a changed entry is seen soon.
    struct ClassLookup {
        QString wmClass;
        QElapsedTimer age;
    };
    QHash<QString, ClassLookup> classLookups;
    static constexpr qint64 classLookupLifetimeMs = 2000;

    QString windowClassOf(const QString& identifier) {
        ClassLookup& lookup = classLookups[identifier];
        if (!lookup.age.isValid() || lookup.age.elapsed() > classLookupLifetimeMs) {
            const auto entry = entryForIdentifier(identifier);
            lookup.wmClass = entry ? entry->wmClass : identifier;
            lookup.age.start();
        }
        return lookup.wmClass;
    }

    ~Display() {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection)
            xcb_disconnect(connection);
    }

    bool hasWindowManager() {
        xcb_window_t check = XCB_NONE;
        return xcb_ewmh_get_supporting_wm_check_reply(
                   &ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, root), &check, nullptr) &&
               check != XCB_NONE;
    }

    // The server's current time: the timestamp of a property change on our own window.
    // Waits a moment at most: a notification that never comes must not freeze the caller.
    xcb_timestamp_t serverTime() {
        if (clock == XCB_NONE || clockAtom == XCB_NONE)
            return XCB_CURRENT_TIME;
        xcb_change_property(connection, XCB_PROP_MODE_APPEND, clock, clockAtom, XCB_ATOM_STRING, 8,
                            0, nullptr);
        xcb_flush(connection);
        QElapsedTimer waited;
        waited.start();
        while (!xcb_connection_has_error(connection)) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection);
            if (!event) {
                const qint64 left = serverTimeBudgetMilliseconds - waited.elapsed();
                if (left <= 0)
                    break;
                pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
                ::poll(&fd, 1, int(left));
                continue;
            }
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
                if (notify->window == clock) {
                    const xcb_timestamp_t time = notify->time;
                    std::free(event);
                    return time;
                }
            }
            std::free(event);
        }
        return XCB_CURRENT_TIME;
    }

    WindowInfo describe(xcb_window_t window) {
        WindowInfo info;
        info.window = window;
        auto classCookie = xcb_icccm_get_wm_class(connection, window);
        auto pidCookie = xcb_ewmh_get_wm_pid(&ewmh, window);
        auto attributesCookie = xcb_get_window_attributes(connection, window);
        xcb_icccm_get_wm_class_reply_t wmClass;
        if (xcb_icccm_get_wm_class_reply(connection, classCookie, &wmClass, nullptr)) {
            info.instance = fromUtf8(wmClass.instance_name);
            info.windowClass = fromUtf8(wmClass.class_name);
            xcb_icccm_get_wm_class_reply_wipe(&wmClass);
        }
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh, pidCookie, &pid, nullptr))
            info.pid = pid;
        if (auto* attributes =
                xcb_get_window_attributes_reply(connection, attributesCookie, nullptr)) {
            info.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
            std::free(attributes);
        }
        return info;
    }

    // Managed windows in the window manager's order; without one, the root's children that
    // carry a class.
    QList<WindowInfo> topLevelWindows() {
        QList<xcb_window_t> windows;
        xcb_ewmh_get_windows_reply_t list;
        if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screenNumber),
                                           &list, nullptr)) {
            for (uint32_t i = 0; i < list.windows_len; ++i)
                windows.append(list.windows[i]);
            xcb_ewmh_get_windows_reply_wipe(&list);
        } else if (auto* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root),
                                                     nullptr)) {
            const xcb_window_t* children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
                windows.append(children[i]);
            std::free(tree);
        }
        QList<WindowInfo> result;
        for (xcb_window_t w : windows) {
            WindowInfo info = describe(w);
            if (!info.instance.isEmpty() || !info.windowClass.isEmpty())
                result.append(info);
        }
        return result;
    }

    static bool matches(const WindowInfo& info, const QString& wmClass) {
        return !wmClass.isEmpty() && (info.instance == wmClass || info.windowClass == wmClass);
    }

    QList<WindowInfo> windowsOf(const QString& wmClass, qint64 pid = 0) {
        QList<WindowInfo> result;
        for (const WindowInfo& info : topLevelWindows())
            if (matches(info, wmClass) && (pid == 0 || info.pid == pid))
                result.append(info);
        return result;
    }

    // Whether the keyboard focus is on `window` or inside it.
    bool holdsInputFocus(xcb_window_t window) {
        auto* focus =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        xcb_window_t current = focus ? focus->focus : XCB_NONE;
        std::free(focus);
        for (int i = 0; i < 16 && current != XCB_NONE && current != root; ++i) {
            if (current == window)
                return true;
            auto* tree =
                xcb_query_tree_reply(connection, xcb_query_tree(connection, current), nullptr);
            if (!tree)
                return false;
            current = tree->parent;
            std::free(tree);
        }
        return false;
    }

    // The top-level window that has focus: the window manager's word, else the input focus.
    // The window manager names the active window only after the focus has moved, so its word
    // counts only while the keyboard focus is really there: keys go where the focus is.
    std::optional<WindowInfo> activeWindow() {
        xcb_window_t window = XCB_NONE;
        if (xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNumber),
                                             &window, nullptr) &&
            window != XCB_NONE) {
            if (!holdsInputFocus(window))
                return std::nullopt;
        } else {
            auto* focus =
                xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
            window = focus ? focus->focus : XCB_NONE;
            std::free(focus);
            if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == root)
                return std::nullopt;
            // The focus may sit on a child: climb to the root's child.
            for (int i = 0; i < 16; ++i) {
                auto* tree =
                    xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
                if (!tree)
                    return std::nullopt;
                const xcb_window_t parent = tree->parent;
                std::free(tree);
                if (parent == root || parent == XCB_NONE)
                    break;
                window = parent;
            }
        }
        return describe(window);
    }

    bool activate(const WindowInfo& info) {
        const xcb_timestamp_t time = serverTime();
        if (!info.mapped)
            xcb_map_window(connection, info.window);
        if (hasWindowManager()) {
            xcb_window_t current = XCB_NONE;
            xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNumber),
                                             &current, nullptr);
            // Source 2: a pager-like request on the user's behalf, which window managers honour
            // without focus-stealing checks.
            xcb_ewmh_request_change_active_window(&ewmh, screenNumber, info.window,
                                                  XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, time, current);
        } else {
            const uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(connection, info.window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, info.window, time);
        }
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        return true;
    }

    bool mapHidden(const QList<WindowInfo>& windows) {
        bool any = false;
        for (const WindowInfo& info : windows)
            if (!info.mapped) {
                xcb_map_window(connection, info.window);
                any = true;
            }
        xcb_flush(connection);
        return any;
    }
};

namespace {

class X11RunningApplication : public RunningApplication {
public:
    X11RunningApplication(std::shared_ptr<X11Workspace::Display> display, qint64 pid,
                          QString wmClass)
        : m_display(std::move(display))
        , m_pid(pid)
        , m_wmClass(std::move(wmClass)) {}

    qint64 processIdentifier() const override { return m_pid; }

    bool unhide() override {
        const QList<WindowInfo> windows = m_display->windowsOf(m_wmClass, m_pid);
        m_display->mapHidden(windows);
        return !windows.isEmpty();
    }

    bool activate(quint32 options) override {
        (void)options; // one request raises the application's window either way
        const QList<WindowInfo> windows = m_display->windowsOf(m_wmClass, m_pid);
        if (windows.isEmpty())
            return false;
        // The window manager lists clients oldest first: the first is the main window.
        return m_display->activate(windows.first());
    }

private:
    std::shared_ptr<X11Workspace::Display> m_display;
    qint64 m_pid;
    QString m_wmClass;
};

QList<RunningApplicationPtr> applicationsFor(const std::shared_ptr<X11Workspace::Display>& display,
                                             const QString& wmClass) {
    QList<RunningApplicationPtr> result;
    QList<qint64> seen;
    for (const WindowInfo& info : display->windowsOf(wmClass)) {
        if (seen.contains(info.pid))
            continue;
        seen.append(info.pid);
        result.append(std::make_shared<X11RunningApplication>(display, info.pid, wmClass));
    }
    return result;
}

} // namespace

X11Workspace::X11Workspace(std::shared_ptr<Display> display)
    : m_display(std::move(display)) {}

X11Workspace::~X11Workspace() = default;

std::unique_ptr<X11Workspace> X11Workspace::create() {
    auto display = std::make_shared<Display>();
    display->connection = xcb_connect(nullptr, &display->screenNumber);
    if (!display->connection || xcb_connection_has_error(display->connection))
        return nullptr;
    display->ewmhReady = xcb_ewmh_init_atoms_replies(
        &display->ewmh, xcb_ewmh_init_atoms(display->connection, &display->ewmh), nullptr);
    if (!display->ewmhReady)
        return nullptr;
    display->root = display->ewmh.screens[display->screenNumber]->root;

    xcb_connection_t* c = display->connection;
    display->clock = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, display->clock, display->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    const char name[] = "_BREVLIN_TIMESTAMP";
    if (auto* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr)) {
        display->clockAtom = atom->atom;
        std::free(atom);
    }
    display->knownIdentifiers.append(figmaIdentifier);
    return std::unique_ptr<X11Workspace>(new X11Workspace(std::move(display)));
}

void X11Workspace::setOpenTimeoutMilliseconds(int milliseconds) {
    m_openTimeoutMilliseconds = milliseconds;
}

bool X11Workspace::hasWindowManager() const {
    return m_display->hasWindowManager();
}

QList<RunningApplicationPtr> X11Workspace::runningApplications(const QString& bundleIdentifier) {
    const auto entry = entryForIdentifier(bundleIdentifier);
    // Without an entry the identifier itself is the best guess at the window class.
    const QString wmClass = entry ? entry->wmClass : bundleIdentifier;
    if (!m_display->knownIdentifiers.contains(bundleIdentifier))
        m_display->knownIdentifiers.append(bundleIdentifier);
    return applicationsFor(m_display, wmClass);
}

std::optional<QString> X11Workspace::applicationLocation(const QString& bundleIdentifier) {
    const auto entry = entryForIdentifier(bundleIdentifier);
    if (!entry || entry->path.isEmpty())
        return std::nullopt;
    if (!m_display->knownIdentifiers.contains(bundleIdentifier))
        m_display->knownIdentifiers.append(bundleIdentifier);
    return entry->path;
}

void X11Workspace::openApplication(const QString& location, bool activates,
                                   OpenCompletion completion) {
    GDesktopAppInfo* info =
        g_desktop_app_info_new_from_filename(location.toLocal8Bit().constData());
    if (!info) {
        completion(nullptr,
                   QStringLiteral("The application entry %1 could not be read.").arg(location));
        return;
    }
    const auto entry = entryAtPath(location);
    const QString wmClass = entry ? entry->wmClass : QString();
    GAppLaunchContext* context = g_app_launch_context_new();
    GError* error = nullptr;
    const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr, context, &error);
    g_object_unref(context);
    g_object_unref(info);
    if (!launched) {
        const QString message = error ? fromUtf8(error->message)
                                      : QStringLiteral("The application could not be started.");
        if (error)
            g_error_free(error);
        completion(nullptr, message);
        return;
    }

    // The launch only starts a process; the application counts as open once a window shows.
    auto* timer = new QTimer;
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    auto display = m_display;
    const int timeout = m_openTimeoutMilliseconds;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        const QList<RunningApplicationPtr> applications = applicationsFor(display, wmClass);
        if (!applications.isEmpty()) {
            timer->stop();
            timer->deleteLater();
            if (activates)
                applications.first()->activate(activateAllWindows);
            completion(applications.first(), std::nullopt);
        } else if (elapsed->elapsed() >= timeout) {
            timer->stop();
            timer->deleteLater();
            completion(nullptr, QStringLiteral("The application did not open a window within "
                                               "%1 seconds.")
                                    .arg(timeout / 1000.0));
        }
    });
    timer->start(50);
}

std::optional<QString> X11Workspace::frontmostApplicationBundleIdentifier() {
    const auto active = m_display->activeWindow();
    if (!active)
        return std::nullopt;
    for (const QString& identifier : m_display->knownIdentifiers)
        if (Display::matches(*active, m_display->windowClassOf(identifier)))
            return identifier;
    if (!active->windowClass.isEmpty())
        return active->windowClass;
    if (!active->instance.isEmpty())
        return active->instance;
    return std::nullopt;
}

} // namespace brevlin
