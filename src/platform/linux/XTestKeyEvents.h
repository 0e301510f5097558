#pragma once

#include "KeyPositions.h"
#include "launch/KeyEvents.h"

#include <memory>
#include <optional>

namespace brevlin {

// The keysym that types one Unicode code point.
quint32 keysymForCodePoint(char32_t codePoint);

// Synthetic keys through the XTEST extension on a connection of its own. X11 delivers synthetic
// input to whichever window has focus, so posting to a process posts globally: the caller makes
// the target frontmost first.
//
// Modifier flags follow Qt's convention (Command→Control, Option→Alt, Control→Super,
// Shift→Shift), and the target sees exactly the flags of the event: modifiers the user still
// holds are released around the key and pressed again afterwards. Unicode strings type each code
// point on its own key: the layout's key and level when it has one, otherwise a spare keycode that
// gets the keysym for a while and is cleared again when typing has been idle for a moment.
//
// A key code (Command-K, Down…) goes on the key that gives its US keysym in the current layout,
// else, when the layout has no such key (a Cyrillic layout has no K), on the key at its US
// position, which toolkits match shortcuts by through their Latin fallback. A key code with
// neither gets no event: the source returns null, so the caller knows it cannot be posted.
class XTestKeyEvents : public KeyEventApi {
public:
    // Null when the display cannot be opened or lacks XTEST.
    static std::unique_ptr<XTestKeyEvents> create();
    ~XTestKeyEvents() override;

    std::unique_ptr<KeyEventSource> createEventSource(int stateId) override;
    void postToProcess(qint64 processIdentifier, KeyEvent& event) override;
    void post(KeyEvent& event) override;

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
    explicit XTestKeyEvents(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

} // namespace brevlin
