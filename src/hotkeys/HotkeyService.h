#pragma once

#include <QtGlobal>

#include <functional>

namespace brevlin {

struct EventHotKeyID {
    quint32 signature = 0;
    quint32 id = 0;
};

// A system-wide hotkey service shaped after the Carbon one: registrations by key code and
// modifier mask, presses delivered with the registration's identifier.
class HotkeyService {
public:
    virtual ~HotkeyService() = default;

    using HotKeyRef = quint64; // 0 is no reference
    using PressHandler = std::function<void(EventHotKeyID)>;

    // Installed once; it may be called from the platform's event dispatch.
    virtual void installHandler(PressHandler handler) = 0;
    // Status 0 and a non-zero reference on success.
    virtual int registerHotKey(quint32 keyCode, quint32 modifierMask, EventHotKeyID id,
                               HotKeyRef* ref) = 0;
    virtual void unregisterHotKey(HotKeyRef ref) = 0;
};

} // namespace brevlin
