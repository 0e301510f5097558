#include "X11Workspace.h"
#include "DesktopEntries.h"
#include "XcbReply.h"

#include <QElapsedTimer>
#include <QStringList>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <poll.h>

namespace brevlin {

namespace {

// The server answers a property change at once; past this, activation goes with CurrentTime.
constexpr qint64 serverTimeBudgetMilliseconds = 50;
// Far more than two names need, in 32-bit words.
constexpr uint32_t wmClassMaxWords = 256;
// A window title longer than this is cut, in 32-bit words.
constexpr uint32_t titleMaxWords = 1024;

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
    DesktopEntryCache entries;

    // Without an entry the identifier itself is the best guess at the window class.
    QString windowClassOf(const QString& identifier, bool fresh = false) {
        const auto entry = entries.entry(identifier, fresh);
        return entry ? entry->windowClass : identifier;
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
            const auto event = xcbOwn(xcb_poll_for_event(connection));
            if (!event) {
                const qint64 left = serverTimeBudgetMilliseconds - waited.elapsed();
                if (left <= 0)
                    break;
                pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
                ::poll(&fd, 1, int(left));
                continue;
            }
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
                if (notify->window == clock)
                    return notify->time;
            }
        }
        return XCB_CURRENT_TIME;
    }

    WindowInfo describe(xcb_window_t window) {
        WindowInfo info;
        info.window = window;
        auto classCookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS,
                                            XCB_ATOM_STRING, 0, wmClassMaxWords);
        auto pidCookie = xcb_ewmh_get_wm_pid(&ewmh, window);
        auto attributesCookie = xcb_get_window_attributes(connection, window);
        // WM_CLASS is the instance and the class, each ended by a NUL. Split within the reply's
        // length: xcb-icccm's reader runs strlen past the reply when a client leaves off the
        // last NUL, and any client can set the property.
        if (const auto reply = xcbOwn(xcb_get_property_reply(connection, classCookie, nullptr));
            reply && reply->format == 8) {
            const QList<QByteArray> names =
                QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()))
                    .split('\0');
            info.instance = QString::fromUtf8(names.value(0));
            info.windowClass = QString::fromUtf8(names.value(1));
        }
        uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh, pidCookie, &pid, nullptr))
            info.pid = pid;
        if (const auto attributes =
                xcbOwn(xcb_get_window_attributes_reply(connection, attributesCookie, nullptr)))
            info.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
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
        } else if (const auto tree = xcbOwn(xcb_query_tree_reply(
                       connection, xcb_query_tree(connection, root), nullptr))) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
                windows.append(children[i]);
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

    xcb_window_t inputFocus() {
        const auto focus =
            xcbOwn(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        return focus ? focus->focus : XCB_NONE;
    }

    // The window's parent, or none when the server cannot say.
    xcb_window_t parentOf(xcb_window_t window) {
        const auto tree =
            xcbOwn(xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
        return tree ? tree->parent : XCB_NONE;
    }

    // Whether the keyboard focus is on `window` or inside it.
    bool holdsInputFocus(xcb_window_t window) {
        xcb_window_t current = inputFocus();
        for (int i = 0; i < 16 && current != XCB_NONE && current != root; ++i) {
            if (current == window)
                return true;
            current = parentOf(current);
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
            window = inputFocus();
            if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == root)
                return std::nullopt;
            // The focus may sit on a child: climb to the root's child.
            for (int i = 0; i < 16; ++i) {
                const auto tree = xcbOwn(
                    xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
                if (!tree)
                    return std::nullopt;
                if (tree->parent == root || tree->parent == XCB_NONE)
                    break;
                window = tree->parent;
            }
        }
        return describe(window);
    }

    void activate(const WindowInfo& info) {
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
        // A round trip, so the requests are with the server before the caller asks who is in
        // front.
        inputFocus();
    }

    QString title(xcb_window_t window) {
        xcb_ewmh_get_utf8_strings_reply_t name;
        if (xcb_ewmh_get_wm_name_reply(&ewmh, xcb_ewmh_get_wm_name(&ewmh, window), &name,
                                       nullptr)) {
            const QString text = QString::fromUtf8(name.strings, int(name.strings_len));
            xcb_ewmh_get_utf8_strings_reply_wipe(&name);
            return text;
        }
        // Without the window manager's UTF-8 name, the ICCCM one (Latin-1).
        const auto reply =
            xcbOwn(xcb_get_property_reply(connection,
                                          xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME,
                                                           XCB_ATOM_STRING, 0, titleMaxWords),
                                          nullptr));
        if (!reply || reply->format != 8)
            return {};
        return QString::fromLatin1(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                   xcb_get_property_value_length(reply.get()));
    }

    void mapHidden(const QList<WindowInfo>& windows) {
        for (const WindowInfo& info : windows)
            if (!info.mapped)
                xcb_map_window(connection, info.window);
        xcb_flush(connection);
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

    void activate() override {
        const QList<WindowInfo> windows = m_display->windowsOf(m_wmClass, m_pid);
        if (windows.isEmpty())
            return;
        m_display->mapHidden(windows);
        // The window manager lists clients oldest first: the first is the main window.
        m_display->activate(windows.first());
    }

    QString windowTitle() const override {
        const QList<WindowInfo> windows = m_display->windowsOf(m_wmClass, m_pid);
        return windows.isEmpty() ? QString() : m_display->title(windows.first().window);
    }

private:
    std::shared_ptr<X11Workspace::Display> m_display;
    qint64 m_pid;
    QString m_wmClass;
};

// The process owning the oldest window of the class: the window manager lists clients oldest
// first, so the same instance is named while it runs.
RunningApplicationPtr instanceOf(const std::shared_ptr<X11Workspace::Display>& display,
                                 const QString& wmClass) {
    const QList<WindowInfo> windows = display->windowsOf(wmClass);
    if (windows.isEmpty())
        return nullptr;
    return std::make_shared<X11RunningApplication>(display, windows.first().pid, wmClass);
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
    if (const auto atom = xcbOwn(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof(name) - 1, name), nullptr)))
        display->clockAtom = atom->atom;
    return std::unique_ptr<X11Workspace>(new X11Workspace(std::move(display)));
}

void X11Workspace::setStartTimeoutMilliseconds(int milliseconds) {
    m_startTimeoutMilliseconds = milliseconds;
}

bool X11Workspace::hasWindowManager() const {
    return m_display->hasWindowManager();
}

std::optional<QString> X11Workspace::desktopEntryPath(const QString& applicationId) const {
    const auto entry = desktopEntryFor(applicationId);
    if (!entry || entry->path.isEmpty())
        return std::nullopt;
    return entry->path;
}

RunningApplicationPtr X11Workspace::findRunning(const QString& applicationId) {
    return instanceOf(m_display, m_display->windowClassOf(applicationId, true));
}

void X11Workspace::start(const QString& applicationId, StartDone done) {
    const auto entry = m_display->entries.entry(applicationId, true);
    auto display = m_display;
    const QString wmClass = entry ? entry->windowClass : QString();
    startDesktopEntry(
        entry, [display, wmClass] { return instanceOf(display, wmClass); }, std::move(done),
        m_startTimeoutMilliseconds, startPollMilliseconds);
}

bool X11Workspace::isFrontmost(const QString& applicationId) {
    const auto active = m_display->activeWindow();
    return active && Display::matches(*active, m_display->windowClassOf(applicationId));
}

} // namespace brevlin
