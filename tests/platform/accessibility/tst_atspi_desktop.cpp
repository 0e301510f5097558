// The accessibility backend against the stand-in, inside a private desktop session: the
// translated tree, the reads the launcher relies on, the writes and actions, and trust.

#include "DesktopTestSupport.h"
#include "launch/FigmaUITraversal.h"
#include "platform/linux/AtspiAccessibility.h"

#include <QElapsedTimer>
#include <QtTest>

#include <signal.h>

#include <unordered_map>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QStringList traversal = {"AXFocusedWindow", "AXMainWindow", "AXWindows", "AXChildren",
                               "AXContents"};

} // namespace

class TstAtspiDesktop : public QObject {
    Q_OBJECT

    AtspiAccessibility ax;
    FigmaUITraversal ui{ax, traversal};

    QString role(const AXElement& e) { return ui.stringAttribute(e, "AXRole").value_or(""); }
    QString label(const AXElement& e) { return ui.elementLabel(e).value_or(""); }

    // Toolkits register with the accessibility bus a little after their window shows.
    AXElement waitForApplication(qint64 pid) {
        QElapsedTimer clock;
        if (pid <= 0)
            return {};
        clock.start();
        while (clock.elapsed() < 10000) {
            AXElement app = ax.applicationElement(pid);
            if (!app.isNull() && !ui.elementsAttribute(app, "AXWindows").empty())
                return app;
            QTest::qWait(50);
        }
        return {};
    }

