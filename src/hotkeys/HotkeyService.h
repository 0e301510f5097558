#pragma once

#include "model/Hotkey.h"

#include <QtGlobal>

#include <functional>

namespace brevlin {

// The desktop's system-wide hotkeys: a stored hotkey registered under an identifier of the
// caller's choosing, and presses reported with that identifier.
class HotkeyService {
public:
    virtual ~HotkeyService() = default;

    using HotkeyId = quint32;
    using PressHandler = std::function<void(HotkeyId)>;

    enum class RegisterResult {
        registered,
        // The hotkey's key is not one a hotkey may use, or this keyboard has no such key.
        unsupportedKey,
        // Another program (or the desktop itself) holds the key with these modifiers.
        taken,
        // This desktop offers no system-wide hotkeys at all.
        unavailable,
    };

    // Replaces the handler presses go to (an empty one drops them). A backend guarantees:
    // - one call per press of a registered hotkey, with its identifier; holding the keys down
    //   (auto-repeat) is one press;
    // - the call comes on the main thread, from inside the platform's event dispatch (in the
    //   middle of whatever it is dispatching), so the handler does no more than hand the
    //   identifier on;
    // - once replaced, the old handler is never called again.
    virtual void setPressHandler(PressHandler handler) = 0;

    // Makes `hotkey` system-wide under `id`. A backend guarantees:
    // - the key is the key's position on a US keyboard, whatever the current layout prints on it,
    //   and keeps working when the layout changes;
    // - the modifiers are exactly those of the hotkey, each as this desktop names it (on Linux
    //   Command is Ctrl, Option Alt, Control Super): a press with more or fewer does not count,
    //   and a hotkey without modifiers is the bare key; lock keys (Caps Lock, Num Lock) never
    //   stop a hotkey;
    // - `registered` only when the hotkey works now; otherwise nothing of it stays registered
    //   and the answer says why. Where the desktop answers later (a portal), `registered` means
    //   asked for, and the backend reports a later refusal on its own failure path;
    // - an `id` that is registered already has its old registration replaced;
    // - keys the user presses while still holding the hotkey reach the focused window.
    virtual RegisterResult registerHotkey(HotkeyId id, const Hotkey& hotkey) = 0;

    // Releases the hotkey registered under `id`; an unknown id is ignored. After it returns the
    // hotkey no longer reports presses.
    virtual void unregisterHotkey(HotkeyId id) = 0;
};

} // namespace brevlin
