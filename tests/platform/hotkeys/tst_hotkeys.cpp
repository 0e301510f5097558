// Global hotkeys as root-window grabs: presses from the keyboard reach the handler whatever lock
// keys are on, a key held by another client fails the registration cleanly, and the hotkey
// manager replaces its registrations as a whole.

#include "DesktopTestSupport.h"
#include "hotkeys/HotkeyManager.h"
#include "launch/QtScheduler.h"
#include "platform/linux/X11HotkeyService.h"
#include "platform/linux/X11Keymap.h"
#include "platform/linux/XTestKeyboard.h"

#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdlib>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

using Registered = HotkeyService::RegisterResult;

// Command and Option: Ctrl+Alt on this desktop.
Hotkey ctrlAlt(const QString& key) {
    return Hotkey{key, {KeyModifier::primary, KeyModifier::alternate}};
}

// Presses modifiers and key as a person would, then lets go in reverse order.
void chord(std::initializer_list<quint32> keysyms) {
    for (quint32 sym : keysyms)
        pressKeysym(sym, true);
    for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it)
        pressKeysym(*it, false);
    // Two presses within one millisecond would look like auto-repeat.
    QTest::qWait(20);
}

// Ctrl+Alt and the key with this keycode, whatever the layout puts on it.
void chordAt(quint8 keycode) {
    pressKeysym(XKB_KEY_Control_L, true);
    pressKeysym(XKB_KEY_Alt_L, true);
    pressKeycode(keycode, true);
    pressKeycode(keycode, false);
    pressKeysym(XKB_KEY_Alt_L, false);
    pressKeysym(XKB_KEY_Control_L, false);
    QTest::qWait(20);
}

