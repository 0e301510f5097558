#pragma once

#include <QHash>
#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <array>
#include <vector>

namespace brevlin {

// The server's core keymap as xcb-keysyms reads it, with the modifier map beside it: which keys
// give a keysym, which keycodes are free, which modifier a key sits on. Read on construction and
// again on reload(), which a client calls when a MappingNotify (or any XKB map change) says the
// keymap changed.
//
// Key positions by XKB key name are not here: the core keymap has no key names, so those come
// from xkbcommon (KeyPositions.h).
class X11Keymap {
public:
    explicit X11Keymap(xcb_connection_t* connection);
    ~X11Keymap();
    X11Keymap(const X11Keymap&) = delete;
    X11Keymap& operator=(const X11Keymap&) = delete;

    void reload();

    struct Place {
        xcb_keycode_t keycode = 0;
        bool shifted = false;
        friend bool operator==(const Place&, const Place&) = default;
    };
    // The keys that give `keysym` in the first group, without Shift first, then with it; lower
    // keycodes first within each.
    QList<Place> placesOf(xcb_keysym_t keysym) const;
    // The keysym a keycode gives in a column of the core mapping (0 and 1: first group without
    // and with Shift), or 0.
    xcb_keysym_t keysymAt(xcb_keycode_t keycode, int column) const;
    // The keycodes that give `keysym` at any level of any group.
    QList<xcb_keycode_t> keycodesGiving(xcb_keysym_t keysym) const;
    // Keycodes without any keysym and on no modifier, free to be given a keysym for a while.
    QList<xcb_keycode_t> unassignedKeycodes() const;
    // The width of the core mapping: a row written back with xcb_change_keyboard_mapping has this
    // many keysyms (at least 1).
    int keysymsPerKeycode() const { return m_keysymsPerKeycode; }

    // The keycodes on each of the eight core modifiers (Shift, Lock, Control, Mod1 … Mod5).
    const std::array<std::vector<xcb_keycode_t>, 8>& modifierKeycodes() const {
        return m_modifiers;
    }
    // The modifier a keycode is on, or -1.
    int modifierIndexOfKeycode(xcb_keycode_t keycode) const;
    // The modifier a key giving `keysym` without Shift is on (Num_Lock, Alt_L …), or -1.
    int modifierIndexOf(xcb_keysym_t keysym) const;

private:
    xcb_connection_t* m_connection;
    xcb_key_symbols_t* m_symbols = nullptr;
    xcb_keycode_t m_minKeycode = 8;
    xcb_keycode_t m_maxKeycode = 255;
    int m_keysymsPerKeycode = 1;
    std::array<std::vector<xcb_keycode_t>, 8> m_modifiers;
    // xcb-keysyms finds a keysym by reading every column of every keycode; typing asks for the
    // same few keysyms again and again, so answers are kept until the next reload.
    mutable QHash<xcb_keysym_t, QList<Place>> m_places;
};

} // namespace brevlin
