#include "XTestKeyboard.h"

#include "KeyPositions.h"
#include "X11Keymap.h"
#include "XcbReply.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <poll.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace brevlin {

quint32 keysymForCodePoint(char32_t codePoint) {
    switch (codePoint) {
    case U'\n':
    case U'\r':
        return XKB_KEY_Return;
    case U'\t':
        return XKB_KEY_Tab;
    case U'\b':
        return XKB_KEY_BackSpace;
    default:
        break;
    }
    // Latin-1 keysyms equal their code points; everything else has the Unicode keysym range.
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff))
        return quint32(codePoint);
    return 0x01000000u | quint32(codePoint);
}

namespace {

// Modifier index of Lock in the core protocol.
constexpr int lockIndex = 1;

// A borrowed keycode is not given a new keysym until the target has surely handled the keys
// typed on it: it translates them with the keymap it fetched when it saw our change.
constexpr int settleMilliseconds = 150;
// Borrowed keycodes go back to empty once typing has paused this long.
constexpr int restoreAfterIdleMilliseconds = 500;
// How long the focused client has to answer a ping after a keymap change. Chromium answers
// within a millisecond on a quiet machine, but took over 100 ms beside a build.
constexpr int pingTimeoutMilliseconds = 250;
// The pause after a keymap change when the focused client cannot be pinged.
constexpr int unpingedSettleMilliseconds = 30;
// How far up from the focused window a client's own top-level window is looked for.
constexpr int pingSearchDepth = 8;

// What each key is on a US keyboard: the keysym it gives, and the XKB name of its position.
struct UsKey {
    xcb_keysym_t keysym;
    const char* keyName;
};

UsKey usKey(Key key) {
    switch (key) {
    case Key::a:
        return {XKB_KEY_a, "AC01"};
    case Key::k:
        return {XKB_KEY_k, "AC08"};
    case Key::deleteBackward:
        return {XKB_KEY_BackSpace, "BKSP"};
    case Key::downArrow:
        return {XKB_KEY_Down, "DOWN"};
    case Key::returnKey:
        return {XKB_KEY_Return, "RTRN"};
    }
    return {0, ""};
}

QList<QByteArray> usKeyNames() {
    QList<QByteArray> names;
    for (Key key : {Key::a, Key::k, Key::deleteBackward, Key::downArrow, Key::returnKey})
        names.append(QByteArray(usKey(key).keyName));
    return names;
}

using Place = X11Keymap::Place;

} // namespace

struct XTestKeyboard::Impl {
    xcb_connection_t* connection = nullptr;
    // The keymap is read through XKB on a connection of its own: a connection that has turned
    // XKB on no longer gets the core MappingNotify that tells `connection` the layout changed.
    xcb_connection_t* keymapConnection = nullptr;
    // Read afresh, lazily, after the keymap changed.
    std::unique_ptr<X11Keymap> keymap;
    bool layoutStale = true;

    // The keycodes at the US keyboard's positions of the keys, by XKB key name.
    QHash<QByteArray, quint8> positions;
    // Keycodes free for our keysyms, the ones we borrowed included.
    QList<xcb_keycode_t> spareKeycodes;
    // Borrowed keycodes: what they carry and when a key was last typed on them.
    QHash<xcb_keycode_t, quint32> borrowed;
    QHash<quint32, xcb_keycode_t> borrowedByKeysym;
    QHash<xcb_keycode_t, qint64> lastUse;
    QElapsedTimer clock;
    QTimer restoreTimer;

    // The modifier index Num Lock sits on.
    int numLockIndex = -1;

    xcb_window_t root = XCB_NONE;
    // For its atoms only; it has no connection of its own.
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    quint32 pingSerial = 0;
    XTestKeyboard::KeymapWaits keymapWaits;

    // What establishing the modifiers changed, undone after the key.
    struct Plan {
        std::vector<xcb_keycode_t> pressed;
        std::vector<xcb_keycode_t> released;
    };

