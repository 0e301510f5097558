// How AT-SPI objects read in the launcher's terms, for the forms toolkits actually report.

#include "platform/linux/AtspiTranslate.h"
#include "support/RoleNames.h"

#include <QtTest>

#include <atspi/atspi-constants.h>

using namespace brevlin;

namespace {

quint64 states(std::initializer_list<AtspiStateType> list) {
    quint64 bits = 0;
    for (AtspiStateType s : list)
        bits |= quint64(1) << int(s);
    return bits;
}

AtspiObjectInfo object(AtspiRole role, QString name = {}, QString description = {},
                       quint64 stateBits = states({ATSPI_STATE_SHOWING})) {
    AtspiObjectInfo info;
    info.role = role;
    info.name = std::move(name);
    info.description = std::move(description);
    info.states = stateBits;
    return info;
}

// A single-line entry, as toolkits report their search fields.
AtspiObjectInfo entry(QString name, QString description, std::optional<QString> text,
                      QHash<QString, QString> attributes = {}) {
    AtspiObjectInfo info =
        object(ATSPI_ROLE_ENTRY, std::move(name), std::move(description),
               states({ATSPI_STATE_SHOWING, ATSPI_STATE_EDITABLE, ATSPI_STATE_SINGLE_LINE}));
    info.text = std::move(text);
    info.attributes = std::move(attributes);
    return info;
}

} // namespace

Q_DECLARE_METATYPE(AtspiObjectInfo)