    std::optional<AXElement> findLabelled(const AXElement& root, const QString& text,
                                          const QString& wantedRole = {}) {
        for (const AXElement& e : ui.collectDescendants(root, 8)) {
            if (label(e) == text && (wantedRole.isEmpty() || role(e) == wantedRole))
                return e;
        }
        return std::nullopt;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "runs only inside scripts/desktop-session");
    }

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
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette", "--nest", "2"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        QCOMPARE(role(app), QString("AXApplication"));
        QCOMPARE(app.identityHash(), ax.applicationElement(standin.pid()).identityHash());
        QVERIFY(app == ax.applicationElement(standin.pid()));

        const auto windows = ui.elementsAttribute(app, "AXWindows");
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), QString("AXWindow"));
        QCOMPARE(ui.stringAttribute(windows[0], "AXTitle"), QString("Stand-in Design"));
        const auto main = ui.elementsAttribute(app, "AXMainWindow");
        QCOMPARE(main.size(), std::size_t(1));
        QVERIFY(main[0] == windows[0]);
        QVERIFY(ui.elementsAttribute(app, "AXContents").empty());
        QVERIFY(ui.elementsAttribute(windows[0], "AXWindows").empty());

        const std::vector<AXElement> all = ui.collectDescendants(app, 8);
        std::unordered_map<std::size_t, QString> roles;
        for (const AXElement& e : all) {
            const QString r = role(e);
            roles[e.identityHash()] = r;
            // Nameless layout containers are left out; named ones stay.
            if (r == "AXGroup")
                QVERIFY2(ui.stringAttribute(e, "AXTitle").has_value(), "an anonymous group");
            // Every child names its parent, and the parent lists it.
            for (const AXElement& child : ui.elementsAttribute(e, "AXChildren")) {
                AXValue parent;
                QCOMPARE(ax.copyAttributeValue(child, "AXParent", parent), axSuccess);
                QCOMPARE(int(parent.kind), int(AXValue::Kind::element));
                QVERIFY2(parent.element == e, qPrintable(label(child)));
            }
        }

        for (const QString tab : {"All", "Assets", "Plugins"}) {
            QVERIFY2(findLabelled(app, tab, "AXRadioButton"), qPrintable(tab));
        }
        QVERIFY(ui.findPluginsTab(app));

        // The placeholder, reported by Qt as the description, reads as the placeholder.
        const auto field = ui.findSearchField(app);
        QVERIFY(field);
        QCOMPARE(role(*field), QString("AXTextField"));
        QCOMPARE(ui.stringAttribute(*field, "AXPlaceholderValue"),
                 QString("Search actions and plugins"));
        QVERIFY(ui.isActionsPaletteOpen(app));
        QTRY_VERIFY(ui.isElementFocused(*field));

        // Results sit below two named groups.
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(result);
        QCOMPARE(role(*result), QString("AXButton"));
        AXValue parent;
        QCOMPARE(ax.copyAttributeValue(*result, "AXParent", parent), axSuccess);
        QCOMPARE(ui.stringAttribute(parent.element, "AXTitle"), QString("Result group 2"));
        QVERIFY(!ui.findMatchingResult(app, "No Such Plugin"));

        // The current tab reads as selected, the others not.
        const auto allTab = findLabelled(app, "All", "AXRadioButton");
        const auto pluginsTab = findLabelled(app, "Plugins", "AXRadioButton");
        QVERIFY(allTab && pluginsTab);
        QVERIFY(ui.booleanAttribute(*allTab, "AXSelected"));
        QVERIFY(!ui.booleanAttribute(*pluginsTab, "AXSelected"));
    }

    // A window without a title is a nameless container to the toolkit, yet it stays the
    // application's window instead of giving way to its contents.
    void namelessWindowStaysAWindow() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--untitled", "--open-palette"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        const auto windows = ui.elementsAttribute(app, "AXWindows");
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), QString("AXWindow"));
        QVERIFY(!ui.stringAttribute(windows[0], "AXTitle"));
        QVERIFY(ui.elementsAttribute(app, "AXMainWindow")[0] == windows[0]);
        const auto canvas = findLabelled(windows[0], "Canvas");
        QVERIFY(canvas);
        AXValue parent;
        QCOMPARE(ax.copyAttributeValue(*canvas, "AXParent", parent), axSuccess);
        QVERIFY(parent.element == windows[0]);
        QVERIFY(ui.findPluginsTab(app));
    }

    // A frozen application costs one unanswered request per search, not one per element read.
    void frozenApplicationEndsTheWalkAtOnce() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette"}));
        const AXElement app = waitForApplication(standin.pid());
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
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start());
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        // The palette exists but is hidden: none of its elements are in the tree.
        QVERIFY(!ui.isActionsPaletteOpen(app));
        QVERIFY(!ui.findPluginsTab(app));
        QVERIFY(!ui.findMatchingResult(app, "Iconify"));
        QVERIFY(!ui.findSearchField(app));
        QVERIFY(findLabelled(app, "Canvas"));
    }

    void pressRunsAResult() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        const auto result = ui.findMatchingResult(app, "café tools");
        QVERIFY(result);
        QVERIFY(ui.pressElementOrAncestor(*result));
        QVERIFY(standin.record().waitForEvent("run"));
        QCOMPARE(standin.record().runs(), QStringList{"Café Tools/press"});
        // Pressing closed the palette, and a fresh walk sees that.
        QTRY_VERIFY(!ui.isActionsPaletteOpen(app));
    }

    void staticResultCannotBePressed() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette", "--static-results"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(result);
        QCOMPARE(role(*result), QString("AXStaticText"));
        QCOMPARE(ax.performAction(*result, "AXPress"), axActionUnsupported);
        QVERIFY(ax.performAction(*result, "AXShowMenu") != axSuccess);
    }

    void setValueAndFocus() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        const auto field = ui.findSearchField(app);
        QVERIFY(field);

        QCOMPARE(ax.setAttributeValue(*field, "AXValue", AXValue::fromString("Icon")), axSuccess);
        QVERIFY(standin.record().waitFor(
            [](const QJsonObject& e) { return e.value("text").toString() == "Icon"; }));
        QCOMPARE(ui.stringAttribute(*field, "AXValue"), QString("Icon"));
        // The filter hid the other results, and the very next walk leaves them out.
        QVERIFY(!ui.findMatchingResult(app, "Autoflow"));
        QVERIFY(ui.findMatchingResult(app, "Iconify"));
        QCOMPARE(ax.setAttributeValue(*field, "AXValue", AXValue::fromString("")), axSuccess);
        QVERIFY(ui.findMatchingResult(app, "Autoflow"));
        QCOMPARE(ax.setAttributeValue(*field, "AXValue", AXValue::fromString("Icon")), axSuccess);
        QCOMPARE(ax.setAttributeValue(*field, "AXValue", AXValue::fromBool(true)),
                 axCannotComplete);

        // Result buttons never take focus; the window does, and the field takes it back.
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(ax.setAttributeValue(*result, "AXFocused", AXValue::fromBool(true)) != axSuccess);
        QTRY_VERIFY(ui.isElementFocused(*field));
        const auto windows = ui.elementsAttribute(app, "AXWindows");
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(ax.setAttributeValue(windows[0], "AXFocused", AXValue::fromBool(true)), axSuccess);
        QTRY_VERIFY(!ui.isElementFocused(*field));
        QVERIFY(ui.focusElement(*field));
        QTRY_VERIFY(ui.isElementFocused(*field));
    }

    void tabsSelectAndPress() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        const auto tab = ui.findPluginsTab(app);
        QVERIFY(tab);
        ui.activateTab(*tab);
        QVERIFY(standin.record().waitFor([](const QJsonObject& e) {
            return e.value("event").toString() == "tab" && e.value("name").toString() == "Plugins";
        }));
        QTRY_VERIFY(ui.booleanAttribute(*ui.findPluginsTab(app), "AXSelected"));
        // Assets are filtered out on the Plugins tab.
        QVERIFY(ui.findMatchingResult(app, "Iconify"));
    }

    // Walks are answered from a tree kept between walks; after changes it must read exactly as
    // a tree read afresh by a backend that never saw the application before.
    void keptTreeMatchesAFreshRead() {
        StandinProcess standin;
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(standin.start({"--open-palette", "--nest", "1"}));
        const AXElement app = waitForApplication(standin.pid());
        QVERIFY(!app.isNull());
        auto describe = [](FigmaUITraversal& t, const AXElement& root) {
            QStringList lines;
            for (const AXElement& e : t.collectDescendants(root, 8)) {
                lines << t.stringAttribute(e, "AXRole").value_or("-") + " " +
                             t.elementLabel(e).value_or("-") + " " +
                             (t.booleanAttribute(e, "AXSelected") ? "selected" : "");
            }
            return lines;
        };
        QVERIFY(describe(ui, app).size() > 10);

        const auto field = ui.findSearchField(app);
        QVERIFY(field);
        QCOMPARE(ax.setAttributeValue(*field, "AXValue", AXValue::fromString("o")), axSuccess);
        ui.activateTab(*ui.findPluginsTab(app));
        QVERIFY(standin.record().waitForEvent("tab"));
        const QStringList kept = describe(ui, app);

        AtspiAccessibility fresh;
        FigmaUITraversal freshUi(fresh, traversal);
        const AXElement freshApp = fresh.applicationElement(standin.pid());
        QCOMPARE(kept, describe(freshUi, freshApp));
        QVERIFY(kept.contains("AXRadioButton Plugins selected"));
        QVERIFY(!kept.contains("AXButton Unsplash ")); // filtered out: no "o" in it
        QVERIFY(kept.contains("AXButton Autoflow "));
        QVERIFY(!kept.contains("AXButton Card ")); // an asset, not on the Plugins tab
    }

    void foreignElementsAreRejected() {
        class Other : public AXElementRef {
        public:
            std::size_t identityHash() const override { return 1; }
            bool equals(const AXElementRef&) const override { return false; }
        };
        const AXElement foreign(std::make_shared<Other>());
        AXValue value;
        QVERIFY(ax.copyAttributeValue(foreign, "AXRole", value) != axSuccess);
        QVERIFY(ax.performAction(foreign, "AXPress") != axSuccess);
        QVERIFY(ax.copyAttributeValue(AXElement(), "AXRole", value) != axSuccess);
    }
};

QTEST_GUILESS_MAIN(TstAtspiDesktop)
#include "tst_atspi_desktop.moc"
