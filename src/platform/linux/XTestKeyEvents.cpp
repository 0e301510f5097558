#include "XTestKeyEvents.h"

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
#include <cstdlib>
#include <limits>
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

// Modifier indices of the core protocol.
constexpr int shiftIndex = 0;
constexpr int lockIndex = 1;
constexpr int controlIndex = 2;

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

class XKeyEvent : public KeyEvent {
public:
    XKeyEvent(quint16 keyCode, bool down)
        : m_keyCode(keyCode)
        , m_down(down) {}
    quint16 keyCode() const override { return m_keyCode; }
    bool isKeyDown() const override { return m_down; }
    void setFlags(quint64 flags) override { m_flags = flags; }
    void setUnicodeString(const std::u16string& units) override { m_units = units; }

    quint64 flags() const { return m_flags; }
    const std::u16string& units() const { return m_units; }

private:
    quint16 m_keyCode;
    bool m_down;
    quint64 m_flags = 0;
    std::u16string m_units;
};

struct KeyPosition {
    xcb_keycode_t keycode = 0;
    bool shifted = false;
};

} // namespace

struct XTestKeyEvents::Impl {
    xcb_connection_t* connection = nullptr;
    // The keymap is read through XKB on a connection of its own: a connection that has turned
    // XKB on no longer gets the core MappingNotify that tells `connection` the layout changed.
    xcb_connection_t* keymapConnection = nullptr;
    xcb_keycode_t minKeycode = 8;
    xcb_keycode_t maxKeycode = 255;
    int keysymsPerKeycode = 0;
    bool layoutStale = true;

    // The layout's own keys, without the keycodes we borrowed.
    QHash<quint32, KeyPosition> layout;
    // The keycodes at the US keyboard's positions, by Macintosh key code.
    QHash<quint16, quint8> positions;
    QList<xcb_keycode_t> spareKeycodes;
    // Borrowed keycodes: what they carry and when a key was last typed on them.
    QHash<xcb_keycode_t, quint32> borrowed;
    QHash<quint32, xcb_keycode_t> borrowedByKeysym;
    QHash<xcb_keycode_t, qint64> lastUse;
    QElapsedTimer clock;
    QTimer restoreTimer;

    xcb_window_t root = XCB_NONE;
    // For its atoms and its ping; it has no connection of its own.
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    quint32 pingSerial = 0;
    XTestKeyEvents::KeymapWaits keymapWaits;

    // Modifier keycodes by modifier index; the index NumLock sits on.
    std::vector<std::vector<xcb_keycode_t>> modifierKeycodes;
    int numLockIndex = -1;

    // What a key-down changed about the held modifiers, undone by its key-up.
    struct Plan {
        std::vector<xcb_keycode_t> pressed;
        std::vector<xcb_keycode_t> released;
    };
    QHash<quint16, Plan> openPlans;

