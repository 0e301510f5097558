#pragma once

#include "launch/Keyboard.h"

#include <QtGlobal>

#include <memory>

namespace brevlin {

// The keysym that types one Unicode code point.
quint32 keysymForCodePoint(char32_t codePoint);

// Synthetic keys through the XTEST extension on a connection of its own. X11 delivers synthetic
// input to whichever window has the focus.
//
// Modifiers go on their usual keys: primary on Ctrl, alternate on Alt, system on Super, shift on
// Shift. The target sees exactly the modifiers asked for: modifiers the user still holds are
// released around the key and pressed again afterwards; Caps Lock and Num Lock are left alone.
// Typed text goes one code point at a time on the key that types it: the layout's key and level
// when it has one, otherwise a spare keycode that gets the keysym for a while and is cleared again
// when typing has been idle for a moment.
//
// A pressed key goes on the key that gives its US keysym in the current layout, else, when the
// layout has no such key (a Cyrillic layout has no K), on the key at its US position, which
// toolkits match shortcuts by through their Latin fallback. Never on a borrowed keycode: it has no
// place on the keyboard, and targets that match shortcuts by physical key (Chromium) ignore it.
class XTestKeyboard : public Keyboard {
public:
    // Null when the display cannot be opened or lacks XTEST.
    static std::unique_ptr<XTestKeyboard> create();
    ~XTestKeyboard() override;

    bool isAvailable() override;
    KeyResult press(Key key, KeyModifiers modifiers) override;
    KeyResult type(QStringView text) override;

    // Clears the spare keycodes now (also done by itself after idle typing and at destruction).
    void restoreKeyboardMapping();
    // How many keycodes carry a keysym of ours right now.
    int borrowedKeycodeCount() const;

    // After each change to the keymap, typing waits until the focused client has answered a
    // ping (it has then read the change), or pauses when no client there answers pings.
    struct KeymapWaits {
        int answered = 0;
        int paused = 0;
    };
    KeymapWaits keymapWaits() const;

    struct Impl;

private:
    explicit XTestKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

} // namespace brevlin
