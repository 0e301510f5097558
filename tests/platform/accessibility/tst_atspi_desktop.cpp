// The accessibility backend against the stand-in, inside a private desktop session: the
// translated tree, the reads the launcher relies on, the writes and actions, and trust.

#include "AtspiRig.h"

#include <QtTest>

#include <atspi/atspi-constants.h>

#include <signal.h>

using namespace brevlin;
using namespace brevlin::testing;

class TstAtspiDesktop : public QObject, public AtspiRig {
    Q_OBJECT
    StandinProcess standin;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "runs only inside scripts/desktop-session");
    }
    void cleanup() { standin.stop(); }

    // First, while nothing has started with accessibility on.
    void trustFollowsTheDesktopSwitch() {
        QVERIFY(setAccessibilityEnabled(false));
        QVERIFY(!ax.isProcessTrusted(false));
        QVERIFY(!ax.isProcessTrusted(false));
        QVERIFY(ax.isProcessTrusted(true));
        QVERIFY(ax.isProcessTrusted(false));
        QVERIFY(setAccessibilityEnabled(false));
        QVERIFY(!ax.isProcessTrusted(false));
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(ax.isProcessTrusted(false));
    }

    void applicationOfAnotherProcessIsNull() { QVERIFY(ax.applicationElement(999999).isNull()); }

    void translatedTree() {
        const AccessibleElement app = startStandin(standin, {"--open-palette", "--nest", "2"});
        QVERIFY(!app.isNull());
        QCOMPARE(role(app), Role::application);
        QCOMPARE(app.identityHash(), ax.applicationElement(standin.pid()).identityHash());
        QVERIFY(app == ax.applicationElement(standin.pid()));

        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), Role::window);
        QCOMPARE(ax.text(windows[0], LabelText::title), QString("Stand-in Design"));
        const auto main = ax.elements(app, Relation::mainWindow);
        QCOMPARE(main.size(), std::size_t(1));
        QVERIFY(main[0] == windows[0]);
        QVERIFY(ax.elements(app, Relation::contents).empty());
        QVERIFY(ax.elements(windows[0], Relation::windows).empty());
        QVERIFY(!ax.parent(app));

        const std::vector<AccessibleElement> all = ui.collectDescendants(app, 8);
        for (const AccessibleElement& e : all) {
            // Nameless layout containers are left out; named ones stay.
            const int platformRole = ax.platformRole(e);
            if (platformRole == ATSPI_ROLE_FILLER || platformRole == ATSPI_ROLE_PANEL ||
                platformRole == ATSPI_ROLE_SECTION || platformRole == ATSPI_ROLE_GROUPING)
                QVERIFY2(ax.text(e, LabelText::title).has_value(), "an anonymous group");
            // Every child names its parent, and the parent lists it.
            for (const AccessibleElement& child : ax.elements(e, Relation::children))
                QVERIFY2(ax.parent(child) == e, qPrintable(label(child)));
        }

        for (const QString tab : {"All", "Assets", "Plugins"})
            QVERIFY2(findLabelled(app, tab, Role::tab), qPrintable(tab));
        QVERIFY(ui.findPluginsTab(app));

        // The placeholder, reported by Qt as the description, reads as the placeholder.
        const auto field = ui.findSearchField(app);
        QVERIFY(field);
        QCOMPARE(role(*field), Role::textField);
        QCOMPARE(ax.text(*field, LabelText::placeholder), QString("Search actions and plugins"));
        QVERIFY(ui.isActionsPaletteOpen(app));
        QTRY_VERIFY(ui.isElementFocused(*field));

        // Results sit below two named groups.
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(result);
        QCOMPARE(role(*result), Role::button);
        const std::optional<AccessibleElement> parent = ax.parent(*result);
        QVERIFY(parent);
        QCOMPARE(ax.text(*parent, LabelText::title), QString("Result group 2"));
        QVERIFY(!ui.findMatchingResult(app, "No Such Plugin"));

        // The current tab reads as selected, the others not.
        const auto allTab = findLabelled(app, "All", Role::tab);
        const auto pluginsTab = findLabelled(app, "Plugins", Role::tab);
        QVERIFY(allTab && pluginsTab);
        QVERIFY(ax.isSelected(*allTab));
        QVERIFY(!ax.isSelected(*pluginsTab));
    }

    // A window without a title is a nameless container to the toolkit, yet it stays the
    // application's window instead of giving way to its contents.
    void namelessWindowStaysAWindow() {
        const AccessibleElement app = startStandin(standin, {"--untitled", "--open-palette"});
        QVERIFY(!app.isNull());
        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), Role::window);
        QVERIFY(!ax.text(windows[0], LabelText::title));
        QVERIFY(ax.elements(app, Relation::mainWindow)[0] == windows[0]);
        const auto canvas = findLabelled(windows[0], "Canvas");
        QVERIFY(canvas);
        QVERIFY(ax.parent(*canvas) == windows[0]);
        QVERIFY(ui.findPluginsTab(app));
    }

    // A frozen application costs one unanswered request per search, not one per element read.
    void frozenApplicationEndsTheWalkAtOnce() {
        const AccessibleElement app = startStandin(standin, {"--open-palette"});
        QVERIFY(!app.isNull());
        QVERIFY(ui.findMatchingResult(app, "Iconify"));

        QCOMPARE(::kill(pid_t(standin.pid()), SIGSTOP), 0);
        const quint64 before = ax.requestCount();
        const auto frozen = ui.findMatchingResult(app, "Iconify");
        const quint64 sent = ax.requestCount() - before;
        QCOMPARE(::kill(pid_t(standin.pid()), SIGCONT), 0);
        QVERIFY(!frozen);
        QCOMPARE(sent, quint64(1));

        // Once it answers again, so does the search.
        QTRY_VERIFY_WITH_TIMEOUT(ui.findMatchingResult(app, "Iconify").has_value(), 10000);
    }

    void hiddenElementsAreLeftOut() {
        const AccessibleElement app = startStandin(standin, {});
        QVERIFY(!app.isNull());
        // The palette exists but is hidden: none of its elements are in the tree.
        QVERIFY(!ui.isActionsPaletteOpen(app));
        QVERIFY(!ui.findPluginsTab(app));
        QVERIFY(!ui.findMatchingResult(app, "Iconify"));
        QVERIFY(!ui.findSearchField(app));
        QVERIFY(findLabelled(app, "Canvas"));
    }

    void staticResultCannotBePressed() {
        const AccessibleElement app = startStandin(standin, {"--open-palette", "--static-results"});
        QVERIFY(!app.isNull());
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(result);
        QCOMPARE(role(*result), Role::staticText);
        QVERIFY(!ax.press(*result));
        QVERIFY(!ax.select(*result));
    }

    void setValueAndFocus() {
        const AccessibleElement app = startStandin(standin, {"--open-palette"});
        QVERIFY(!app.isNull());
        const auto field = ui.findSearchField(app);
        QVERIFY(field);

        QVERIFY(ax.setText(*field, "Icon"));
        QVERIFY(standin.record().waitFor(
            [](const QJsonObject& e) { return e.value("text").toString() == "Icon"; }));
        QCOMPARE(ax.text(*field, LabelText::value), QString("Icon"));
        // The filter hid the other results, and the very next walk leaves them out.
        QVERIFY(!ui.findMatchingResult(app, "Autoflow"));
        QVERIFY(ui.findMatchingResult(app, "Iconify"));
        QVERIFY(ax.setText(*field, ""));
        QVERIFY(ui.findMatchingResult(app, "Autoflow"));
        QVERIFY(ax.setText(*field, "Icon"));

        // Result buttons never take focus; the window does, and the field takes it back.
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(!ax.focus(*result));
        QTRY_VERIFY(ui.isElementFocused(*field));
        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QVERIFY(ax.focus(windows[0]));
        QTRY_VERIFY(!ui.isElementFocused(*field));
        QVERIFY(ui.focusElement(*field));
        QTRY_VERIFY(ui.isElementFocused(*field));
    }

    void tabSelectsAndResultRuns() {
        const AccessibleElement app = startStandin(standin, {"--open-palette"});
        QVERIFY(!app.isNull());
        // A walk has a bounded time; on a loaded machine the first may not reach the tab.
        std::optional<AccessibleElement> tab;
        QTRY_VERIFY((tab = ui.findPluginsTab(app)).has_value());
        ui.activateTab(*tab);
        QVERIFY(standin.record().waitForEvent("tab", {{"name", "Plugins"}}));
        QTRY_VERIFY((tab = ui.findPluginsTab(app)) && ax.isSelected(*tab));
        // Assets are filtered out on the Plugins tab; plugins stay, and a press runs one.
        std::optional<AccessibleElement> result;
        QTRY_VERIFY((result = ui.findMatchingResult(app, "café tools")).has_value());
        QVERIFY(ui.pressElementOrAncestor(*result));
        QVERIFY(standin.record().waitForEvent("run"));
        QCOMPARE(standin.record().runs(), QStringList{"Café Tools/press"});
        // Pressing closed the palette, and a fresh walk sees that.
        QTRY_VERIFY(!ui.isActionsPaletteOpen(app));
    }

    // Walks are answered from a tree kept between walks; after changes it must read exactly as
    // a tree read afresh by a backend that never saw the application before.
    void keptTreeMatchesAFreshRead() {
        const AccessibleElement app = startStandin(standin, {"--open-palette", "--nest", "1"});
        QVERIFY(!app.isNull());
        QVERIFY(describe(ax, ui, app).size() > 10);

        const auto field = ui.findSearchField(app);
        QVERIFY(field);
        QVERIFY(ax.setText(*field, "o"));
        ui.activateTab(*ui.findPluginsTab(app));
        QVERIFY(standin.record().waitForEvent("tab"));
        const QString difference = differenceFromFreshRead(app, standin.pid());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        const QStringList kept = describe(ax, ui, app);
        QVERIFY(kept.contains("tab Plugins selected"));
        QVERIFY(!kept.contains("button Unsplash ")); // filtered out: no "o" in it
        QVERIFY(kept.contains("button Autoflow "));
        QVERIFY(!kept.contains("button Card ")); // an asset, not on the Plugins tab
    }

    void foreignElementsAreRejected() {
        class Other : public AccessibleElementRef {
        public:
            std::size_t identityHash() const override { return 1; }
            bool equals(const AccessibleElementRef&) const override { return false; }
        };
        const AccessibleElement foreign(std::make_shared<Other>());
        QCOMPARE(ax.role(foreign), Role::other);
        QVERIFY(!ax.text(foreign, LabelText::title));
        QVERIFY(ax.elements(foreign, Relation::children).empty());
        QVERIFY(!ax.parent(foreign));
        QVERIFY(!ax.press(foreign));
        QVERIFY(!ax.focus(foreign));
        QVERIFY(!ax.setText(foreign, "x"));
        QVERIFY(!ax.select(foreign));
        QVERIFY(!ax.text(AccessibleElement(), LabelText::title));
        QVERIFY(!ax.confirmElement(foreign));
    }
};

QTEST_GUILESS_MAIN(TstAtspiDesktop)
#include "tst_atspi_desktop.moc"
