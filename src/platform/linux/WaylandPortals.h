#pragma once

#include "hotkeys/HotkeyService.h"
#include "launch/Keyboard.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace brevlin {

class X11Keymap;

// The freedesktop portals' request pattern: a method answers with a Request object, whose
// Response signal later carries the outcome (0 granted, 1 cancelled by the user, 2 failed).
// The signal is subscribed before the call, on the path the portal will use, so it cannot be
// missed.
void callPortal(const QString& interface, const QString& method, QVariantList arguments,
                std::function<void(uint response, const QVariantMap& results)> done);

// The interface's "version" property on the portal, or 0 when the desktop has no such portal.
// One round trip; for start-up, not for a launch.
uint portalVersion(const QString& interface);

// Keys through the RemoteDesktop portal: a session with the keyboard device, asked for once by
// start() (asynchronously: isAvailable() turns true when the portal has granted it). The
// portal's restore token is kept in `tokenFile` where the portal offers one, so the desktop asks
// the user only once.
//
// Keys go as evdev keycodes, so the modifiers and the level of each character are ours to choose.
// Where the layout is readable (XWayland mirrors the compositor's keymap), a character goes on the
// key and level that print it, and a shortcut's letter on the key its layout prints it on, else on
// its US position. A character the layout lacks is refused with keyUnavailable, never sent: the
// portal drops keysyms outside the layout without a word.
//
// Modifiers still down are let go of before a key or text goes, so Ctrl+K is not Ctrl+Alt+K and
// typed text arrives plain: those held through this session (pressed again afterwards), and those
// of a hotkey just pressed (the user's hand may still be on them). No Wayland client can read the
// keyboard's state, and releasing every modifier key before every key slows the keys down enough
// to upset a launch's pacing, so the hotkey service says which ones are down.
class PortalKeyboard : public QObject, public Keyboard {
    Q_OBJECT
public:
    explicit PortalKeyboard(QString tokenFile, QObject* parent = nullptr);
    ~PortalKeyboard() override;

    // Asks the portal for the session; the desktop may ask the user first.
    void start();

    bool isAvailable() override;
    KeyResult press(Key key, KeyModifiers modifiers) override;
    KeyResult type(QStringView text) override;

    // One key by its evdev keycode, for what press() cannot express; queued like the others.
    void sendKeycode(int evdevKeycode, bool down);

    // The user holds these now (a hotkey's): the next key or text lets go of them first.
    void noteHeldModifiers(KeyModifiers modifiers);

    // Why the portal session is not there (empty while it starts or once it runs).
    QString failure() const { return m_failure; }

Q_SIGNALS:
    // The session was granted or refused; see isAvailable() and failure().
    void sessionChanged();

private:
    int keycodeFor(quint32 keysym, int usPosition, bool* shifted);
    void send(const QString& method, int key, bool down);
    void sendNext();
    void reloadKeymapIfStale();
    QList<int> releaseModifiers();
    void pressAgain(const QList<int>& keycodes);

    QString m_tokenFile;
    QString m_session;
    QString m_failure;
    bool m_started = false;
    // The portal handles each call on a thread of its own, so calls sent back to back may reach
    // the compositor in another order (a release before its press leaves a key repeating). Each
    // key goes once the portal has answered the one before; the queue never holds the caller.
    QList<QDBusMessage> m_queue;
    bool m_inFlight = false;
    // Keys sent down through the session and not yet up.
    QSet<int> m_down;
    QSet<int> m_userHeld;
    struct KeymapSource;
    std::unique_ptr<KeymapSource> m_keymap;
};

// System-wide hotkeys through the GlobalShortcuts portal. The desktop lists them under Brevlin's
// name in its own shortcut settings, where the user can rebind them. Registrations are gathered
// and sent together once control returns to the event loop: KDE before 6.1 registers only the
// shortcuts a session is created with, so every change makes a new session carrying all of them,
// and binds them as well for desktops that take them that way.
class PortalHotkeyService : public QObject, public HotkeyService {
    Q_OBJECT
public:
    explicit PortalHotkeyService(QObject* parent = nullptr);
    ~PortalHotkeyService() override;

    // Whether the desktop has the portal at all (GNOME before 48 has not).
    static bool isSupported();

    void setPressHandler(PressHandler handler) override;
    // `unavailable` without the portal; else `registered` once the request is on its way: the
    // portal answers later, and a refusal (of the session, or a hotkey it gave no keys) is
    // reported through failure() and bindingChanged, naming the hotkeys.
    RegisterResult registerHotkey(HotkeyId id, const Hotkey& hotkey) override;
    void unregisterHotkey(HotkeyId id) override;

    // The portal's trigger for a hotkey: "CTRL+ALT+1".
    static QString trigger(const Hotkey& hotkey);

    bool isBound() const { return m_bound; }
    // Told of each hotkey's modifiers when it fires, so its keys let go of them.
    void setKeyboard(PortalKeyboard* keyboard) { m_keyboard = keyboard; }
    QString failure() const { return m_failure; }

Q_SIGNALS:
    void bindingChanged();

private Q_SLOTS:
    void activated(const QDBusMessage& message);

private:
    void scheduleBind();
    void bind();
    void closeSession();
    QString unboundHotkeys(const QVariantMap& results) const;

    PressHandler m_handler;
    PortalKeyboard* m_keyboard = nullptr;
    QHash<HotkeyId, Hotkey> m_hotkeys;
    QString m_session;
    bool m_supported = false;
    bool m_bindPending = false;
    bool m_closing = false;
    bool m_bound = false;
    quint64 m_generation = 0;
    QString m_failure;
};

} // namespace brevlin
