#include "X11Keymap.h"

#include "XcbReply.h"

#include <algorithm>

namespace brevlin {

X11Keymap::X11Keymap(xcb_connection_t* connection)
    : m_connection(connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    m_minKeycode = setup->min_keycode;
    m_maxKeycode = setup->max_keycode;
    reload();
}

X11Keymap::~X11Keymap() {
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
}

void X11Keymap::reload() {
    if (m_symbols)
        xcb_key_symbols_free(m_symbols);
    m_symbols = xcb_key_symbols_alloc(m_connection);
    m_places.clear();

    // xcb-keysyms keeps the mapping's width to itself; one keycode's row tells it.
    const auto width = xcbOwn(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, m_minKeycode, 1), nullptr));
    m_keysymsPerKeycode = width ? std::max<int>(1, width->keysyms_per_keycode) : 1;

    for (auto& keycodes : m_modifiers)
        keycodes.clear();
    const auto modifiers = xcbOwn(xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!modifiers)
        return;
    const int per = modifiers->keycodes_per_modifier;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int m = 0; m < 8; ++m)
        for (int i = 0; i < per; ++i)
            if (const xcb_keycode_t k = codes[m * per + i])
                m_modifiers[std::size_t(m)].push_back(k);
}

QList<X11Keymap::Place> X11Keymap::placesOf(xcb_keysym_t keysym) const {
    if (const auto known = m_places.constFind(keysym); known != m_places.constEnd())
        return *known;
    QList<Place> unshifted;
    QList<Place> shifted;
    for (const xcb_keycode_t keycode : keycodesGiving(keysym)) {
        // Columns 0 and 1 are the first group without and with Shift.
        if (xcb_key_symbols_get_keysym(m_symbols, keycode, 0) == keysym)
            unshifted.append({keycode, false});
        else if (xcb_key_symbols_get_keysym(m_symbols, keycode, 1) == keysym)
            shifted.append({keycode, true});
    }
    const auto byKeycode = [](const Place& a, const Place& b) { return a.keycode < b.keycode; };
    std::sort(unshifted.begin(), unshifted.end(), byKeycode);
    std::sort(shifted.begin(), shifted.end(), byKeycode);
    return *m_places.insert(keysym, unshifted + shifted);
}

xcb_keysym_t X11Keymap::keysymAt(xcb_keycode_t keycode, int column) const {
    return xcb_key_symbols_get_keysym(m_symbols, keycode, column);
}

QList<xcb_keycode_t> X11Keymap::keycodesGiving(xcb_keysym_t keysym) const {
    QList<xcb_keycode_t> result;
    const auto keycodes = xcbOwn(xcb_key_symbols_get_keycode(m_symbols, keysym));
    if (!keycodes)
        return result;
    // Listed once per column it appears in, ended by XCB_NO_SYMBOL.
    for (const xcb_keycode_t* k = keycodes.get(); *k != XCB_NO_SYMBOL; ++k)
        if (!result.contains(*k))
            result.append(*k);
    return result;
}

QList<xcb_keycode_t> X11Keymap::unassignedKeycodes() const {
    QList<xcb_keycode_t> result;
    for (int keycode = m_minKeycode; keycode <= m_maxKeycode; ++keycode) {
        const auto k = xcb_keycode_t(keycode);
        bool empty = modifierIndexOfKeycode(k) < 0;
        for (int column = 0; empty && column < m_keysymsPerKeycode; ++column)
            empty = xcb_key_symbols_get_keysym(m_symbols, k, column) == XCB_NO_SYMBOL;
        if (empty)
            result.append(k);
    }
    return result;
}

int X11Keymap::modifierIndexOfKeycode(xcb_keycode_t keycode) const {
    for (int m = 0; m < 8; ++m) {
        const auto& keycodes = m_modifiers[std::size_t(m)];
        if (std::find(keycodes.begin(), keycodes.end(), keycode) != keycodes.end())
            return m;
    }
    return -1;
}

int X11Keymap::modifierIndexOf(xcb_keysym_t keysym) const {
    for (int m = 0; m < 8; ++m)
        for (const xcb_keycode_t k : m_modifiers[std::size_t(m)])
            if (xcb_key_symbols_get_keysym(m_symbols, k, 0) == keysym)
                return m;
    return -1;
}

} // namespace brevlin
