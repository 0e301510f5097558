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

#include <cstdlib>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

constexpr quint8 evdevKeycodeAC01 = 38; // "A" on a US keyboard

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

// The modifiers of the last key event `is` picks, as the stand-in names them.
QStringList modifiersOfLast(const StandinRecord& record,
                            const std::function<bool(const QJsonObject&)>& is) {
    QStringList names;
    for (const QJsonObject& e : record.events("key"))
        if (is(e))
            names = e.value("modifiers").toVariant().toStringList();
    return names;
}

} // namespace

class KeyEventsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<XTestKeyboard> m_keys;
    std::unique_ptr<X11Workspace> m_workspace;

    // Asks until the stand-in says it is active: the window manager ignores requests for a window
    // it has not finished managing.
    bool activate(qint64 pid) {
        return waitUntil([&] {
            if (const RunningApplicationPtr app = m_workspace->findRunning("brevlin-standin");
                app && app->processIdentifier() == pid)
                app->activate();
            return m_standin.waitUntilActive(200);
        });
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
    // keyboard says so rather than passing over it.
    void characterWithoutAFreeKeycodeIsReported() {
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
        QTRY_COMPARE(m_standin.record().lastText(), QString("ab"));
        QCOMPARE(m_keys->borrowedKeycodeCount(), 0);
    }

    void keysTypeTheirLetters() {
        QVERIFY(openPalette());
        for (Key key : {Key::a, Key::k, Key::k, Key::a})
            press(*m_keys, key);
        QTRY_COMPARE(m_standin.record().lastText(), QString("akka"));
        press(*m_keys, Key::a, KeyModifier::primary); // select all
        press(*m_keys, Key::deleteBackward);          // and erase
        QTRY_COMPARE(m_standin.record().lastText(), QString());
        press(*m_keys, Key::k, KeyModifier::shift);
        QTRY_COMPARE(m_standin.record().lastText(), QString("K"));
    }

    // The launch's keys on other layouts: the layout's own key where it has the letter (A moves
    // on AZERTY), else the US position, which the target's Latin fallback reads as the letter.
    void launchKeysWorkOnEveryLayout_data() {
        QTest::addColumn<QString>("layout");
        for (const char* layout : {"fr", "de", "ru,us"})
            QTest::newRow(layout) << QString::fromLatin1(layout);
    }
    void launchKeysWorkOnEveryLayout() {
        QFETCH(QString, layout);
        QVERIFY(setKeyboardLayout(layout));
        QTest::qWait(200);
        QVERIFY(openPalette());
        // Latin letters a Cyrillic group lacks go on borrowed keycodes.
        typeText(*m_keys, QStringLiteral("Cafe"));
        QTRY_COMPARE(m_standin.record().lastText(), QStringLiteral("Cafe"));
        // Given back, as after any pause in typing: while a borrowed keycode carries "a", Qt
        // refuses the Latin fallback of the A key (it looks for keys of the current group that
        // give the same letter), so Ctrl+A at its US position would not select all.
        m_keys->restoreKeyboardMapping();
        press(*m_keys, Key::a, KeyModifier::primary); // select all
        press(*m_keys, Key::deleteBackward);          // and erase
        QTRY_COMPARE(m_standin.record().lastText(), QString());
        press(*m_keys, Key::downArrow);
        press(*m_keys, Key::returnKey);
        QTRY_COMPARE(m_standin.record().runs(), QStringList{"Autoflow/key"});
    }

    void letterMissingFromTheLayoutGoesOnItsUsPosition() {
        QVERIFY(setKeyboardLayout("ru"));
        QTest::qWait(200);
        press(*m_keys, Key::k, KeyModifier::primary);
        QVERIFY(m_standin.record().waitForEvent("key", {{"keycode", evdevKeycodeAC08}}));
        QCOMPARE(modifiersOfLast(m_standin.record(),
                                 [](const QJsonObject& e) {
                                     return e.value("keycode").toInt() == evdevKeycodeAC08;
                                 }),
                 QStringList{"ctrl"});
        // Every launch key has a key to go on, the Latin letters at their US positions.
        for (Key key : {Key::a, Key::deleteBackward, Key::downArrow, Key::returnKey})
            press(*m_keys, key);
        QVERIFY(m_standin.record().waitForEvent("key", {{"keycode", evdevKeycodeAC01}}));
    }

    void typesAnyTextExactlyWithoutPauses() {
        QVERIFY(openPalette());
        const QString text = QString::fromUtf8("Café ✓ 😀 日本");
        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        typeText(*m_keys, text);
        QTRY_COMPARE(m_standin.record().lastText(), text);
        // Each of the five borrowed characters waited for the stand-in to answer a ping, so it
        // had read the new keymap before the key came.
        QCOMPARE(m_keys->keymapWaits().answered - before.answered, 5);
        QCOMPARE(m_keys->keymapWaits().paused, before.paused);
        // Only characters outside the layout borrow keycodes, and they are all given back.
        QVERIFY(m_keys->borrowedKeycodeCount() > 0);
        m_keys->restoreKeyboardMapping();
        QCOMPARE(m_keys->borrowedKeycodeCount(), 0);
        QCOMPARE(keycodesCarrying(keysymForCodePoint(U'日')), 0);
        QCOMPARE(keycodesCarrying(keysymForCodePoint(U'😀')), 0);
    }

    // Layouts name their letters by legacy keysyms (Cyrillic_ka), text asks by Unicode: the
    // layout's own keys must still be found, leaving the keymap alone.
    void layoutLettersTypeOnTheLayoutsOwnKeys() {
        QVERIFY(setKeyboardLayout("ru,us"));
        QTest::qWait(200);
        QVERIFY(openPalette());
        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        const QString text = QString::fromUtf8("Кафе Ёж");
        typeText(*m_keys, text);
        QTRY_COMPARE(m_standin.record().lastText(), text);
        QCOMPARE(m_keys->borrowedKeycodeCount(), 0);
        QCOMPARE(m_keys->keymapWaits().answered, before.answered);
        QCOMPARE(m_keys->keymapWaits().paused, before.paused);
    }

    // Where the focused window cannot be pinged, a borrowed character is typed after a pause.
    void borrowedCharacterWithoutAPingableTargetPauses() {
        // Nothing the window manager could hand the focus back to while we type.
        m_standin.stop();
        QTest::qWait(200);
        // A bare window of our own, out of the window manager's hands, that names no protocols.
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        const uint32_t overrideRedirect = 1;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        xcb_map_window(c, window);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
        auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const bool focused = focus && focus->focus == window;
        std::free(focus);

        const XTestKeyboard::KeymapWaits before = m_keys->keymapWaits();
        typeText(*m_keys, QString::fromUtf8("ñ"));
        const XTestKeyboard::KeymapWaits after = m_keys->keymapWaits();
        focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
        const bool stillFocused = focus && focus->focus == window;
        std::free(focus);
        xcb_destroy_window(c, window);
        xcb_disconnect(c);
        QVERIFY(focused && stillFocused);
        QCOMPARE(after.paused - before.paused, 1);
        QCOMPARE(after.answered, before.answered);
    }

    // A layout switch loads a whole keymap over the keycodes we borrowed: typing again borrows
    // afresh rather than pressing a keycode that is empty now.
    void layoutSwitchTakesBackBorrowedKeycodes() {
        QVERIFY(openPalette());
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ñ"));
        QVERIFY(setKeyboardLayout("us"));
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 0);
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ññ"));
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 1);
    }

    void spareKeycodesAreClearedAfterAPause() {
        QVERIFY(openPalette());
        typeText(*m_keys, QString::fromUtf8("ñ"));
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ñ"));
        QTRY_COMPARE(m_keys->borrowedKeycodeCount(), 0);
        QCOMPARE(keycodesCarrying(XKB_KEY_ntilde), 0);
    }

    void targetSeesExactlyTheModifiersWhileTheUserHoldsOthers() {
        // A hotkey press such as Ctrl+Alt+Shift+1 leaves its modifiers down when the launch starts.
        pressKeysym(XKB_KEY_Control_L, true);
        pressKeysym(XKB_KEY_Alt_L, true);
        pressKeysym(XKB_KEY_Shift_L, true);
        QVERIFY(openPalette());
        QCOMPARE(modifiersOfLast(m_standin.record(),
                                 [](const QJsonObject& e) { return e.value("key") == "K"; }),
                 QStringList{"ctrl"});

        // None asked for means none, even with three held.
        press(*m_keys, Key::downArrow);
        press(*m_keys, Key::returnKey);
        QTRY_COMPARE(m_standin.record().runs(), QStringList{"Autoflow/key"});
        for (const QJsonObject& e : m_standin.record().events("key"))
            if (e.value("key") == "Down" || e.value("key") == "Return")
                QCOMPARE(e.value("modifiers").toArray().size(), 0);

        // What the user holds is held again afterwards.
        QVERIFY(isKeysymDown(XKB_KEY_Control_L));
        QVERIFY(isKeysymDown(XKB_KEY_Alt_L));
        QVERIFY(isKeysymDown(XKB_KEY_Shift_L));
    }

    void typedTextIgnoresHeldModifiers() {
        QVERIFY(openPalette());
        pressKeysym(XKB_KEY_Alt_L, true);
        pressKeysym(XKB_KEY_Shift_L, true);
        typeText(*m_keys, QString::fromUtf8("ab é"));
        QTRY_COMPARE(m_standin.record().lastText(), QString::fromUtf8("ab é"));
        QVERIFY(isKeysymDown(XKB_KEY_Alt_L));
    }

    void systemAndAlternateGoOnSuperAndAlt() {
        press(*m_keys, Key::k, KeyModifier::system | KeyModifier::alternate);
        const auto isK = [](const QJsonObject& e) {
            return e.value("key").toString().endsWith("K");
        };
        QVERIFY(m_standin.record().waitFor(isK));
        QCOMPARE(modifiersOfLast(m_standin.record(), isK), (QStringList{"alt", "meta"}));
        QVERIFY(m_standin.record().events("palette").isEmpty());
    }

    void typesMoreCharactersThanThereAreSpareKeycodes() {
        QVERIFY(openPalette());
        // 60 distinct ideographs need more keycodes than a standard keymap leaves empty (about
        // twenty): they go in several batches. Every remapping costs each X client a keymap
        // reload, so the count stays modest.
        QString text;
        for (char32_t cp = 0x4E00; cp < 0x4E00 + 60; ++cp)
            text += QString::fromUcs4(&cp, 1);
        text += QString::fromUtf8("é日");
        typeText(*m_keys, text);
        QVERIFY2(m_standin.record().waitForEvent("text", {{"text", text}}, 10000),
                 qPrintable(m_standin.record().lastText()));
    }
};

QTEST_GUILESS_MAIN(KeyEventsTest)
#include "tst_key_events.moc"
