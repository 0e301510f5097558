#pragma once

#include "hotkeys/HotkeyService.h"

#include <QList>
#include <QSet>

#include <tuple>

namespace brevlin::testing {

// A hotkey service that grants registrations unless told to refuse, and lets the test press.
class FakeHotkeyService : public HotkeyService {
public:
    struct Registration {
        quint32 keyCode;
        quint32 modifierMask;
        EventHotKeyID id;
        HotKeyRef ref;
    };

    void installHandler(PressHandler handler) override {
        ++handlersInstalled;
        m_handler = std::move(handler);
    }
    int registerHotKey(quint32 keyCode, quint32 modifierMask, EventHotKeyID id,
                       HotKeyRef* ref) override {
        ++attempts;
        const bool taken = refuseTaken && isTaken(keyCode, modifierMask);
        if (refusedAttempts.contains(attempts) || taken)
            return -9878; // already registered elsewhere
        *ref = m_nextRef++;
        live.append({keyCode, modifierMask, id, *ref});
        return 0;
    }
    void unregisterHotKey(HotKeyRef ref) override {
        unregistered.append(ref);
        for (qsizetype i = 0; i < live.size(); ++i) {
            if (live[i].ref == ref) {
                live.removeAt(i);
                return;
            }
        }
    }

    // Delivers a press as the platform would, from its own event dispatch.
    void press(EventHotKeyID id) {
        if (m_handler)
            m_handler(id);
    }
    // Presses the live registration of this key and mask; false when there is none.
    bool press(quint32 keyCode, quint32 modifierMask) {
        for (const Registration& r : live) {
            if (r.keyCode == keyCode && r.modifierMask == modifierMask) {
                press(r.id);
                return true;
            }
        }
        return false;
    }

    // Attempt numbers (from 1, over the service's life) that fail.
    QSet<int> refusedAttempts;
    // Refuse a key and mask that is live already, as a system service does.
    bool refuseTaken = false;
    int attempts = 0;
    int handlersInstalled = 0;
    QList<Registration> live;
    QList<HotKeyRef> unregistered;

private:
    bool isTaken(quint32 keyCode, quint32 modifierMask) const {
        for (const Registration& r : live) {
            if (r.keyCode == keyCode && r.modifierMask == modifierMask)
                return true;
        }
        return false;
    }
    PressHandler m_handler;
    HotKeyRef m_nextRef = 100;
};

} // namespace brevlin::testing
