// Synthetic keys against the stand-in: what it receives is what was meant, whatever the user holds
// and whatever characters the text has.

#include "DesktopTestSupport.h"
#include "platform/linux/X11Keymap.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyboard.h"
#include "platform/linux/XcbReply.h"

#include <QJsonArray>
#include <QScopeGuard>
#include <QTest>
#include <QTextBoundaryFinder>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

// A connection of the test's own, to read and change the keymap as another client would.
struct Connection {
    Connection()
        : c(xcb_connect(nullptr, nullptr)) {}
    ~Connection() { xcb_disconnect(c); }
    // Gives each keycode this keysym on every level, or none with 0.
    void setKeysym(const QList<xcb_keycode_t>& keycodes, xcb_keysym_t keysym, int width) {
        const std::vector<xcb_keysym_t> row(std::size_t(std::max(width, 2)), keysym);
        for (xcb_keycode_t k : keycodes)
            xcb_change_keyboard_mapping(c, 1, k, uint8_t(row.size()), row.data());
        xcbOwn(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_connection_t* c;
};

void press(XTestKeyboard& keys, Key key, KeyModifiers modifiers = {}) {
    QCOMPARE(keys.press(key, modifiers), KeyResult::posted);
}

// One call per user-perceived character, as the launcher types, and no pause.
void typeText(XTestKeyboard& keys, const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        QCOMPARE(keys.type(QStringView(text).mid(start, finder.position() - start)),
                 KeyResult::posted);
        start = finder.position();
    }
}

} // namespace

class KeyEventsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<XTestKeyboard> m_keys;
    std::unique_ptr<X11Workspace> m_workspace;

    // Asks until the stand-in says it is active: the window manager ignores requests for a window
    // it has not finished managing, and is slow to finish while clients reload a changed keymap.
    bool activate(qint64 pid) {
        return waitUntil(
            [&] {
                if (const RunningApplicationPtr app = m_workspace->findRunning("brevlin-standin");
                    app && app->processIdentifier() == pid)
                    app->activate();
                return m_standin.waitUntilActive(200);
            },
            15000);
    }
    StandinProcess m_standin;

    bool openPalette() {
        press(*m_keys, Key::k, KeyModifier::primary);
        return m_standin.record().waitForEvent("palette", {{"open", true}});
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        m_keys = XTestKeyboard::create();
        QVERIFY(m_keys);
        m_workspace = X11Workspace::create();
        QVERIFY(m_workspace);
    }

    void init() {
        QVERIFY(m_standin.start());
        // New windows get focus only when the window manager believes the user wants them to.
        QVERIFY(activate(m_standin.pid()));
    }

    void cleanup() {
        QVERIFY(setKeyboardLayout("us"));
        for (quint32 sym : {XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Shift_L, XKB_KEY_Super_L})
            pressKeysym(sym, false);
        m_standin.stop();
    }

    // With every free keycode taken, a character outside the layout cannot be typed, and the
    // keyboard says so rather than passing over it; keys and the layout's characters still go.
    void keysAndCharactersWithoutAFreeKeycode() {
        QVERIFY(openPalette());
        m_keys->restoreKeyboardMapping();
        Connection connection;
        const X11Keymap keymap(connection.c);
        const QList<xcb_keycode_t> spare = keymap.unassignedKeycodes();
        QVERIFY(!spare.isEmpty());
        const auto restore =
            qScopeGuard([&] { connection.setKeysym(spare, 0, keymap.keysymsPerKeycode()); });
        connection.setKeysym(spare, XKB_KEY_VoidSymbol, keymap.keysymsPerKeycode());
        QCOMPARE(m_keys->type(u"a"), KeyResult::posted);
        QCOMPARE(m_keys->type(u"\u65e5"), KeyResult::keyUnavailable);
        QCOMPARE(m_keys->type(u"b"), KeyResult::posted);
        for (Key key : {Key::a, Key::k})
            press(*m_keys, key);
        press(*m_keys, Key::k, KeyModifier::shift);
        QTRY_COMPARE(m_standin.record().lastText(), QString("abakK"));
        QCOMPARE(m_keys->borrowedKeycodeCount(), 0);
    }

    // Where the focused window cannot be pinged, a borrowed character is typed after a pause.
    void borrowedCharacterWithoutAPingableTargetPauses() {
        // Nothing the window manager could hand the focus back to while we type.
        m_standin.stop();
        QTest::qWait(200);
        // A bare window of our own, out of the window manager's hands, that names no protocols.
        Connection x;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data;
        const xcb_window_t window = xcb_generate_id(x.c);
        const uint32_t overrideRedirect = 1;
        xcb_create_window(x.c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        xcb_map_window(x.c, window);
        const auto focused = [&] {
            const auto focus = xcbOwn(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), {}));
            return focus && focus->focus == window;
        };
        focused(); // the window is mapped by the time this is answered
        xcb_set_input_focus(x.c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        QVERIFY(focused());
        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QVERIFY(focused());
        QCOMPARE(m_keys->keymapWaits().paused - before.paused, 1);
        QCOMPARE(m_keys->keymapWaits().answered, before.answered);
    }

    // A layout switch loads a whole keymap over the keycodes we borrowed: typing again borrows
    // afresh rather than pressing a keycode that is empty now. Idle typing gives them back.
    void borrowedKeycodesGoWithALayoutSwitchAndAPause() {
        QVERIFY(openPalette());
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ñ"));
        QVERIFY(setKeyboardLayout("us"));
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 0);
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 1);
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ññ"));
        QTRY_COMPARE(m_keys->borrowedKeycodeCount(), 0);
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 0);
    }

    // A hotkey press such as Ctrl+Alt+Shift+1 leaves its modifiers down when the launch starts:
    // the target sees exactly the modifiers asked for, none when none are, and what the user
    // holds is held again afterwards.
    void targetSeesExactlyTheModifiersWhileTheUserHoldsOthers() {
        const quint32 held[] = {XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Shift_L};
        for (quint32 sym : held)
            pressKeysym(sym, true);
        QVERIFY(openPalette());
        const auto modifiersOfLastK = [this] {
            QStringList names;
            for (const QJsonObject& e : m_standin.record().events("key"))
                if (e.value("key").toString().endsWith("K"))
                    names = e.value("modifiers").toVariant().toStringList();
            return names;
        };
        QCOMPARE(modifiersOfLastK(), QStringList{"ctrl"});
        press(*m_keys, Key::downArrow);
        press(*m_keys, Key::returnKey);
        QTRY_COMPARE(m_standin.record().runs(), QStringList{"Autoflow/key"});
        for (const QJsonObject& e : m_standin.record().events("key"))
            if (e.value("key") == "Down" || e.value("key") == "Return")
                QCOMPARE(e.value("modifiers").toArray().size(), 0);
        // System and alternate go on Super and Alt.
        press(*m_keys, Key::k, KeyModifier::system | KeyModifier::alternate);
        QTRY_COMPARE(modifiersOfLastK(), (QStringList{"alt", "meta"}));
        for (quint32 sym : held)
            QVERIFY(isKeysymDown(sym));
    }

    // Text typed exactly, then the launch's keys. `pings`: borrowed characters that waited for the
    // stand-in to answer a ping, having read the new keymap (-1: not counted). A layout names its
    // letters by legacy keysyms (Cyrillic_ka), text asks by Unicode; Latin letters a Cyrillic group
    // lacks are borrowed. 60 ideographs need several batches of the (about twenty) spare keycodes.
    // The launch's keys go on the layout's own key where it has the letter (A moves on AZERTY),
    // else on the US position, which the target's Latin fallback reads as the letter.
    void typesTextExactlyThenTheLaunchKeys_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pings");
        QTest::addColumn<bool>("holdAltShift");
        QString ideographs;
        for (char32_t cp = 0x4E00; cp < 0x4E00 + 60; ++cp)
            ideographs += QString::fromUcs4(&cp, 1);
        QTest::newRow("borrowed") << "us" << QString::fromUtf8("Café ✓ 😀 日本") << 5 << false;
        QTest::newRow("user holds Alt+Shift") << "us" << QString::fromUtf8("ab é") << 1 << true;
        QTest::newRow("fr") << "fr" << QString("Cafe") << 0 << false;
        QTest::newRow("de") << "de" << QString("Cafe") << 0 << false;
        QTest::newRow("ru,us") << "ru,us" << QString("Cafe") << 4 << false;
        QTest::newRow("layout's own") << "ru,us" << QString::fromUtf8("Кафе Ёж") << 0 << false;
        QTest::newRow("more than the spare keycodes")
            << "us" << ideographs + QString::fromUtf8("é日") << -1 << false;
    }
    void typesTextExactlyThenTheLaunchKeys() {
        QFETCH(QString, layout);
        QFETCH(QString, text);
        QFETCH(int, pings);
        QFETCH(bool, holdAltShift);
        QVERIFY(setKeyboardLayout(layout));
        QTest::qWait(200);
        QVERIFY(openPalette());
        if (holdAltShift) {
            pressKeysym(XKB_KEY_Alt_L, true);
            pressKeysym(XKB_KEY_Shift_L, true);
        }
        const quint32 lastKeysym = keysymForCodePoint(text.toUcs4().back());
        const int carriedBefore = keycodesCarrying(lastKeysym);
        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        typeText(*m_keys, text);
        // Only characters outside the layout borrow keycodes, and they are all given back.
        QCOMPARE(m_keys->borrowedKeycodeCount() > 0, pings != 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_standin.record().lastText(), text, 10000);
        if (pings >= 0)
            QCOMPARE(m_keys->keymapWaits().answered - before.answered, pings);
        QCOMPARE(m_keys->keymapWaits().paused, before.paused);
        QCOMPARE(isKeysymDown(XKB_KEY_Alt_L), holdAltShift);
        m_keys->restoreKeyboardMapping();
        QCOMPARE(m_keys->borrowedKeycodeCount(), 0);
        QCOMPARE(keycodesCarrying(lastKeysym), carriedBefore);
        // Given back, as after any pause in typing: while a borrowed keycode carries "a", Qt
        // refuses the Latin fallback of the A key (it looks for keys of the current group that
        // give the same letter), so Ctrl+A at its US position would not select all.
        press(*m_keys, Key::a, KeyModifier::primary); // select all
        press(*m_keys, Key::deleteBackward);          // and erase
        QTRY_COMPARE(m_standin.record().lastText(), QString());
        press(*m_keys, Key::downArrow);
        press(*m_keys, Key::returnKey);
        QTRY_COMPARE(m_standin.record().runs(), QStringList{"Autoflow/key"});
    }
};

QTEST_GUILESS_MAIN(KeyEventsTest)
#include "tst_key_events.moc"