    ~Impl() {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection) {
            restore();
            keymap.reset();
            xcb_disconnect(connection);
        }
        if (keymapConnection)
            xcb_disconnect(keymapConnection);
    }

    // Notes a keymap change (ours or anyone's: the core event, or any XKB one); true for the
    // answer to ping `serial`.
    bool handleEvent(const xcb_generic_event_t* event, quint32 serial = 0) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY || type >= 64)
            layoutStale = true;
        if (type != XCB_CLIENT_MESSAGE || !serial)
            return false;
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
        return message->type == ewmh.WM_PROTOCOLS && message->format == 32 &&
               message->data.data32[0] == ewmh._NET_WM_PING && message->data.data32[1] == serial;
    }

    void drainEvents() {
        while (const auto event = xcbOwn(xcb_poll_for_event(connection)))
            handleEvent(event.get());
    }

    bool answersPings(xcb_window_t window) {
        xcb_icccm_get_wm_protocols_reply_t protocols;
        if (!xcb_icccm_get_wm_protocols_reply(
                connection, xcb_icccm_get_wm_protocols(connection, window, ewmh.WM_PROTOCOLS),
                &protocols, nullptr))
            return false;
        const bool found = std::find(protocols.atoms, protocols.atoms + protocols.atoms_len,
                                     ewmh._NET_WM_PING) != protocols.atoms + protocols.atoms_len;
        xcb_icccm_get_wm_protocols_reply_wipe(&protocols);
        return found;
    }

    // The window holding the keyboard focus, or the nearest ancestor of it, that answers pings.
    xcb_window_t pingableFocusWindow() {
        const auto focus =
            xcbOwn(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        if (!focus)
            return XCB_NONE;
        xcb_window_t window = focus->focus;
        for (int depth = 0; depth < pingSearchDepth && window != XCB_NONE && window != root &&
                            window != XCB_INPUT_FOCUS_POINTER_ROOT;
             ++depth) {
            if (answersPings(window))
                return window;
            const auto tree = xcbOwn(
                xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
            if (!tree)
                return XCB_NONE;
            window = tree->parent;
        }
        return XCB_NONE;
    }

    // Pings the focused client and waits for its answer. The client reads the ping after the
    // keymap change on the same event stream, so once it answers it has handled the change.
    bool pingFocusedClient() {
        const xcb_window_t window = ewmhReady ? pingableFocusWindow() : XCB_NONE;
        if (window == XCB_NONE)
            return false;
        // The answer goes to the root window; listen there only while waiting for it. Chromium
        // sends it to substructure listeners, Qt to structure listeners.
        const uint32_t listen =
            XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        const uint32_t quiet = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &listen);
        // Built by hand: xcb_ewmh_send_wm_ping sends with a substructure mask, which reaches
        // only clients selecting that on the window, not the one that owns it.
        xcb_client_message_event_t ping{};
        ping.response_type = XCB_CLIENT_MESSAGE;
        ping.format = 32;
        ping.window = window;
        ping.type = ewmh.WM_PROTOCOLS;
        ping.data.data32[0] = ewmh._NET_WM_PING;
        ping.data.data32[1] = ++pingSerial;
        ping.data.data32[2] = window;
        xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&ping));
        xcb_flush(connection);
        bool answered = false;
        const QDeadlineTimer deadline(pingTimeoutMilliseconds);
        while (!answered && !xcb_connection_has_error(connection)) {
            while (const auto event = xcbOwn(xcb_poll_for_event(connection)))
                answered = handleEvent(event.get(), pingSerial) || answered;
            if (answered || deadline.hasExpired())
                break;
            pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
            ::poll(&fd, 1, int(deadline.remainingTime()));
        }
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &quiet);
        return answered;
    }

    // A key on a freshly mapped keycode is translated with the keymap the target holds when the
    // key arrives. Chromium refreshes its copy after it has handled the change notification,
    // and a key that overtakes that is read as an empty key and types nothing.
    void waitUntilTargetSeesKeymap() {
        if (pingFocusedClient()) {
            ++keymapWaits.answered;
        } else {
            ++keymapWaits.paused;
            QThread::msleep(unpingedSettleMilliseconds);
        }
    }

    void sync() {
        xcbOwn(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }

    void reloadLayout() {
        drainEvents();
        if (!layoutStale)
            return;
        layoutStale = false;
        if (!keymapConnection)
            keymapConnection = xcb_connect(nullptr, nullptr);
        positions = readKeycodesByName(keymapConnection, usKeyNames());
        if (keymap)
            keymap->reload();
        else
            keymap = std::make_unique<X11Keymap>(connection);
        // A layout switch loads a whole new keymap over the keycodes we borrowed: those are no
        // longer ours to type on or to clear.
        for (auto it = borrowed.begin(); it != borrowed.end();) {
            if (keymap->keysymAt(it.key(), 0) == it.value()) {
                ++it;
                continue;
            }
            borrowedByKeysym.remove(it.value());
            lastUse.remove(it.key());
            it = borrowed.erase(it);
        }
        spareKeycodes = keymap->unassignedKeycodes();
        for (auto it = borrowed.cbegin(); it != borrowed.cend(); ++it)
            if (!spareKeycodes.contains(it.key()))
                spareKeycodes.append(it.key());
        std::sort(spareKeycodes.begin(), spareKeycodes.end());
        numLockIndex = keymap->modifierIndexOf(XKB_KEY_Num_Lock);
    }

    // The layout's own key for a keysym, never one of the keycodes we borrowed.
    std::optional<Place> layoutPlace(quint32 keysym) const {
        for (const Place& place : keymap->placesOf(keysym))
            if (!borrowed.contains(place.keycode))
                return place;
        return std::nullopt;
    }

    std::optional<Place> positionOf(quint32 keysym) const {
        if (const auto it = borrowedByKeysym.constFind(keysym); it != borrowedByKeysym.constEnd())
            return Place{*it, false};
        return layoutPlace(keysym);
    }

    xcb_keycode_t keycodeOf(quint32 keysym) const {
        const auto position = positionOf(keysym);
        return position && !position->shifted ? position->keycode : 0;
    }

    // The key a key goes on: the layout's key for its US keysym, else the key at its US position;
    // 0 when there is neither.
    xcb_keycode_t keycodeFor(Key key) {
        reloadLayout();
        const UsKey us = usKey(key);
        if (const auto place = layoutPlace(us.keysym); place && !place->shifted)
            return place->keycode;
        return positions.value(QByteArray(us.keyName), 0);
    }

    void fake(uint8_t type, xcb_keycode_t keycode) {
        xcb_test_fake_input(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    // Modifier keycodes that are down now, lock-like ones left out.
    std::vector<xcb_keycode_t> heldModifiers() {
        std::vector<xcb_keycode_t> held;
        const auto down =
            xcbOwn(xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
        if (!down)
            return held;
        for (int m = 0; m < 8; ++m) {
            if (m == lockIndex || m == numLockIndex)
                continue;
            for (xcb_keycode_t k : keymap->modifierKeycodes()[std::size_t(m)])
                if (down->keys[k / 8] & (1 << (k % 8)))
                    held.push_back(k);
        }
        return held;
    }

    // Makes the modifier state exactly `wanted` (keysyms of modifier keys); returns what to undo.
    Plan establishModifiers(const std::vector<quint32>& wanted) {
        Plan plan;
        QSet<int> wantedIndices;
        std::vector<xcb_keycode_t> wantedKeycodes;
        for (quint32 sym : wanted) {
            const xcb_keycode_t k = keycodeOf(sym);
            if (!k)
                continue;
            wantedKeycodes.push_back(k);
            wantedIndices.insert(keymap->modifierIndexOfKeycode(k));
        }
        QSet<int> satisfied;
        for (xcb_keycode_t k : heldModifiers()) {
            const int index = keymap->modifierIndexOfKeycode(k);
            if (wantedIndices.contains(index)) {
                satisfied.insert(index);
            } else {
                fake(XCB_KEY_RELEASE, k);
                plan.released.push_back(k);
            }
        }
        for (xcb_keycode_t k : wantedKeycodes) {
            if (satisfied.contains(keymap->modifierIndexOfKeycode(k)))
                continue;
            fake(XCB_KEY_PRESS, k);
            plan.pressed.push_back(k);
        }
        return plan;
    }

    void undo(const Plan& plan) {
        for (auto it = plan.pressed.rbegin(); it != plan.pressed.rend(); ++it)
            fake(XCB_KEY_RELEASE, *it);
        for (xcb_keycode_t k : plan.released)
            fake(XCB_KEY_PRESS, k);
    }

    void setKeysym(xcb_keycode_t keycode, quint32 keysym) {
        std::vector<xcb_keysym_t> row(std::max(keymap->keysymsPerKeycode(), 2), 0);
        if (keysym) {
            // The same keysym on both levels, so a stray Shift cannot change what it types.
            row[0] = keysym;
            row[1] = keysym;
        }
        xcb_change_keyboard_mapping(connection, 1, keycode, uint8_t(row.size()), row.data());
    }

    void waitUntilSettled(xcb_keycode_t keycode) {
        const qint64 ready = lastUse.value(keycode, -settleMilliseconds) + settleMilliseconds;
        const qint64 remaining = ready - clock.elapsed();
        if (remaining > 0)
            QThread::msleep(ulong(remaining));
    }

    // Gives every keysym in `needed` a keycode, borrowing spare ones; false when there are not
    // enough spare keycodes for all of them at once.
    bool borrowFor(const QList<quint32>& needed) {
        QList<quint32> missing;
        for (quint32 sym : needed)
            if (!borrowedByKeysym.contains(sym) && !missing.contains(sym))
                missing.append(sym);
        if (missing.isEmpty())
            return true;
        if (missing.size() + countBorrowedIn(needed) > spareKeycodes.size())
            return false;
        for (quint32 sym : missing) {
            xcb_keycode_t keycode = 0;
            for (xcb_keycode_t k : spareKeycodes)
                if (!borrowed.contains(k)) {
                    keycode = k;
                    break;
                }
            if (!keycode) {
                // Take back the borrowed keycode used longest ago that this text does not need.
                qint64 oldest = std::numeric_limits<qint64>::max();
                for (auto it = borrowed.cbegin(); it != borrowed.cend(); ++it)
                    if (!needed.contains(it.value()) && lastUse.value(it.key()) < oldest) {
                        oldest = lastUse.value(it.key());
                        keycode = it.key();
                    }
                if (!keycode)
                    return false;
                waitUntilSettled(keycode);
                borrowedByKeysym.remove(borrowed.take(keycode));
            }
            setKeysym(keycode, sym);
            borrowed.insert(keycode, sym);
            borrowedByKeysym.insert(sym, keycode);
            lastUse.insert(keycode, clock.elapsed());
        }
        sync();
        waitUntilTargetSeesKeymap();
        return true;
    }

    int countBorrowedIn(const QList<quint32>& needed) const {
        int n = 0;
        for (quint32 sym : needed)
            n += borrowedByKeysym.contains(sym) ? 1 : 0;
        return n;
    }

    // False when the keysym has no key.
    bool typeKeysym(quint32 keysym) {
        const auto position = positionOf(keysym);
        if (!position)
            return false;
        const xcb_keycode_t shift = keycodeOf(XKB_KEY_Shift_L);
        if (position->shifted && shift)
            fake(XCB_KEY_PRESS, shift);
        fake(XCB_KEY_PRESS, position->keycode);
        fake(XCB_KEY_RELEASE, position->keycode);
        if (position->shifted && shift)
            fake(XCB_KEY_RELEASE, shift);
        if (borrowed.contains(position->keycode))
            lastUse.insert(position->keycode, clock.elapsed());
        return true;
    }

    // The keysym to type a code point with. Text asks for characters by their Unicode keysym, but
    // layouts name most letters outside Latin-1 by legacy keysyms (Cyrillic_ka, Greek_alpha,
    // EuroSign): the layout's own key under either name, else the Unicode keysym to borrow a
    // keycode for.
    quint32 keysymToType(char32_t codePoint) const {
        const quint32 unicode = keysymForCodePoint(codePoint);
        if (layoutPlace(unicode))
            return unicode;
        // xkbcommon prefers the non-keypad keysym, whose symbol does not depend on NumLock.
        if (const quint32 legacy = xkb_utf32_to_keysym(codePoint);
            legacy && legacy != unicode && layoutPlace(legacy))
            return legacy;
        return unicode;
    }

    // False when some character had no key to go on.
    bool typeText(QStringView text) {
        reloadLayout();
        QList<quint32> keysyms;
        for (char32_t cp : text.toUcs4())
            keysyms.append(keysymToType(cp));

        bool allTyped = true;
        const Plan plan = establishModifiers({});
        qsizetype start = 0;
        while (start < keysyms.size()) {
            // The longest run whose keysyms outside the layout fit on the spare keycodes.
            QList<quint32> needed;
            qsizetype end = start;
            for (; end < keysyms.size(); ++end) {
                const quint32 sym = keysyms[end];
                if (layoutPlace(sym) || needed.contains(sym))
                    continue;
                if (needed.size() + 1 > spareKeycodes.size())
                    break;
                needed.append(sym);
            }
            if (end == start || !borrowFor(needed)) { // no spare keycodes for this one
                allTyped = false;
                ++start;
                continue;
            }
            for (qsizetype i = start; i < end; ++i)
                allTyped = typeKeysym(keysyms[i]) && allTyped;
            start = end;
        }
        undo(plan);
        sync();
        if (!borrowed.isEmpty())
            restoreTimer.start(restoreAfterIdleMilliseconds);
        return allTyped;
    }

    void press(xcb_keycode_t keycode, KeyModifiers modifiers) {
        std::vector<quint32> wanted;
        if (modifiers.testFlag(KeyModifier::primary))
            wanted.push_back(XKB_KEY_Control_L);
        if (modifiers.testFlag(KeyModifier::alternate))
            wanted.push_back(XKB_KEY_Alt_L);
        if (modifiers.testFlag(KeyModifier::system))
            wanted.push_back(XKB_KEY_Super_L);
        if (modifiers.testFlag(KeyModifier::shift))
            wanted.push_back(XKB_KEY_Shift_L);
        const Plan plan = establishModifiers(wanted);
        fake(XCB_KEY_PRESS, keycode);
        sync();
        fake(XCB_KEY_RELEASE, keycode);
        undo(plan);
        sync();
    }

    void restore() {
        if (borrowed.isEmpty())
            return;
        for (auto it = borrowed.cbegin(); it != borrowed.cend(); ++it) {
            waitUntilSettled(it.key());
            setKeysym(it.key(), 0);
        }
        borrowed.clear();
        borrowedByKeysym.clear();
        sync();
        layoutStale = true;
    }
};

XTestKeyboard::XTestKeyboard(std::unique_ptr<Impl> impl)
    : d(std::move(impl)) {}

XTestKeyboard::~XTestKeyboard() = default;

std::unique_ptr<XTestKeyboard> XTestKeyboard::create() {
    auto impl = std::make_unique<Impl>();
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection)
            xcb_disconnect(connection);
        return nullptr;
    }
    impl->connection = connection;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection, &xcb_test_id);
    if (!xtest || !xtest->present)
        return nullptr;
    impl->root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    if (xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &impl->ewmh))
        impl->ewmhReady = xcb_ewmh_init_atoms_replies(&impl->ewmh, cookies, nullptr);
    impl->clock.start();
    impl->restoreTimer.setSingleShot(true);
    Impl* raw = impl.get();
    QObject::connect(&impl->restoreTimer, &QTimer::timeout, [raw] { raw->restore(); });
    impl->reloadLayout();
    return std::unique_ptr<XTestKeyboard>(new XTestKeyboard(std::move(impl)));
}

bool XTestKeyboard::isAvailable() {
    return !xcb_connection_has_error(d->connection);
}

KeyResult XTestKeyboard::press(Key key, KeyModifiers modifiers) {
    if (!isAvailable())
        return KeyResult::keyboardUnavailable;
    const xcb_keycode_t keycode = d->keycodeFor(key);
    if (!keycode)
        return KeyResult::keyUnavailable;
    d->press(keycode, modifiers);
    return KeyResult::posted;
}

KeyResult XTestKeyboard::type(QStringView text) {
    if (!isAvailable())
        return KeyResult::keyboardUnavailable;
    if (text.isEmpty())
        return KeyResult::posted;
    return d->typeText(text) ? KeyResult::posted : KeyResult::keyUnavailable;
}

void XTestKeyboard::restoreKeyboardMapping() {
    d->restoreTimer.stop();
    d->restore();
}

int XTestKeyboard::borrowedKeycodeCount() const {
    return int(d->borrowed.size());
}

XTestKeyboard::KeymapWaits XTestKeyboard::keymapWaits() const {
    return d->keymapWaits;
}

} // namespace brevlin
