// Global hotkeys as root-window grabs: presses from the keyboard reach the handler whatever lock
// keys are on or layout is loaded, and a key held by another client fails the registration
// cleanly.

#include "DesktopTestSupport.h"
#include "platform/linux/X11HotkeyService.h"
#include "platform/linux/X11Keymap.h"
#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/XcbReply.h"

#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

using Registered = HotkeyService::RegisterResult;
constexpr quint16 ctrlAltMask = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

// Command and Option: Ctrl+Alt on this desktop.
Hotkey ctrlAlt(const QString& key) {
    return Hotkey{key, {KeyModifier::primary, KeyModifier::alternate}};
}

// Presses keys in order, or lets go of them in reverse order, as a person would.
void press(QList<quint32> keysyms, bool down) {
    if (!down)
        std::reverse(keysyms.begin(), keysyms.end());
    for (quint32 sym : keysyms)
        pressKeysym(sym, down);
}

// Presses and lets go; with `keycode`, Ctrl+Alt and the key with that keycode, whatever the
// layout puts on it.
void chord(const QList<quint32>& keysyms, quint8 keycode = 0) {
    press(keysyms, true);
    if (keycode) {
        pressKeycode(keycode, true);
        pressKeycode(keycode, false);
    }
    press(keysyms, false);
    // Two presses within one millisecond would look like auto-repeat.
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
        return !xcbOwn(
            xcb_request_check(m_c, xcb_grab_key_checked(m_c, 1, m_root, modifiers, keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    }

    // Whether the server gives this client the keyboard (nobody else holds an active grab); it
    // is given back at once.
    bool keyboardIsFree() {
        const auto reply = xcbOwn(
            xcb_grab_keyboard_reply(m_c,
                                    xcb_grab_keyboard(m_c, 1, m_root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr));
        xcb_ungrab_keyboard(m_c, XCB_CURRENT_TIME);
        xcb_flush(m_c);
        return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root;
};

} // namespace

class HotkeysTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11HotkeyService> m_service;
    QList<quint32> m_pressed;

    // A service reading the layout loaded now.
    void startService() {
        m_service = X11HotkeyService::create();
        QVERIFY(m_service);
        m_service->setPressHandler([this](HotkeyService::HotkeyId id) { m_pressed.append(id); });
    }

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
        m_pressed.clear();
        startService();
    }

    void cleanup() {
        m_service.reset();
        QVERIFY(setKeyboardLayout("us"));
    }

    // A hotkey names a key position: Command-Option-1 is the key left of 2 on any layout, even
    // where that key types "&" unshifted (AZERTY) or sits beside Cyrillic letters; and it stays
    // grabbed when the layout changes while it runs.
    void samplesRegisterAndFireByPositionOnEveryLayout_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("next");
        QTest::newRow("us") << "us"
                            << "fr";
        QTest::newRow("fr") << "fr"
                            << "ru";
        QTest::newRow("de") << "de"
                            << "us";
        QTest::newRow("ru") << "ru"
                            << "us";
    }
    void samplesRegisterAndFireByPositionOnEveryLayout() {
        QFETCH(QString, layout);
        QFETCH(QString, next);
        QVERIFY(setKeyboardLayout(layout));
        startService();
        const QList<std::pair<KeyPosition, quint8>> samples = {
            {KeyPosition::digit1, evdevKeycodeAE01},
            {KeyPosition::digit2, evdevKeycodeAE02},
            {KeyPosition::digit3, evdevKeycodeAE03}};
        for (const auto& [position, keycode] : samples) {
            const QString key = supportedKeys().at(int(position));
            QCOMPARE(m_service->registerHotkey(keycode, ctrlAlt(key)), Registered::registered);
            QCOMPARE(m_service->keycodeAt(position), keycode);
        }
        const QList<quint32> all = {evdevKeycodeAE01, evdevKeycodeAE02, evdevKeycodeAE03};
        for (quint8 keycode : all)
            chord({XKB_KEY_Control_L, XKB_KEY_Alt_L}, keycode);
        QTRY_COMPARE(m_pressed, all);

        // Characters outside the layout remap spare keycodes, twice, and then the layout changes:
        // each re-grab lets go of the grabs it replaces.
        const int grabs = m_service->grabCount(evdevKeycodeAE01);
        QVERIFY(grabs >= 4);
        auto keys = XTestKeyboard::create();
        QCOMPARE(keys->type(u"\u00f1\u00e7"), KeyResult::posted);
        keys->restoreKeyboardMapping();
        QVERIFY(setKeyboardLayout(next));
        // The re-grab runs once the burst of keymap notifications has been served.
        QTest::qWait(300);
        m_pressed.clear();
        for (quint8 keycode : all) {
            QCOMPARE(m_service->grabCount(keycode), grabs);
            chord({XKB_KEY_Control_L, XKB_KEY_Alt_L}, keycode);
        }
        QTRY_COMPARE(m_pressed, all);
    }

    // The press hands the keyboard back at once: while the chord is still held, another client
    // (the target of the launch) can have the keyboard, and a second press after the release is
    // a new press, not auto-repeat.
    void heldHotkeyLeavesTheKeyboardFree() {
        QCOMPARE(m_service->registerHotkey(6, ctrlAlt("1")), Registered::registered);
        const QList<quint32> keys = {XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1};
        for (int round = 1; round <= 2; ++round) {
            press(keys, true);
            QTRY_COMPARE(m_pressed.size(), round);
            QTest::qWait(50);
            QVERIFY(OtherClient().keyboardIsFree());
            press(keys, false);
            barrier();
            QCOMPARE(m_pressed.size(), round);
        }
    }

    void autoRepeatFiresOnce() {
        QCOMPARE(m_service->registerHotkey(5, ctrlAlt("1")), Registered::registered);
        const QList<quint32> keys = {XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1};
        press(keys, true);
        QTest::qWait(1200); // past the server's repeat delay
        press(keys, false);
        barrier();
        QCOMPARE(m_pressed, QList<quint32>{5});
        chord(keys);
        QTRY_COMPARE(m_pressed, (QList<quint32>{5, 5}));
    }

    // Other modifiers, or the key alone, are another shortcut; Control is Super and Shift stays
    // Shift; lock keys change nothing (four grabs per keycode: plain, Caps Lock, Num Lock, both).
    void firesOnExactlyItsModifiers() {
        QCOMPARE(m_service->registerHotkey(7, ctrlAlt("1")), Registered::registered);
        QCOMPARE(
            m_service->registerHotkey(3, Hotkey{"j", {KeyModifier::system, KeyModifier::shift}}),
            Registered::registered);
        QVERIFY(m_service->grabCount(7) >= 4);
        chord({XKB_KEY_Control_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Shift_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        chord({XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_j});
        barrier();
        QVERIFY(m_pressed.isEmpty());
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        chord({XKB_KEY_Super_L, XKB_KEY_Shift_L, XKB_KEY_j});
        QTRY_COMPARE(m_pressed, (QList<quint32>{7, 3}));

        chord({XKB_KEY_Caps_Lock});
        chord({XKB_KEY_Num_Lock});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        chord({XKB_KEY_Caps_Lock});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        chord({XKB_KEY_Num_Lock});
        QTRY_COMPARE(m_pressed, (QList<quint32>{7, 3, 7, 7}));

        m_service->unregisterHotkey(7);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        barrier();
        QCOMPARE(m_pressed, (QList<quint32>{7, 3, 7, 7}));
    }

    void registrationsSayWhyNotAndReplaceByIdentifier() {
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("F1")), Registered::unsupportedKey);
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("")), Registered::unsupportedKey);
        QCOMPARE(m_service->grabCount(1), 0);

        // A key another client holds fails wholly: the variants that were granted went back, so
        // a third client gets the Caps Lock one.
        OtherClient other;
        QVERIFY(other.grab(XKB_KEY_3, ctrlAltMask));
        QCOMPARE(m_service->registerHotkey(1, ctrlAlt("3")), Registered::taken);
        QCOMPARE(m_service->grabCount(1), 0);
        QVERIFY(OtherClient().grab(XKB_KEY_3, ctrlAltMask | XCB_MOD_MASK_LOCK));

        // The same identifier again moves the hotkey: the old key is let go.
        QCOMPARE(m_service->registerHotkey(9, ctrlAlt("1")), Registered::registered);
        QCOMPARE(m_service->registerHotkey(9, ctrlAlt("2")), Registered::registered);
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_1});
        chord({XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_2});
        QTRY_COMPARE(m_pressed, QList<quint32>{9});
        QVERIFY(other.grab(XKB_KEY_1, ctrlAltMask));
    }
};

QTEST_MAIN(HotkeysTest)
#include "tst_hotkeys.moc"
