#include "X11HotkeyService.h"
#include "KeyPositions.h"
#include "X11Keymap.h"
#include "XcbReply.h"
#include "model/Hotkey.h"

#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>

// xcb/xkb.h does not compile as C++ (a member named `explicit`); only these two names are needed.
extern "C" {
extern xcb_extension_t xcb_xkb_id;
}

namespace brevlin {

namespace {

constexpr uint8_t xkbNewKeyboardNotify = 0;
constexpr uint8_t xkbMapNotify = 1;

constexpr quint16 relevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                      XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 |
                                      XCB_MOD_MASK_5;

xcb_connection_t* asConnection(void* c) {
    return static_cast<xcb_connection_t*>(c);
}

} // namespace

std::unique_ptr<X11HotkeyService> X11HotkeyService::create() {
    auto* guiApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!guiApp)
        return nullptr;
    auto* x11 = guiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return nullptr;
    xcb_connection_t* c = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto service = std::unique_ptr<X11HotkeyService>(new X11HotkeyService(c, screen->root));
    guiApp->installNativeEventFilter(service.get());
    return service;
}

X11HotkeyService::X11HotkeyService(void* connection, quint32 root)
    : m_connection(connection)
    , m_root(root) {
    readModifierMap();
    m_positions = readKeyPositions(asConnection(m_connection));
    m_releasePoll.setInterval(releasePollMilliseconds);
    QObject::connect(&m_releasePoll, &QTimer::timeout, &m_deferred, [this] { pollReleases(); });
}

X11HotkeyService::~X11HotkeyService() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (Registration& registration : m_registrations)
        ungrab(registration);
    xcb_flush(asConnection(m_connection));
}

void X11HotkeyService::setPressHandler(PressHandler handler) {
    m_handler = std::move(handler);
}

void X11HotkeyService::readModifierMap() {
    const X11Keymap keymap(asConnection(m_connection));
    const auto maskOf = [&keymap](xcb_keysym_t keysym, quint16 fallback) {
        const int index = keymap.modifierIndexOf(keysym);
        return index < 0 ? fallback : quint16(1 << index);
    };
    m_numLockMask = maskOf(XKB_KEY_Num_Lock, 0);
    m_altMask = maskOf(XKB_KEY_Alt_L, XCB_MOD_MASK_1);
    m_superMask = maskOf(XKB_KEY_Super_L, XCB_MOD_MASK_4);
}