// Another X client on its own connection, holding grabs of its own.
class OtherClient {
public:
    OtherClient()
        : m_c(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_c); }

    bool grab(quint32 keysym, quint16 modifiers) {
        const QList<X11Keymap::Place> places = X11Keymap(m_c).placesOf(keysym);
        const xcb_keycode_t keycode = places.isEmpty() ? 0 : places.first().keycode;
        xcb_generic_error_t* error =
            xcb_request_check(m_c, xcb_grab_key_checked(m_c, 1, m_root, modifiers, keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }

    // True when the server gave us the keyboard (nobody else holds an active grab).
    bool grabKeyboard() {
        auto* reply =
            xcb_grab_keyboard_reply(m_c,
                                    xcb_grab_keyboard(m_c, 1, m_root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        return granted;
    }
    void ungrabKeyboard() {
        xcb_ungrab_keyboard(m_c, XCB_CURRENT_TIME);
        xcb_flush(m_c);
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root;
};

DockItem itemNamed(const QString& name, const QString& key) {
    return DockItem{{}, name, name, {}, std::nullopt, ctrlAlt(key)};
}

} // namespace

class HotkeysTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11HotkeyService> m_service;
    QList<quint32> m_pressed;

    // Presses a marker hotkey and waits for it: whatever the keys pressed before it set off has
    // arrived by then, so what has not arrived never will.
    void barrier() {
        constexpr HotkeyService::HotkeyId marker = 99;
        QCOMPARE(m_service->registerHotkey(marker, ctrlAlt("0")), Registered::registered);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_0});
        QTRY_VERIFY(m_pressed.contains(marker));
        m_pressed.removeAll(marker);
        m_service->unregisterHotkey(marker);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session"); }

    void init() {
        m_service = X11HotkeyService::create();
        QVERIFY(m_service);
        m_pressed.clear();
        m_service->setPressHandler([this](HotkeyService::HotkeyId id) { m_pressed.append(id); });
    }

    void cleanup() {
        m_service.reset();
        QVERIFY(setKeyboardLayout("us"));
    }

    // A hotkey names a key position: Command-Option-1 is the key left of 2 on any layout, even
    // where that key types "&" unshifted (AZERTY) or sits beside Cyrillic letters.
    void samplesRegisterAndFireByPositionOnEveryLayout_data() {
        QTest::addColumn<QString>("layout");
        for (const char* layout : {"us", "fr", "de", "ru"})
            QTest::newRow(layout) << QString::fromLatin1(layout);
    }
    void samplesRegisterAndFireByPositionOnEveryLayout() {
        QFETCH(QString, layout);
        QVERIFY(setKeyboardLayout(layout));
        // A service started under this layout.
        m_service = X11HotkeyService::create();
        m_service->setPressHandler([this](HotkeyService::HotkeyId id) { m_pressed.append(id); });
        const QList<std::pair<KeyPosition, quint8>> samples = {
            {KeyPosition::digit1, evdevKeycodeAE01},
            {KeyPosition::digit2, evdevKeycodeAE02},
            {KeyPosition::digit3, evdevKeycodeAE03}};
        for (const auto& [position, keycode] : samples) {
            const QString key = supportedKeys().at(int(position));
            QCOMPARE(m_service->registerHotkey(keycode, ctrlAlt(key)), Registered::registered);
            QCOMPARE(m_service->keycodeAt(position), keycode);
        }
        for (const auto& [position, keycode] : samples)
            chordAt(keycode);
        QTRY_COMPARE(m_pressed,
                     (QList<quint32>{evdevKeycodeAE01, evdevKeycodeAE02, evdevKeycodeAE03}));
    }

    void layoutChangeWhileRunningRegrabs() {
        QCOMPARE(m_service->registerHotkey(8, ctrlAlt("1")), Registered::registered);
        for (const char* layout : {"fr", "ru", "us"}) {
            QVERIFY(setKeyboardLayout(QString::fromLatin1(layout)));
            // The re-grab runs once the burst of keymap notifications has been served.
            QTest::qWait(300);
            QVERIFY(m_service->grabCount(8) >= 4);
            m_pressed.clear();
            chordAt(evdevKeycodeAE01);
            QTRY_COMPARE(m_pressed, QList<quint32>{8});
        }
    }

    // The press hands the keyboard back at once: while the chord is still held, another client
    // (the target of the launch) can have the keyboard, and a second press after the release is
    // a new press, not auto-repeat.
    void heldHotkeyLeavesTheKeyboardFree() {
        QCOMPARE(m_service->registerHotkey(6, ctrlAlt("1")), Registered::registered);
        for (int round = 1; round <= 2; ++round) {
            pressKeysym(XKB_KEY_Control_L, true);
            pressKeysym(XKB_KEY_Alt_L, true);
            pressKeysym(XKB_KEY_1, true);
            QTRY_COMPARE(m_pressed.size(), round);
            QTest::qWait(50);
            OtherClient other;
            QVERIFY(other.grabKeyboard());
            other.ungrabKeyboard();
            pressKeysym(XKB_KEY_1, false);
            pressKeysym(XKB_KEY_Alt_L, false);
            pressKeysym(XKB_KEY_Control_L, false);
            barrier();
            QCOMPARE(m_pressed.size(), round);
        }
    }

    void registeredHotkeyFires() {
        QCOMPARE(m_service->registerHotkey(7, ctrlAlt("1")), Registered::registered);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        QTRY_COMPARE(m_pressed, QList<quint32>{7});

        // Other modifiers, or the key alone, are another shortcut.
        chord({XKB_KEY_Control_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Shift_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        barrier();
        QCOMPARE(m_pressed, QList<quint32>{7});

        m_service->unregisterHotkey(7);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        barrier();
        QCOMPARE(m_pressed, QList<quint32>{7});
    }

    void registrationsSayWhyNotAndReplaceByIdentifier() {
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("F1")), Registered::unsupportedKey);
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("")), Registered::unsupportedKey);
        QCOMPARE(m_service->grabCount(1), 0);

        // The same identifier again moves the hotkey: the old key is let go.
        QCOMPARE(m_service->registerHotkey(9, ctrlAlt("1")), Registered::registered);
        QCOMPARE(m_service->registerHotkey(9, ctrlAlt("2")), Registered::registered);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        QTRY_COMPARE(m_pressed, QList<quint32>{9});
        OtherClient other;
        QVERIFY(other.grab(XKB_KEY_1, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    }

    void modifiersFollowQtsMapping() {
        // Control is Super, Shift stays Shift.
        QCOMPARE(
            m_service->registerHotkey(3, Hotkey{"j", {KeyModifier::system, KeyModifier::shift}}),
            Registered::registered);
        chord({XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_j});
        barrier();
        QVERIFY(m_pressed.isEmpty());
        chord({XKB_KEY_Super_L, XKB_KEY_Shift_L, XKB_KEY_j});
        QTRY_COMPARE(m_pressed, QList<quint32>{3});
    }

    void firesWithLockKeysOn() {
        QCOMPARE(m_service->registerHotkey(2, ctrlAlt("2")), Registered::registered);
        // Four grabs per keycode: plain, Caps Lock, Num Lock, both.
        QVERIFY(m_service->grabCount(2) >= 4);
        chord({XKB_KEY_Caps_Lock});
        chord({XKB_KEY_Num_Lock});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        chord({XKB_KEY_Caps_Lock});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        chord({XKB_KEY_Num_Lock});
        QTRY_COMPARE(m_pressed, (QList<quint32>{2, 2}));
    }

    void keyHeldByAnotherClientFailsWholly() {
        OtherClient other;
        QVERIFY(other.grab(XKB_KEY_3, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("3")), Registered::taken);
        QCOMPARE(m_service->grabCount(1), 0);
        // The variants that were granted went back: a third client gets the Caps Lock one.
        OtherClient third;
        QVERIFY(third.grab(XKB_KEY_3, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK));
    }

    void autoRepeatFiresOnce() {
        QCOMPARE(m_service->registerHotkey(5, ctrlAlt("1")), Registered::registered);
        pressKeysym(XKB_KEY_Control_L, true);
        pressKeysym(XKB_KEY_Alt_L, true);
        pressKeysym(XKB_KEY_1, true);
        QTest::qWait(1200); // past the server's repeat delay
        pressKeysym(XKB_KEY_1, false);
        pressKeysym(XKB_KEY_Alt_L, false);
        pressKeysym(XKB_KEY_Control_L, false);
        barrier();
        QCOMPARE(m_pressed, QList<quint32>{5});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        QTRY_COMPARE(m_pressed, (QList<quint32>{5, 5}));
    }

    void keymapChangesKeepHotkeysWorking() {
        QCOMPARE(m_service->registerHotkey(4, ctrlAlt("1")), Registered::registered);
        const int grabs = m_service->grabCount(4);
        // Typing characters outside the layout remaps spare keycodes, twice.
        auto keys = XTestKeyboard::create();
        QCOMPARE(keys->type(u"\u00f1\u00e7"), KeyResult::posted);
        keys->restoreKeyboardMapping();
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        QTRY_COMPARE(m_pressed, QList<quint32>{4});
        // The press came after the keymap notifications, so the re-grab they set off was queued
        // before it was handled: once the queue is drained, it has run.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_service->grabCount(4), grabs);
    }

    void managerReplacesAllAndResolvesLatePresses() {
        QtScheduler scheduler;
        HotkeyManager manager(*m_service, scheduler);
        QStringList triggered;
        auto onTrigger = [&](const DockItem& item) { triggered.append(item.name); };

        manager.registerHotkeys({itemNamed("One", "1"), itemNamed("Two", "2")}, onTrigger);
        QCOMPARE(manager.registrationCount(), 2);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        QTRY_COMPARE(triggered, QStringList{"Two"});

        // Registering again replaces: the same keys twice leave one grab each, not two.
        manager.registerHotkeys({itemNamed("One", "1"), itemNamed("Two", "2")}, onTrigger);
        QCOMPARE(manager.registrationCount(), 2);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        // One press, one call: the second press marks the end of the first's.
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        QTRY_COMPARE(triggered.size(), 3);
        QCOMPARE(triggered, (QStringList{"Two", "One", "Two"}));

        // A press made before the set changes is read against the new set.
        for (quint32 sym : {XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1})
            pressKeysym(sym, true);
        for (quint32 sym : {XKB_KEY_1, XKB_KEY_Alt_L, XKB_KEY_Control_L})
            pressKeysym(sym, false);
        manager.registerHotkeys({itemNamed("Uno", "1")}, onTrigger);
        QTRY_COMPARE(triggered, (QStringList{"Two", "One", "Two", "Uno"}));

        // A taken key is skipped and uses no identifier.
        OtherClient other;
        QVERIFY(other.grab(XKB_KEY_3, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
        manager.registerHotkeys(
            {itemNamed("Three", "3"), itemNamed("Uno", "1"), itemNamed("Dos", "2")}, onTrigger);
        QCOMPARE(manager.registrationCount(), 2);
        QCOMPARE(manager.registeredItem(1)->name, QString("Uno"));
        QCOMPARE(manager.registeredItem(2)->name, QString("Dos"));

        manager.unregisterAll();
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        // Had the 1 still been grabbed, its press would come before the marker's, whichever set
        // it is read against.
        manager.registerHotkeys({itemNamed("Late", "1"), itemNamed("Marker", "0")}, onTrigger);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_0});
        QTRY_COMPARE(triggered.last(), QString("Marker"));
        QCOMPARE(triggered, (QStringList{"Two", "One", "Two", "Uno", "Marker"}));
    }
};

QTEST_MAIN(HotkeysTest)
#include "tst_hotkeys.moc"