    ~Impl() {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection) {
            restore();
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
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            handleEvent(event);
            std::free(event);
        }
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
        auto* focus =
            xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr);
        if (!focus)
            return XCB_NONE;
        xcb_window_t window = focus->focus;
        std::free(focus);
        for (int depth = 0; depth < 8 && window != XCB_NONE && window != root &&
                            window != XCB_INPUT_FOCUS_POINTER_ROOT;
             ++depth) {
            if (answersPings(window))
                return window;
            auto* tree =
                xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
            if (!tree)
                return XCB_NONE;
            window = tree->parent;
            std::free(tree);
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
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                answered = answered || handleEvent(event, pingSerial);
                std::free(event);
            }
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
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }

    void reloadLayout() {
        drainEvents();
        if (!layoutStale)
            return;
        layoutStale = false;
        layout.clear();
        spareKeycodes.clear();
        if (!keymapConnection)
            keymapConnection = xcb_connect(nullptr, nullptr);
        positions = readKeyPositions(keymapConnection);

        auto* modifiers = xcb_get_modifier_mapping_reply(
            connection, xcb_get_modifier_mapping(connection), nullptr);
        QSet<xcb_keycode_t> modifierSet;
        modifierKeycodes.assign(8, {});
        if (modifiers) {
            const int per = modifiers->keycodes_per_modifier;
            const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers);
            for (int m = 0; m < 8; ++m)
                for (int i = 0; i < per; ++i)
                    if (const xcb_keycode_t k = codes[m * per + i]) {
                        modifierKeycodes[m].push_back(k);
                        modifierSet.insert(k);
                    }
            std::free(modifiers);
        }

        const int count = maxKeycode - minKeycode + 1;
        auto* mapping = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, minKeycode, count), nullptr);
        if (!mapping)
            return;
        keysymsPerKeycode = mapping->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        numLockIndex = -1;
        for (int i = 0; i < count; ++i) {
            const auto keycode = xcb_keycode_t(minKeycode + i);
            const xcb_keysym_t* row = syms + i * keysymsPerKeycode;
            if (const auto it = borrowed.constFind(keycode); it != borrowed.constEnd()) {
                if (row[0] == *it) {
                    spareKeycodes.append(keycode);
                    continue;
                }
                // Someone else remapped it (a layout switch loads a whole new keymap): it is no
                // longer ours to type on or to clear.
                borrowedByKeysym.remove(*it);
                lastUse.remove(keycode);
                borrowed.erase(it);
            }
            bool empty = true;
            for (int c = 0; c < keysymsPerKeycode; ++c)
                empty = empty && row[c] == 0;
            if (empty) {
                if (!modifierSet.contains(keycode))
                    spareKeycodes.append(keycode);
                continue;
            }
            // Only the first group's two levels: plain and Shift.
            for (int level = 0; level < std::min(2, keysymsPerKeycode); ++level) {
                const xcb_keysym_t sym = row[level];
                if (sym == 0)
                    continue;
                addToLayout(sym, {keycode, level == 1});
                // Text asks for characters by their Unicode keysym, but layouts name most
                // letters outside Latin-1 by legacy keysyms (Cyrillic_ka, Greek_alpha,
                // EuroSign): without this, a Russian layout's own letters would be typed on
                // borrowed keycodes. Keypad keys are left out, as their symbol depends on
                // NumLock.
                const bool keypad = sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9;
                if (const char32_t cp = xkb_keysym_to_utf32(sym); cp && !keypad)
                    addToLayout(keysymForCodePoint(cp), {keycode, level == 1});
            }
            if (row[0] == XKB_KEY_Num_Lock)
                for (int m = 0; m < 8; ++m)
                    if (std::find(modifierKeycodes[m].begin(), modifierKeycodes[m].end(),
                                  keycode) != modifierKeycodes[m].end())
                        numLockIndex = m;
        }
        std::free(mapping);
    }

    // The first unshifted key for a keysym wins, else the first shifted one.
    void addToLayout(quint32 keysym, KeyPosition position) {
        const auto it = layout.constFind(keysym);
        if (it == layout.constEnd() || (it->shifted && !position.shifted))
            layout.insert(keysym, position);
    }

    std::optional<KeyPosition> positionOf(quint32 keysym) {
        if (const auto it = borrowedByKeysym.constFind(keysym); it != borrowedByKeysym.constEnd())
            return KeyPosition{*it, false};
        if (const auto it = layout.constFind(keysym); it != layout.constEnd())
            return *it;
        return std::nullopt;
    }

    xcb_keycode_t keycodeOf(quint32 keysym) {
        const auto position = positionOf(keysym);
        return position && !position->shifted ? position->keycode : 0;
    }

    // The key a Macintosh key code goes on: the layout's key for its keysym, else the key at
    // its position; 0 when there is neither.
    xcb_keycode_t keycodeForMacKey(quint16 macKeyCode) {
        const auto keysym = keysymForMacKeyCode(macKeyCode);
        if (!keysym)
            return 0;
        reloadLayout();
        // Never a borrowed keycode: it has no place on the keyboard, and targets that match
        // shortcuts by physical key (Chromium) would not recognise it.
        if (const auto it = layout.constFind(*keysym); it != layout.constEnd() && !it->shifted)
            return it->keycode;
        return positions.value(macKeyCode, 0);
    }

    int modifierIndexOf(xcb_keycode_t keycode) const {
        for (int m = 0; m < int(modifierKeycodes.size()); ++m)
            if (std::find(modifierKeycodes[m].begin(), modifierKeycodes[m].end(), keycode) !=
                modifierKeycodes[m].end())
                return m;
        return -1;
    }

    void fake(uint8_t type, xcb_keycode_t keycode) {
        xcb_test_fake_input(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    // Modifier keycodes that are down now, lock-like ones left out.
    std::vector<xcb_keycode_t> heldModifiers() {
        std::vector<xcb_keycode_t> held;
        auto* keymap = xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr);
        if (!keymap)
            return held;
        for (int m = 0; m < int(modifierKeycodes.size()); ++m) {
            if (m == lockIndex || m == numLockIndex)
                continue;
            for (xcb_keycode_t k : modifierKeycodes[m])
                if (keymap->keys[k / 8] & (1 << (k % 8)))
                    held.push_back(k);
        }
        std::free(keymap);
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
            wantedIndices.insert(modifierIndexOf(k));
        }
        QSet<int> satisfied;
        for (xcb_keycode_t k : heldModifiers()) {
            const int index = modifierIndexOf(k);
            if (wantedIndices.contains(index)) {
                satisfied.insert(index);
            } else {
                fake(XCB_KEY_RELEASE, k);
                plan.released.push_back(k);
            }
        }
        for (xcb_keycode_t k : wantedKeycodes) {
            if (satisfied.contains(modifierIndexOf(k)))
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
        std::vector<xcb_keysym_t> row(std::max(keysymsPerKeycode, 2), 0);
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

    void typeKeysym(quint32 keysym) {
        const auto position = positionOf(keysym);
        if (!position)
            return;
        const xcb_keycode_t shift = keycodeOf(XKB_KEY_Shift_L);
        if (position->shifted && shift)
            fake(XCB_KEY_PRESS, shift);
        fake(XCB_KEY_PRESS, position->keycode);
        fake(XCB_KEY_RELEASE, position->keycode);
        if (position->shifted && shift)
            fake(XCB_KEY_RELEASE, shift);
        if (borrowed.contains(position->keycode))
            lastUse.insert(position->keycode, clock.elapsed());
    }

    void typeText(const std::u16string& units) {
        const QString text = QString::fromStdU16String(units);
        QList<quint32> keysyms;
        for (char32_t cp : text.toUcs4())
            keysyms.append(keysymForCodePoint(cp));

        reloadLayout();
        const Plan plan = establishModifiers({});
        qsizetype start = 0;
        while (start < keysyms.size()) {
            // The longest run whose keysyms outside the layout fit on the spare keycodes.
            QList<quint32> needed;
            qsizetype end = start;
            for (; end < keysyms.size(); ++end) {
                const quint32 sym = keysyms[end];
                if (layout.contains(sym) || needed.contains(sym))
                    continue;
                if (needed.size() + 1 > spareKeycodes.size())
                    break;
                needed.append(sym);
            }
            if (end == start) { // nothing fits: no spare keycodes at all
                ++start;
                continue;
            }
            if (!borrowFor(needed)) {
                ++start;
                continue;
            }
            for (qsizetype i = start; i < end; ++i)
                typeKeysym(keysyms[i]);
            start = end;
        }
        undo(plan);
        sync();
        if (!borrowed.isEmpty())
            restoreTimer.start(restoreAfterIdleMilliseconds);
    }

    void postKey(const XKeyEvent& event) {
        const xcb_keycode_t keycode = keycodeForMacKey(event.keyCode());
        if (!keycode)
            return; // the source refused to create such an event
        if (event.isKeyDown()) {
            std::vector<quint32> wanted;
            const quint64 flags = event.flags();
            if (flags & commandFlag)
                wanted.push_back(XKB_KEY_Control_L);
            if (flags & optionFlag)
                wanted.push_back(XKB_KEY_Alt_L);
            if (flags & controlFlag)
                wanted.push_back(XKB_KEY_Super_L);
            if (flags & shiftFlag)
                wanted.push_back(XKB_KEY_Shift_L);
            Plan plan = establishModifiers(wanted);
            fake(XCB_KEY_PRESS, keycode);
            // A second down without an up keeps the first plan, which knows the user's state.
            if (!openPlans.contains(event.keyCode()))
                openPlans.insert(event.keyCode(), std::move(plan));
        } else {
            fake(XCB_KEY_RELEASE, keycode);
            undo(openPlans.take(event.keyCode()));
        }
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

namespace {

class XKeyEventSource : public KeyEventSource {
public:
    explicit XKeyEventSource(XTestKeyEvents::Impl& impl)
        : m_impl(impl) {}
    std::unique_ptr<KeyEvent> createKeyboardEvent(quint16 keyCode, bool keyDown) override {
        if (!m_impl.keycodeForMacKey(keyCode))
            return nullptr;
        return std::make_unique<XKeyEvent>(keyCode, keyDown);
    }

private:
    XTestKeyEvents::Impl& m_impl;
};

} // namespace

XTestKeyEvents::XTestKeyEvents(std::unique_ptr<Impl> impl)
    : d(std::move(impl)) {}

XTestKeyEvents::~XTestKeyEvents() = default;

std::unique_ptr<XTestKeyEvents> XTestKeyEvents::create() {
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
    const xcb_setup_t* setup = xcb_get_setup(connection);
    impl->minKeycode = setup->min_keycode;
    impl->maxKeycode = setup->max_keycode;
    impl->root = xcb_setup_roots_iterator(setup).data->root;
    if (xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &impl->ewmh))
        impl->ewmhReady = xcb_ewmh_init_atoms_replies(&impl->ewmh, cookies, nullptr);
    impl->clock.start();
    impl->restoreTimer.setSingleShot(true);
    Impl* raw = impl.get();
    QObject::connect(&impl->restoreTimer, &QTimer::timeout, [raw] { raw->restore(); });
    impl->reloadLayout();
    return std::unique_ptr<XTestKeyEvents>(new XTestKeyEvents(std::move(impl)));
}

std::unique_ptr<KeyEventSource> XTestKeyEvents::createEventSource(int stateId) {
    (void)stateId;
    if (xcb_connection_has_error(d->connection))
        return nullptr;
    return std::make_unique<XKeyEventSource>(*d);
}

void XTestKeyEvents::postToProcess(qint64 processIdentifier, KeyEvent& event) {
    // X11 has no per-process delivery: the focused window gets it.
    (void)processIdentifier;
    post(event);
}

void XTestKeyEvents::post(KeyEvent& event) {
    const auto* key = dynamic_cast<const XKeyEvent*>(&event);
    if (!key)
        return;
    if (!key->units().empty()) {
        // The down types the whole string; its up has nothing left to release.
        if (key->isKeyDown())
            d->typeText(key->units());
        return;
    }
    d->postKey(*key);
}

void XTestKeyEvents::restoreKeyboardMapping() {
    d->restoreTimer.stop();
    d->restore();
}

int XTestKeyEvents::borrowedKeycodeCount() const {
    return int(d->borrowed.size());
}

XTestKeyEvents::KeymapWaits XTestKeyEvents::keymapWaits() const {
    return d->keymapWaits;
}

} // namespace brevlin
