#pragma once

#include "hotkeys/HotkeyService.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <memory>

namespace brevlin {

// System-wide hotkeys as passive key grabs on the root window, made on Qt's own X connection so
// that presses arrive through Qt's event dispatch (a native event filter).
//
// A hotkey's key is a position, not a character: a registration grabs the keycode with that
// position's XKB key name in the current keymap, so Ctrl+Alt+1 is the same key on AZERTY, QWERTZ
// or a Cyrillic layout. It grabs the key under those modifiers
// combined with every state of Caps Lock and Num Lock, so lock keys never disable a hotkey. If
// any of those grabs is refused (another client holds it), the whole registration fails and its
// other grabs are released. Auto-repeat of a held hotkey fires nothing; a keymap or layout change
// re-grabs.
//
// A press gives back at once the keyboard grab it started, so that keys sent while the user
// still holds the chord reach the focused window.
class X11HotkeyService : public HotkeyService, public QAbstractNativeEventFilter {
public:
    // Null without a QGuiApplication on the xcb platform.
    static std::unique_ptr<X11HotkeyService> create();
    ~X11HotkeyService() override;

    void setPressHandler(PressHandler handler) override;
    RegisterResult registerHotkey(HotkeyId id, const Hotkey& hotkey) override;
    void unregisterHotkey(HotkeyId id) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The grabs a registration holds right now (lock combinations of its key).
    int grabCount(HotkeyId id) const;
    // The keycode a position has in the current keymap, or 0.
    quint8 keycodeAt(KeyPosition position) const;

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;
    };
    struct Registration {
        KeyPosition position = KeyPosition::digit1;
        KeyModifiers keyModifiers;
        HotkeyId id = 0;
        QList<Grab> grabs;
        quint16 modifiers = 0; // the X modifiers without lock bits
        bool held = false;
        quint32 lastReleaseTime = 0;
    };

    X11HotkeyService(void* connection, quint32 root);
    bool grab(Registration& registration);
    void ungrab(Registration& registration);
    void regrabAll();
    void readModifierMap();
    void pollReleases();

    static constexpr int releasePollMilliseconds = 30;

    void* m_connection; // xcb_connection_t, Qt's
    quint32 m_root;
    PressHandler m_handler;
    QHash<HotkeyId, Registration> m_registrations;
    quint16 m_numLockMask = 0;
    quint16 m_altMask = 0;
    quint16 m_superMask = 0;
    bool m_regrabPending = false;
    // Keycodes by KeyPosition, for the current keymap.
    std::array<quint8, keyPositionCount> m_positions{};
    // Runs only while a hotkey is held.
    QTimer m_releasePoll;
    // Owns the deferred re-grab, so it is dropped with the service.
    QObject m_deferred;
};

} // namespace brevlin
