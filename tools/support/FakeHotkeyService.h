#pragma once

#include "hotkeys/HotkeyService.h"

#include <QList>

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
        if (refuseTaken && liveFor(hotkey))
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
        const Live* found = liveFor(hotkey);
        if (found)
            press(found->id);
        return found;
    }
    bool hasHandler() const { return bool(m_handler); }

    // Refuse keys that are live already, as a desktop does.
    bool refuseTaken = false;
    int attempts = 0;
    QList<Live> live;
    QList<HotkeyId> unregistered;

private:
    // The live registration of the same key and modifiers, in whatever order they are listed.
    const Live* liveFor(const Hotkey& hotkey) const {
        for (const Live& r : live)
            if (r.hotkey.position() == hotkey.position() &&
                r.hotkey.modifierSet() == hotkey.modifierSet())
                return &r;
        return nullptr;
    }
    void removeLive(HotkeyId id) {
        live.removeIf([id](const Live& r) { return r.id == id; });
    }
    PressHandler m_handler;
};

} // namespace brevlin::testing
