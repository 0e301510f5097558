#pragma once

#include "model/KeyModifier.h"

#include <QStringView>

namespace brevlin {

// The keys a launch presses.
enum class Key {
    a,
    k,
    deleteBackward,
    downArrow,
    returnKey,
};

enum class KeyResult {
    // Every key went: each one down, then up.
    posted,
    // Nothing can be sent at all (no connection to the input system); nothing went.
    keyboardUnavailable,
    // This key or character has no way onto the keyboard; it did not go.
    keyUnavailable,
};

// Synthetic keys into the application that has the keyboard focus, posted in calling order. A
// backend needs no notion of a target: the launcher brings the target to the front and checks that
// it still is before every call.
class Keyboard {
public:
    virtual ~Keyboard() = default;

    // Whether keys can be sent at all right now. False exactly when press and type would return
    // keyboardUnavailable.
    virtual bool isAvailable() = 0;

    // Presses `key` and releases it, with exactly `modifiers` down around it: modifiers the user
    // holds that are not asked for are let go for the key and held again afterwards, lock keys
    // (Caps Lock, Num Lock) are left as they are. The key is the one the current layout prints
    // the letter or function on, or where the layout lacks it, the key at its place on a US
    // keyboard, so shortcuts work on any layout. Returns keyUnavailable, sending nothing, when
    // the keyboard has neither.
    virtual KeyResult press(Key key, KeyModifiers modifiers) = 0;

    // Enters `text` exactly as written, whatever the layout and whatever modifiers the user holds,
    // characters outside the layout included; an empty text sends nothing. It adds no pause
    // between characters beyond what the platform needs to enter them: the launcher calls it once
    // per user-perceived character and paces the calls itself. Returns keyUnavailable when some
    // character could not be entered (the others are).
    virtual KeyResult type(QStringView text) = 0;
};

} // namespace brevlin
