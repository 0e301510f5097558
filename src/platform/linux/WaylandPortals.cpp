#include "WaylandPortals.h"

#include "SessionBus.h"
#include "X11Keymap.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <linux/input-event-codes.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

namespace brevlin {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString globalShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString shortcutPrefix = QStringLiteral("brevlin-");

QDBusMessage sessionCloseCall(const QString& session) {
    return QDBusMessage::createMethodCall(portalService, session,
                                          QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Close"));
}

// Receives one Request's Response and hands it on, once.
class RequestWatcher : public QObject {
    Q_OBJECT
public:
    RequestWatcher(QString path, std::function<void(uint, const QVariantMap&)> done)
        : m_path(std::move(path))
        , m_done(std::move(done)) {}

    bool subscribe() {
        return QDBusConnection::sessionBus().connect(
            portalService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
    }

    void finish(uint code, const QVariantMap& results) {
        QDBusConnection::sessionBus().disconnect(
            portalService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"), this, SLOT(response(uint, QVariantMap)));
        auto done = std::move(m_done);
        deleteLater();
        if (done)
            done(code, results);
    }

public Q_SLOTS:
    void response(uint code, const QVariantMap& results) { finish(code, results); }

private:
    QString m_path;
    std::function<void(uint, const QVariantMap&)> m_done;
};

QString nextToken() {
    static quint64 counter = 0;
    return QStringLiteral("brevlin%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// One shortcut as the GlobalShortcuts portal takes it: (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

} // namespace brevlin

Q_DECLARE_METATYPE(brevlin::PortalShortcut)

namespace brevlin {

void callPortal(const QString& interface, const QString& method, QVariantList arguments,
                std::function<void(uint response, const QVariantMap& results)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = nextToken();
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    QVariantMap options = arguments.isEmpty() ? QVariantMap() : arguments.last().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    if (!arguments.isEmpty())
        arguments.last() = options;
    auto* watcher = new RequestWatcher(path, std::move(done));
    if (!watcher->subscribe()) {
        watcher->finish(2, {});
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(portalService, portalPath, interface, method);
    message.setArguments(arguments);
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(message), watcher);
    QObject::connect(
        call, &QDBusPendingCallWatcher::finished, watcher,
        [watcher](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (finished->isError())
                watcher->finish(2, {{QStringLiteral("error"), finished->error().message()}});
        });
}

uint portalVersion(const QString& interface) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    message.setArguments({interface, QStringLiteral("version")});
    const QDBusReply<QDBusVariant> reply = QDBusConnection::sessionBus().call(message);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

// ---- Keys

// XWayland's copy of the compositor's keymap, read again when older than a moment so that a
// layout switch is seen before the next launch types.
struct PortalKeyboard::KeymapSource {
    xcb_connection_t* connection = nullptr;
    std::unique_ptr<X11Keymap> keymap;
    QElapsedTimer age;

    KeymapSource() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            connection = nullptr;
            return;
        }
        keymap = std::make_unique<X11Keymap>(connection);
        age.start();
    }
    ~KeymapSource() {
        keymap.reset();
        if (connection)
            xcb_disconnect(connection);
    }
};

PortalKeyboard::PortalKeyboard(QString tokenFile, QObject* parent)
    : QObject(parent)
    , m_tokenFile(std::move(tokenFile))
    , m_keymap(std::make_unique<KeymapSource>()) {}

PortalKeyboard::~PortalKeyboard() {
    if (!m_session.isEmpty())
        sendLastCall(sessionCloseCall(m_session));
}

void PortalKeyboard::start() {
    const uint version = portalVersion(remoteDesktop);
    if (version == 0) {
        m_failure = QStringLiteral("This desktop has no remote-control portal, so Brevlin cannot "
                                   "send keys to other applications.");
        return;
    }
    const QPointer<PortalKeyboard> self(this);
    auto failed = [self](const QString& step, uint code) {
        if (!self)
            return;
        self->m_failure =
            code == 1 ? QStringLiteral("Remote control was not allowed, so Brevlin cannot send "
                                       "keys to Figma. Allow it at the next start.")
                      : QStringLiteral("The desktop's remote-control portal refused %1.").arg(step);
        Q_EMIT self->sessionChanged();
    };
    callPortal(remoteDesktop, QStringLiteral("CreateSession"),
               {QVariantMap{{QStringLiteral("session_handle_token"), nextToken()}}},
               [self, version, failed](uint code, const QVariantMap& results) {
                   if (!self)
                       return;
                   if (code != 0)
                       return failed(QStringLiteral("a session"), code);
                   self->m_session = results.value(QStringLiteral("session_handle")).toString();
                   QVariantMap devices{{QStringLiteral("types"), uint(1)}}; // the keyboard
                   if (version >= 2) {
                       devices.insert(QStringLiteral("persist_mode"), uint(2));
                       QFile file(self->m_tokenFile);
                       if (file.open(QIODevice::ReadOnly))
                           devices.insert(QStringLiteral("restore_token"),
                                          QString::fromUtf8(file.readAll()).trimmed());
                   }
                   callPortal(
                       remoteDesktop, QStringLiteral("SelectDevices"),
                       {QVariant::fromValue(QDBusObjectPath(self->m_session)), devices},
                       [self, failed](uint code, const QVariantMap&) {
                           if (!self)
                               return;
                           if (code != 0)
                               return failed(QStringLiteral("the keyboard"), code);
                           callPortal(
                               remoteDesktop, QStringLiteral("Start"),
                               {QVariant::fromValue(QDBusObjectPath(self->m_session)), QString(),
                                QVariantMap()},
                               [self, failed](uint code, const QVariantMap& results) {
                                   if (!self)
                                       return;
                                   if (code != 0 ||
                                       !(results.value(QStringLiteral("devices")).toUInt() & 1))
                                       return failed(QStringLiteral("to start"), code);
                                   const QString token =
                                       results.value(QStringLiteral("restore_token")).toString();
                                   if (!token.isEmpty()) {
                                       QDir().mkpath(QFileInfo(self->m_tokenFile).path());
                                       QFile file(self->m_tokenFile);
                                       if (file.open(QIODevice::WriteOnly))
                                           file.write(token.toUtf8());
                                   }
                                   self->m_started = true;
                                   self->m_failure.clear();
                                   Q_EMIT self->sessionChanged();
                               });
                       });
               });
}

bool PortalKeyboard::isAvailable() {
    return m_started;
}

void PortalKeyboard::sendKeycode(int evdevKeycode, bool down) {
    send(QStringLiteral("NotifyKeyboardKeycode"), evdevKeycode, down);
}

void PortalKeyboard::send(const QString& method, int key, bool down) {
    if (method == QLatin1String("NotifyKeyboardKeycode")) {
        if (down)
            m_down.insert(key);
        else
            m_down.remove(key);
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(portalService, portalPath, remoteDesktop, method);
    message.setArguments(
        {QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap(), key, uint(down ? 1 : 0)});
    m_queue.append(message);
    if (!m_inFlight)
        sendNext();
}

void PortalKeyboard::sendNext() {
    if (m_queue.isEmpty()) {
        m_inFlight = false;
        return;
    }
    m_inFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(m_queue.takeFirst()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        sendNext();
    });
}

QList<int> PortalKeyboard::releaseModifiers() {
    QList<int> ours;
    for (int key : {KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTALT, KEY_RIGHTALT, KEY_LEFTSHIFT,
                    KEY_RIGHTSHIFT, KEY_LEFTMETA, KEY_RIGHTMETA}) {
        if (m_down.contains(key)) {
            ours.append(key);
            sendKeycode(key, false);
        } else if (m_userHeld.contains(key)) {
            sendKeycode(key, false);
        }
    }
    m_userHeld.clear();
    return ours;
}

void PortalKeyboard::noteHeldModifiers(KeyModifiers modifiers) {
    if (modifiers & KeyModifier::primary)
        m_userHeld << KEY_LEFTCTRL << KEY_RIGHTCTRL;
    if (modifiers & KeyModifier::alternate)
        m_userHeld << KEY_LEFTALT << KEY_RIGHTALT;
    if (modifiers & KeyModifier::system)
        m_userHeld << KEY_LEFTMETA << KEY_RIGHTMETA;
    if (modifiers & KeyModifier::shift)
        m_userHeld << KEY_LEFTSHIFT << KEY_RIGHTSHIFT;
}

void PortalKeyboard::pressAgain(const QList<int>& keycodes) {
    for (int key : keycodes)
        sendKeycode(key, true);
}

void PortalKeyboard::reloadKeymapIfStale() {
    if (m_keymap->keymap && m_keymap->age.elapsed() > 500) {
        m_keymap->keymap->reload();
        m_keymap->age.restart();
    }
}

// The evdev keycode giving `keysym` in the current layout (X keycodes are evdev codes plus 8),
// else the key at `usPosition` when one is given, else 0.
int PortalKeyboard::keycodeFor(quint32 keysym, int usPosition, bool* shifted) {
    *shifted = false;
    if (m_keymap->keymap) {
        reloadKeymapIfStale();
        const QList<X11Keymap::Place> places = m_keymap->keymap->placesOf(keysym);
        if (!places.isEmpty()) {
            *shifted = places.first().shifted;
            return places.first().keycode - 8;
        }
    }
    return usPosition;
}

KeyResult PortalKeyboard::press(Key key, KeyModifiers modifiers) {
    if (!m_started)
        return KeyResult::keyboardUnavailable;
    bool shifted = false;
    int code = 0;
    switch (key) {
    case Key::a:
        code = keycodeFor(XKB_KEY_a, KEY_A, &shifted);
        break;
    case Key::k:
        code = keycodeFor(XKB_KEY_k, KEY_K, &shifted);
        break;
    case Key::deleteBackward:
        code = KEY_BACKSPACE;
        break;
    case Key::downArrow:
        code = KEY_DOWN;
        break;
    case Key::returnKey:
        code = KEY_ENTER;
        break;
    }
    // A letter found only at the shifted level is not the plain key a shortcut means.
    if (shifted)
        code = key == Key::a ? KEY_A : KEY_K;
    QList<int> held;
    if (modifiers & KeyModifier::primary)
        held.append(KEY_LEFTCTRL);
    if (modifiers & KeyModifier::alternate)
        held.append(KEY_LEFTALT);
    if (modifiers & KeyModifier::system)
        held.append(KEY_LEFTMETA);
    if (modifiers & KeyModifier::shift)
        held.append(KEY_LEFTSHIFT);
    const QList<int> released = releaseModifiers();
    for (int modifier : held)
        sendKeycode(modifier, true);
    sendKeycode(code, true);
    sendKeycode(code, false);
    for (auto it = held.crbegin(); it != held.crend(); ++it)
        sendKeycode(*it, false);
    pressAgain(released);
    return KeyResult::posted;
}

KeyResult PortalKeyboard::type(QStringView text) {
    if (!m_started)
        return KeyResult::keyboardUnavailable;
    if (!m_keymap->keymap) {
        // Without XWayland the layout cannot be read; plain ASCII is on every Latin layout's keys,
        // and the portal places it itself.
        for (const char32_t c : text.toUcs4())
            if (c < 0x20 || c > 0x7e)
                return KeyResult::keyUnavailable;
        const QList<int> released = releaseModifiers();
        for (const char32_t c : text.toUcs4())
            for (bool down : {true, false})
                send(QStringLiteral("NotifyKeyboardKeysym"), int(xkb_utf32_to_keysym(c)), down);
        pressAgain(released);
        return KeyResult::posted;
    }
    struct Stroke {
        int keycode;
        bool shifted;
    };
    QList<Stroke> strokes;
    for (const char32_t c : text.toUcs4()) {
        const quint32 legacy = xkb_utf32_to_keysym(c);
        bool shifted = false;
        int code = legacy ? keycodeFor(legacy, 0, &shifted) : 0;
        if (!code)
            code = keycodeFor(0x01000000 | c, 0, &shifted);
        // Nothing goes when one character cannot: the user's text is entered whole or not at all.
        if (!code)
            return KeyResult::keyUnavailable;
        strokes.append({code, shifted});
    }
    const QList<int> released = releaseModifiers();
    for (const Stroke& stroke : strokes) {
        if (stroke.shifted)
            sendKeycode(KEY_LEFTSHIFT, true);
        sendKeycode(stroke.keycode, true);
        sendKeycode(stroke.keycode, false);
        if (stroke.shifted)
            sendKeycode(KEY_LEFTSHIFT, false);
    }
    pressAgain(released);
    return KeyResult::posted;
}

// ---- Hotkeys

PortalHotkeyService::PortalHotkeyService(QObject* parent)
    : QObject(parent)
    , m_supported(isSupported()) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // Taken as the whole message: a slot with the signal's own types fails to connect in some
    // processes (QtDBus cannot always resolve QDBusObjectPath by name at that point).
    QDBusConnection::sessionBus().connect(portalService, portalPath, globalShortcuts,
                                          QStringLiteral("Activated"), this,
                                          SLOT(activated(QDBusMessage)));
}

PortalHotkeyService::~PortalHotkeyService() {
    closeSession();
}

bool PortalHotkeyService::isSupported() {
    return portalVersion(globalShortcuts) > 0;
}

QString PortalHotkeyService::trigger(const Hotkey& hotkey) {
    QStringList parts;
    for (KeyModifier modifier : hotkey.modifiers) {
        switch (modifier) {
        case KeyModifier::primary:
            parts.append(QStringLiteral("CTRL"));
            break;
        case KeyModifier::alternate:
            parts.append(QStringLiteral("ALT"));
            break;
        case KeyModifier::system:
            parts.append(QStringLiteral("LOGO"));
            break;
        case KeyModifier::shift:
            parts.append(QStringLiteral("SHIFT"));
            break;
        }
    }
    parts.append(hotkey.key.toUpper());
    return parts.join(QLatin1Char('+'));
}

void PortalHotkeyService::setPressHandler(PressHandler handler) {
    m_handler = std::move(handler);
}

HotkeyService::RegisterResult PortalHotkeyService::registerHotkey(HotkeyId id,
                                                                  const Hotkey& hotkey) {
    if (!supportedKeys().contains(hotkey.key.toUpper()))
        return RegisterResult::unsupportedKey;
    if (!m_supported)
        return RegisterResult::unavailable;
    m_hotkeys.insert(id, hotkey);
    scheduleBind();
    return RegisterResult::registered;
}

void PortalHotkeyService::unregisterHotkey(HotkeyId id) {
    if (m_hotkeys.remove(id))
        scheduleBind();
}

void PortalHotkeyService::scheduleBind() {
    if (m_bindPending)
        return;
    m_bindPending = true;
    QTimer::singleShot(0, this, [this] {
        m_bindPending = false;
        bind();
    });
}

void PortalHotkeyService::closeSession() {
    if (m_session.isEmpty())
        return;
    sendLastCall(sessionCloseCall(m_session));
    m_session.clear();
}

void PortalHotkeyService::bind() {
    if (m_closing)
        return; // bound again once the old session is gone
    if (!m_session.isEmpty()) {
        // Every session takes the same name: KDE files the shortcuts under it, so they keep
        // their place (and the user's own keys) in the shortcut settings across restarts. The
        // portal refuses a second session of one name, so the old one goes first.
        const QDBusMessage close = sessionCloseCall(m_session);
        m_session.clear();
        m_bound = false;
        ++m_generation;
        m_closing = true;
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(close), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    m_closing = false;
                    bind();
                });
        return;
    }
    m_bound = false;
    const quint64 generation = ++m_generation;
    // Without the portal the start-up notice has said so already; nothing to ask for.
    if (m_hotkeys.isEmpty() || !m_supported)
        return;
    QList<PortalShortcut> shortcuts;
    for (auto it = m_hotkeys.cbegin(); it != m_hotkeys.cend(); ++it)
        shortcuts.append({shortcutPrefix + QString::number(it.key()),
                          {{QStringLiteral("description"),
                            QStringLiteral("Brevlin shortcut %1").arg(it.value().key.toUpper())},
                           {QStringLiteral("preferred_trigger"), trigger(it.value())}}});
    QStringList names;
    for (const Hotkey& hotkey : std::as_const(m_hotkeys))
        names.append(hotkey.displayString());
    const QPointer<PortalHotkeyService> self(this);
    auto failed = [self, generation, names](uint code) {
        if (!self || generation != self->m_generation)
            return;
        self->m_failure = code == 1 ? QStringLiteral("The hotkeys %1 were not allowed.")
                                          .arg(names.join(QStringLiteral(", ")))
                                    : QStringLiteral("The desktop refused Brevlin's hotkeys %1.")
                                          .arg(names.join(QStringLiteral(", ")));
        Q_EMIT self->bindingChanged();
    };
    callPortal(globalShortcuts, QStringLiteral("CreateSession"),
               {QVariantMap{{QStringLiteral("session_handle_token"), QStringLiteral("Brevlin")},
                            {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}}},
               [self, generation, shortcuts, failed](uint code, const QVariantMap& results) {
                   if (!self || generation != self->m_generation)
                       return;
                   if (code != 0)
                       return failed(code);
                   self->m_session = results.value(QStringLiteral("session_handle")).toString();
                   callPortal(globalShortcuts, QStringLiteral("BindShortcuts"),
                              {QVariant::fromValue(QDBusObjectPath(self->m_session)),
                               QVariant::fromValue(shortcuts), QString(), QVariantMap()},
                              [self, generation, failed](uint code, const QVariantMap& results) {
                                  if (!self || generation != self->m_generation)
                                      return;
                                  if (code != 0)
                                      return failed(code);
                                  self->m_bound = true;
                                  self->m_failure = self->unboundHotkeys(results);
                                  Q_EMIT self->bindingChanged();
                              });
               });
}

QString PortalHotkeyService::unboundHotkeys(const QVariantMap& results) const {
    // The portal lists what it bound, each with the keys the desktop gave it: a hotkey left out,
    // or given no keys (another program holds them), does not work.
    QHash<QString, QString> triggers;
    const QVariant listed = results.value(QStringLiteral("shortcuts"));
    if (!listed.isValid())
        return {};
    QList<PortalShortcut> bound;
    listed.value<QDBusArgument>() >> bound;
    for (const PortalShortcut& shortcut : std::as_const(bound))
        triggers.insert(
            shortcut.id,
            shortcut.properties.value(QStringLiteral("trigger_description")).toString());
    QStringList unbound;
    for (auto it = m_hotkeys.cbegin(); it != m_hotkeys.cend(); ++it)
        if (triggers.value(shortcutPrefix + QString::number(it.key())).isEmpty())
            unbound.append(it.value().displayString());
    if (unbound.isEmpty())
        return {};
    return QStringLiteral("The desktop gave Brevlin's hotkeys %1 no keys (another program may hold "
                          "them): choose others in the desktop's shortcut settings.")
        .arg(unbound.join(QStringLiteral(", ")));
}

void PortalHotkeyService::activated(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString session = arguments.at(0).value<QDBusObjectPath>().path();
    const QString shortcutId = arguments.at(1).toString();
    if (session != m_session || !shortcutId.startsWith(shortcutPrefix) || !m_handler)
        return;
    bool ok = false;
    const HotkeyId id = shortcutId.mid(shortcutPrefix.size()).toUInt(&ok);
    if (!ok || !m_hotkeys.contains(id))
        return;
    // The hotkey's modifiers are down now; keys sent for it must not carry them.
    if (m_keyboard)
        m_keyboard->noteHeldModifiers(m_hotkeys.value(id).modifierSet());
    m_handler(id);
}

} // namespace brevlin

#include "WaylandPortals.moc"
