#pragma once

#include "hotkeys/HotkeyService.h"

#include <QList>

#include <algorithm>

namespace brevlin::testing {

// A hotkey service that grants registrations unless told to refuse, and lets the test press.
class FakeHotkeyService : public HotkeyService {
public:
    struct Live {
        HotkeyId id;
        Hotkey hotkey;
    };

    void setPressHandler(PressHandler handler) override { m_handler = std::move(handler); }
    RegisterResult registerHotkey(HotkeyId id, const Hotkey& hotkey) override {
        ++attempts;
        if (!hotkey.position())
            return RegisterResult::unsupportedKey;
        if (refuseTaken && isTaken(hotkey))
            return RegisterResult::taken;
        removeLive(id);
        live.append({id, hotkey});
        return RegisterResult::registered;
    }
    void unregisterHotkey(HotkeyId id) override {
        unregistered.append(id);
        removeLive(id);
    }

    // Delivers a press as the platform would, from its own event dispatch.
    void press(HotkeyId id) {
        if (m_handler)
            m_handler(id);
    }
    // Presses the live registration that this hotkey's keys set off; false when there is none.
    bool press(const Hotkey& hotkey) {
        for (const Live& r : live) {
            if (sameKeys(r.hotkey, hotkey)) {
                press(r.id);
                return true;
            }
        }
        return false;
    }
    bool hasHandler() const { return bool(m_handler); }

    // Refuse keys that are live already, as a desktop does.
    bool refuseTaken = false;
    int attempts = 0;
    QList<Live> live;
    QList<HotkeyId> unregistered;

private:
    // The same key with the same modifiers, in whatever order they are listed.
    static bool sameKeys(const Hotkey& a, const Hotkey& b) {
        return a.position() == b.position() && a.modifierSet() == b.modifierSet();
    }
    void removeLive(HotkeyId id) {
        live.removeIf([id](const Live& r) { return r.id == id; });
    }
    bool isTaken(const Hotkey& hotkey) const {
        return std::any_of(live.begin(), live.end(),
                           [&](const Live& r) { return sameKeys(r.hotkey, hotkey); });
    }
    PressHandler m_handler;
};

} // namespace brevlin::testing
