#include "DockWindowX11.h"
#include "XcbReply.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <memory>

namespace brevlin {

namespace {

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct Ewmh {
    xcb_ewmh_connection_t connection{};
    bool ready = false;
    ~Ewmh() {
        if (ready)
            xcb_ewmh_connection_wipe(&connection);
    }
};

std::unique_ptr<Ewmh> openEwmh(xcb_connection_t* connection) {
    auto ewmh = std::make_unique<Ewmh>();
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh->connection);
    if (!cookies || !xcb_ewmh_init_atoms_replies(&ewmh->connection, cookies, nullptr))
        return nullptr;
    ewmh->ready = true;
    return ewmh;
}

bool isMapped(xcb_connection_t* connection, xcb_window_t window) {
    const auto reply = xcbOwn(xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, window), nullptr));
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

constexpr uint32_t allDesktops = 0xFFFFFFFF;

} // namespace

void applyDockWindowHints(QWindow* window) {
    xcb_connection_t* connection = x11Connection();
    if (!window || !connection)
        return;
    const auto xid = static_cast<xcb_window_t>(window->winId());
    std::unique_ptr<Ewmh> ewmh = openEwmh(connection);
    if (!ewmh)
        return;
    xcb_ewmh_connection_t* e = &ewmh->connection;
    const xcb_atom_t states[] = {e->_NET_WM_STATE_ABOVE, e->_NET_WM_STATE_STICKY,
                                 e->_NET_WM_STATE_SKIP_TASKBAR, e->_NET_WM_STATE_SKIP_PAGER};

    if (!isMapped(connection, xid)) {
        // Keep whatever Qt has already put in the state list and add ours.
        xcb_atom_t merged[32];
        uint32_t count = 0;
        xcb_ewmh_get_atoms_reply_t existing;
        if (xcb_ewmh_get_wm_state_reply(e, xcb_ewmh_get_wm_state(e, xid), &existing, nullptr)) {
            for (uint32_t i = 0; i < existing.atoms_len && count < 28; ++i)
                merged[count++] = existing.atoms[i];
            xcb_ewmh_get_atoms_reply_wipe(&existing);
        }
        for (xcb_atom_t state : states) {
            bool present = false;
            for (uint32_t i = 0; i < count; ++i)
                present = present || merged[i] == state;
            if (!present)
                merged[count++] = state;
        }
        xcb_ewmh_set_wm_state(e, xid, count, merged);
        xcb_ewmh_set_wm_desktop(e, xid, allDesktops);
    } else {
        // A mapped window belongs to the window manager: ask it.
        const int screen = 0;
        for (xcb_atom_t state : states)
            xcb_ewmh_request_change_wm_state(e, screen, xid, XCB_EWMH_WM_STATE_ADD, state, 0,
                                             XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
        xcb_ewmh_request_change_wm_desktop(e, screen, xid, allDesktops,
                                           XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
    }
    xcb_flush(connection);
}

bool hasCompositingManager() {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return true;
    std::unique_ptr<Ewmh> ewmh = openEwmh(connection);
    if (!ewmh)
        return false;
    xcb_window_t owner = XCB_NONE;
    if (!xcb_ewmh_get_wm_cm_owner_reply(
            &ewmh->connection, xcb_ewmh_get_wm_cm_owner(&ewmh->connection, 0), &owner, nullptr))
        return false;
    const bool owned = owner != XCB_NONE;
    return owned;
}

} // namespace brevlin