bool X11HotkeyService::grab(Registration& registration) {
    xcb_connection_t* c = asConnection(m_connection);
    // The key at the code's position, whatever the layout prints on it.
    const quint8 keycode = keycodeAt(registration.position);
    if (!keycode)
        return false;

    quint16 modifiers = 0;
    if (registration.keyModifiers.testFlag(KeyModifier::primary))
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (registration.keyModifiers.testFlag(KeyModifier::shift))
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (registration.keyModifiers.testFlag(KeyModifier::alternate))
        modifiers |= m_altMask;
    if (registration.keyModifiers.testFlag(KeyModifier::system))
        modifiers |= m_superMask;
    registration.modifiers = modifiers;

    QList<quint16> lockVariants = {0, XCB_MOD_MASK_LOCK};
    if (m_numLockMask)
        lockVariants += {m_numLockMask, quint16(m_numLockMask | XCB_MOD_MASK_LOCK)};

    QList<std::pair<Grab, xcb_void_cookie_t>> pending;
    for (quint16 lock : lockVariants) {
        const Grab g{keycode, quint16(modifiers | lock)};
        pending.append({g, xcb_grab_key_checked(c, 1, m_root, g.modifiers, g.keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
    }
    bool refused = false;
    for (const auto& [g, cookie] : pending) {
        if (xcbOwn(xcb_request_check(c, cookie))) {
            refused = true;
        } else {
            registration.grabs.append(g);
        }
    }
    if (refused) {
        ungrab(registration);
        return false;
    }
    return true;
}

void X11HotkeyService::ungrab(Registration& registration) {
    xcb_connection_t* c = asConnection(m_connection);
    for (const Grab& g : registration.grabs)
        xcb_ungrab_key(c, g.keycode, m_root, g.modifiers);
    registration.grabs.clear();
    registration.held = false;
}

X11HotkeyService::RegisterResult X11HotkeyService::registerHotkey(HotkeyId id,
                                                                  const Hotkey& hotkey) {
    unregisterHotkey(id);
    const std::optional<KeyPosition> position = hotkey.position();
    if (!position || !keycodeAt(*position))
        return RegisterResult::unsupportedKey;
    Registration registration;
    registration.position = *position;
    registration.keyModifiers = hotkey.modifierSet();
    registration.id = id;
    if (!grab(registration)) {
        xcb_flush(asConnection(m_connection));
        return RegisterResult::taken;
    }
    xcb_flush(asConnection(m_connection));
    m_registrations.insert(id, registration);
    return RegisterResult::registered;
}

void X11HotkeyService::unregisterHotkey(HotkeyId id) {
    auto it = m_registrations.find(id);
    if (it == m_registrations.end())
        return;
    ungrab(*it);
    m_registrations.erase(it);
    xcb_flush(asConnection(m_connection));
}

int X11HotkeyService::grabCount(HotkeyId id) const {
    const auto it = m_registrations.constFind(id);
    return it == m_registrations.constEnd() ? 0 : int(it->grabs.size());
}

quint8 X11HotkeyService::keycodeAt(KeyPosition position) const {
    return m_positions[std::size_t(position)];
}

void X11HotkeyService::pollReleases() {
    xcb_connection_t* c = asConnection(m_connection);
    const auto keymap = xcbOwn(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    bool anyHeld = false;
    for (Registration& registration : m_registrations) {
        if (!registration.held || registration.grabs.isEmpty())
            continue;
        const quint8 k = registration.grabs.first().keycode;
        if (keymap && (keymap->keys[k / 8] & (1 << (k % 8))))
            anyHeld = true;
        else
            registration.held = false;
    }
    if (!anyHeld)
        m_releasePoll.stop();
}

void X11HotkeyService::regrabAll() {
    m_regrabPending = false;
    readModifierMap();
    m_positions = readKeyPositions(asConnection(m_connection));
    for (Registration& registration : m_registrations) {
        ungrab(registration);
        // Another client may have taken the key meanwhile; the registration then stays without
        // grabs until the next keymap change, as there is nobody to tell.
        grab(registration);
    }
    xcb_flush(asConnection(m_connection));
}

bool X11HotkeyService::nativeEventFilter(const QByteArray& eventType, void* message,
                                         qintptr* result) {
    (void)result;
    if (eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    xcb_connection_t* c = asConnection(m_connection);

    bool keymapChanged = false;
    if (type == XCB_MAPPING_NOTIFY) {
        auto* notify = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
        keymapChanged = notify->request != XCB_MAPPING_POINTER;
    } else if (const auto* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
               xkb && xkb->present && type == xkb->first_event) {
        // Byte 1 of an XKB event is its kind.
        const uint8_t kind = reinterpret_cast<const uint8_t*>(event)[1];
        keymapChanged = kind == xkbNewKeyboardNotify || kind == xkbMapNotify;
    }
    if (keymapChanged) {
        // Changes come in bursts; re-grab once after the burst. Qt still needs the event.
        if (!m_regrabPending && !m_registrations.isEmpty()) {
            m_regrabPending = true;
            QTimer::singleShot(0, &m_deferred, [this] { regrabAll(); });
        }
        return false;
    }

    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    const quint16 state = key->state & relevantModifiers & ~m_numLockMask;

    // The release can reach one of our own windows instead of the root (when the modifiers go
    // up first, the key's release is reported to the focused window); it still ends the press,
    // or the next press of the same hotkey would be taken for auto-repeat.
    if (type == XCB_KEY_RELEASE) {
        bool ours = false;
        for (Registration& registration : m_registrations)
            for (const Grab& g : registration.grabs)
                if (g.keycode == key->detail) {
                    registration.held = false;
                    registration.lastReleaseTime = key->time;
                    ours = true;
                    break;
                }
        return ours && key->event == m_root;
    }
    if (key->event != m_root)
        return false;

    for (Registration& registration : m_registrations) {
        bool matches = false;
        for (const Grab& g : registration.grabs)
            matches = matches || (g.keycode == key->detail && registration.modifiers == state);
        if (!matches)
            continue;
        // Auto-repeat shows as a release and a press with the same time, or, with detectable
        // auto-repeat, as presses without releases.
        const bool repeat = registration.held || (registration.lastReleaseTime != 0 &&
                                                  registration.lastReleaseTime == key->time);
        registration.held = true;
        // The press made our passive grab an active one: until the user lets go of the chord,
        // every key, the launch's synthetic ones included, would come to us. Give it back at
        // once; the release then goes to the focused window, so whether the key is still down
        // is asked of the server until it is up.
        xcb_ungrab_keyboard(c, key->time);
        xcb_flush(c);
        if (!m_releasePoll.isActive())
            m_releasePoll.start();
        if (!repeat && m_handler)
            m_handler(registration.id);
        return true;
    }
    return false;
}

} // namespace brevlin