class TstAtspiTranslate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roles_data() {
        QTest::addColumn<int>("role");
        QTest::addColumn<quint64>("states");
        QTest::addColumn<Role>("expected");
        const quint64 editableLine = states({ATSPI_STATE_EDITABLE, ATSPI_STATE_SINGLE_LINE});
        QTest::newRow("entry") << int(ATSPI_ROLE_ENTRY) << editableLine << Role::textField;
        QTest::newRow("multi-line entry")
            << int(ATSPI_ROLE_ENTRY) << states({ATSPI_STATE_EDITABLE, ATSPI_STATE_MULTI_LINE})
            << Role::other;
        QTest::newRow("editable single-line text")
            << int(ATSPI_ROLE_TEXT) << editableLine << Role::textField;
        QTest::newRow("read-only text") << int(ATSPI_ROLE_TEXT) << quint64(0) << Role::staticText;
        QTest::newRow("push button") << int(ATSPI_ROLE_PUSH_BUTTON) << quint64(0) << Role::button;
        QTest::newRow("toggle button")
            << int(ATSPI_ROLE_TOGGLE_BUTTON) << quint64(0) << Role::button;
        QTest::newRow("page tab") << int(ATSPI_ROLE_PAGE_TAB) << quint64(0) << Role::tab;
        QTest::newRow("radio button") << int(ATSPI_ROLE_RADIO_BUTTON) << quint64(0) << Role::tab;
        QTest::newRow("label") << int(ATSPI_ROLE_LABEL) << quint64(0) << Role::staticText;
        QTest::newRow("static") << int(ATSPI_ROLE_STATIC) << quint64(0) << Role::staticText;
        QTest::newRow("frame") << int(ATSPI_ROLE_FRAME) << quint64(0) << Role::window;
        QTest::newRow("dialog") << int(ATSPI_ROLE_DIALOG) << quint64(0) << Role::dialog;
        QTest::newRow("window") << int(ATSPI_ROLE_WINDOW) << quint64(0) << Role::window;
        QTest::newRow("application")
            << int(ATSPI_ROLE_APPLICATION) << quint64(0) << Role::application;
    }
    void roles() {
        QFETCH(int, role);
        QFETCH(quint64, states);
        QFETCH(Role, expected);
        QCOMPARE(atspi::roleOf(quint32(role), states), expected);
    }

    // "title|description|value|placeholder", "-" for absent: an empty label is not none.
    void texts_data() {
        QTest::addColumn<AtspiObjectInfo>("info");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nameless button") << object(ATSPI_ROLE_PUSH_BUTTON) << "-|-|-|-";
        // A button's description is a description, not a placeholder.
        QTest::newRow("named button")
            << object(ATSPI_ROLE_PUSH_BUTTON, "Run", "Runs it") << "Run|Runs it|-|-";
        QTest::newRow("static text is its own value")
            << object(ATSPI_ROLE_LABEL, "Iconify") << "Iconify|-|Iconify|-";
        // Qt reports a line edit's placeholder as its description.
        QTest::newRow("Qt line edit")
            << entry({}, "Search actions", QString()) << "|-|-|Search actions";
        // Chromium reports it as the name, marked by the object attribute name-from:placeholder;
        // the title is then present but empty, so the typed text is not the field's label.
        QTest::newRow("Chromium placeholder")
            << entry("Search", {}, "abc", {{"name-from", "placeholder"}}) << "|-|abc|Search";
        QTest::newRow("name from a label")
            << entry("Search", {}, "abc", {{"name-from", "related-element"}}) << "Search|-|abc|-";
        QTest::newRow("placeholder attribute wins")
            << entry("Query", "Type to find", {}, {{"placeholder-text", "Search everything"}})
            << "Query|Type to find|-|Search everything";
    }
    void texts() {
        QFETCH(AtspiObjectInfo, info);
        QFETCH(QString, expected);
        const ElementTexts texts = atspi::textsOf(info);
        QStringList shown;
        for (LabelText which :
             {LabelText::title, LabelText::description, LabelText::value, LabelText::placeholder})
            shown.append(texts[which].value_or("-"));
        QCOMPARE(shown.join('|'), expected);
    }

    // Whatever a toolkit calls its top-level objects, the application's children are windows.
    // Nameless generic containers collapse. The state set spans two words. Chromium takes
    // "showing" from what is scrolled out of view and keeps "visible"; hidden elements (and
    // Chromium's hidden views) have neither. A focused tab counts as selected.
    void predicates() {
        for (AtspiRole role :
             {ATSPI_ROLE_PANEL, ATSPI_ROLE_FILLER, ATSPI_ROLE_PUSH_BUTTON, ATSPI_ROLE_DOCUMENT_WEB})
            QCOMPARE(atspi::roleOf(quint32(role), 0, true), Role::window);
        QCOMPARE(atspi::roleOf(ATSPI_ROLE_APPLICATION, 0, true), Role::application);
        QCOMPARE(atspi::roleOf(ATSPI_ROLE_PANEL, 0, false), Role::other);
        QCOMPARE(atspi::roleOf(ATSPI_ROLE_DOCUMENT_WEB, 0, false), Role::webArea);
        QVERIFY(atspi::isCollapsedContainer(object(ATSPI_ROLE_FILLER)));
        QVERIFY(atspi::isCollapsedContainer(object(ATSPI_ROLE_PANEL, "  ")));
        QVERIFY(atspi::isCollapsedContainer(object(ATSPI_ROLE_SECTION)));
        QVERIFY(!atspi::isCollapsedContainer(object(ATSPI_ROLE_FILLER, "Actions")));
        QVERIFY(!atspi::isCollapsedContainer(object(ATSPI_ROLE_PUSH_BUTTON)));
        QVERIFY(!atspi::isCollapsedContainer(object(ATSPI_ROLE_LIST)));
        QVERIFY(!atspi::isCollapsedContainer(object(ATSPI_ROLE_PAGE_TAB_LIST)));
        const quint64 bits =
            atspi::stateBits(1u << ATSPI_STATE_FOCUSED, 1u << (ATSPI_STATE_CHECKABLE - 32));
        QVERIFY(atspi::hasState(bits, ATSPI_STATE_FOCUSED));
        QVERIFY(atspi::hasState(bits, ATSPI_STATE_CHECKABLE));
        QVERIFY(!atspi::hasState(bits, ATSPI_STATE_SHOWING));
        QVERIFY(!atspi::hasState(bits, 64));
        QVERIFY(atspi::isShowing(states({ATSPI_STATE_SHOWING, ATSPI_STATE_VISIBLE})));
        QVERIFY(atspi::isShowing(states({ATSPI_STATE_VISIBLE, ATSPI_STATE_ENABLED})));
        QVERIFY(!atspi::isShowing(states({ATSPI_STATE_ENABLED, ATSPI_STATE_SENSITIVE})));
        QVERIFY(!atspi::isShowing(0));
        const quint64 focused = states({ATSPI_STATE_SHOWING, ATSPI_STATE_FOCUSED});
        QVERIFY(atspi::isSelected(object(ATSPI_ROLE_PAGE_TAB, "Plugins", {}, focused)));
        QVERIFY(atspi::isFocused(object(ATSPI_ROLE_PAGE_TAB, "Plugins", {}, focused)));
        QVERIFY(!atspi::isSelected(object(ATSPI_ROLE_PUSH_BUTTON, "Run", {}, focused)));
        QVERIFY(!atspi::isSelected(object(ATSPI_ROLE_PAGE_TAB, "All")));
        QVERIFY(atspi::isSelected(
            object(ATSPI_ROLE_LIST_ITEM, "x", {}, states({ATSPI_STATE_SELECTED}))));
        QCOMPARE(atspi::pressActionIndex({"SetFocus", "Press"}), 1);
        QCOMPARE(atspi::pressActionIndex({"click", "jump"}), 0);
        QCOMPARE(atspi::pressActionIndex({"showMenu", "Toggle"}), 1);
        QCOMPARE(atspi::pressActionIndex({"SetFocus", "Increase"}), -1);
        QCOMPARE(atspi::pressActionIndex({}), -1);
        // Chromium's names: a tab clicks, a button presses, a field activates; its frame's
        // default action and context menus are no press.
        QCOMPARE(atspi::pressActionIndex({"click", "showContextMenu"}), 0);
        QCOMPARE(atspi::pressActionIndex({"showContextMenu", "press"}), 1);
        QCOMPARE(atspi::pressActionIndex({"doDefault", "showContextMenu"}), -1);
        QCOMPARE(atspi::pressActionIndex({"", ""}), -1);
    }
};

QTEST_GUILESS_MAIN(TstAtspiTranslate)
#include "tst_atspi_translate.moc"
