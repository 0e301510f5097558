#pragma once

#include "hotkeys/HotkeyService.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

namespace brevlin {

// System-wide hotkeys as passive key grabs on the root window, made on Qt's own X connection so
// that presses arrive through Qt's event dispatch (a native event filter).
//
// A registration grabs every keycode that carries the key's keysym, under the requested modifiers
// combined with every state of Caps Lock and Num Lock, so lock keys never disable a hotkey. If any
// of those grabs is refused (another client holds it), the whole registration fails and its other
// grabs are released. Auto-repeat of a held hotkey fires nothing; a keymap change re-grabs.
class X11HotkeyService : public HotkeyService, public QAbstractNativeEventFilter {
public:
    // The status a refused registration returns (Carbon's eventHotKeyExistsErr).
    static constexpr int hotKeyExistsStatus = -9878;
    // The status for a key code without a key on this keyboard (Carbon's paramErr).
    static constexpr int invalidKeyStatus = -50;

    // Null without a QGuiApplication on the xcb platform.
    static std::unique_ptr<X11HotkeyService> create();
    ~X11HotkeyService() override;

    void installHandler(PressHandler handler) override;
    int registerHotKey(quint32 keyCode, quint32 modifierMask, EventHotKeyID id,
                       HotKeyRef* ref) override;
    void unregisterHotKey(HotKeyRef ref) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The grabs a registration holds right now (keycode × lock combinations).
    int grabCount(HotKeyRef ref) const;

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;
    };
    struct Registration {
        quint32 keyCode = 0;
        quint32 carbonModifiers = 0;
        EventHotKeyID id;
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

    void* m_connection; // xcb_connection_t, Qt's
    quint32 m_root;
    PressHandler m_handler;
    QHash<HotKeyRef, Registration> m_registrations;
    HotKeyRef m_nextRef = 1;
    quint16 m_numLockMask = 0;
    quint16 m_altMask = 0;
    quint16 m_superMask = 0;
    bool m_regrabPending = false;
    // Owns the deferred re-grab, so it is dropped with the service.
    QObject m_deferred;
};

} // namespace brevlin
