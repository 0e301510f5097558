// The accessibility backend inside a private desktop session against the palette in two
// applications, the stand-in (Qt) and a Chromium-hosted page: each tree translated alike, pressed
// and selected by the toolkit's own action names. Chromium publishes its tree only on request, and
// the tree kept between walks reads exactly as a fresh one while its page changes.

#include "AtspiRig.h"
#include "platform/linux/AtspiBus.h"
#include "platform/linux/AtspiTree.h"

#include <QtTest>

#include <atspi/atspi-constants.h>

using namespace brevlin;
using namespace brevlin::testing;
using brevlin::atspi::Variant;

class TstAtspiChromium : public QObject, public AtspiRig {
    Q_OBJECT

    // The row's application, the palette open in it: the stand-in (with `arguments`, and
    // "--untitled" for the untitled row) or the Chromium-hosted page.
    StandinProcess standin;
    ChromiumPalette page;
    bool onChromium = false;
    AccessibleElement start(QStringList arguments) {
        QFETCH(QString, target);
        onChromium = target == "Chromium";
        if (onChromium)
            return page.start("open=1") ? waitForPage(page.pid()) : AccessibleElement();
        if (target == "untitled")
            arguments << "--untitled";
        return startStandin(standin, arguments);
    }
    static void addTargets(const QStringList& targets) {
        QTest::addColumn<QString>("target");
        for (const QString& target : targets)
            QTest::newRow(qPrintable(target)) << target;
    }

    // Waits until the application is on the bus and its page is in the tree: asking for the
    // application element is what makes Chromium publish it.
    AccessibleElement waitForPage(qint64 pid) {
        return waitForApplication(pid, [this](const AccessibleElement& app) {
            for (const AccessibleElement& e : ui.collectDescendants(app, 8)) {
                if (ax.role(e) == Role::webArea && !ax.elements(e, Relation::children).empty())
                    return true;
            }
            return false;
        });
    }

    // Keys as the user's keyboard sends them to the focused window.
    static void pressCtrl(quint32 keysym) {
        pressKeysym(0xffe3, true); // Control_L
        pressKeysym(keysym, true);
        pressKeysym(keysym, false);
        pressKeysym(0xffe3, false);
    }
    static void pressCtrlK() { pressCtrl('k'); }
    static void typeKey(quint32 keysym) {
        pressKeysym(keysym, true);
        pressKeysym(keysym, false);
    }

    // The children a GetChildren reply names (null references left out).
    static std::vector<atspi::ObjectRef> children(atspi::Bus& bus, const atspi::ObjectRef& of) {
        std::vector<atspi::ObjectRef> named;
        Variant reply = bus.call(of.busName, of.path, atspi::accessibleInterface, "GetChildren",
                                 nullptr, G_VARIANT_TYPE("(a(so))"));
        if (!reply)
            return named;
        Variant list(g_variant_get_child_value(reply.get(), 0));
        for (const atspi::ObjectRef& ref : atspi::objectRefs(list.get())) {
            if (!atspi::isNullRef(ref))
                named.push_back(ref);
        }
        return named;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "runs only inside scripts/desktop-session");
        QVERIFY(setAccessibilityEnabled(true));
    }
    void cleanup() {
        standin.stop();
        page.stop();
    }

    // Without forced accessibility Chromium publishes only the application and its window;
    // asking for the application element wakes the rest, the page a moment later.
    void wakesAFreshlyStartedChromium() {
        ChromiumPalette chromium;
        QVERIFY(chromium.start("open=1"));
        // Read straight from the bus first, as a client that never asks for attributes: the
        // application and its window, with nothing named below the window.
        atspi::Bus bus;
        QVERIFY(bus.ensureConnected());
        std::optional<atspi::ObjectRef> window;
        waitUntil(
            [&] {
                for (const atspi::ObjectRef& app :
                     children(bus, {"org.a11y.atspi.Registry", atspi::rootPath})) {
                    Variant pid = bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                           g_variant_new("(s)", app.busName.toUtf8().constData()),
                                           G_VARIANT_TYPE("(u)"));
                    guint32 value = 0;
                    if (pid)
                        g_variant_get(pid.get(), "(u)", &value);
                    if (qint64(value) != chromium.pid())
                        continue;
                    const auto windows = children(bus, app);
                    if (!windows.empty())
                        window = windows.front();
                }
                return window.has_value();
            },
            10000);
        QVERIFY(window);
        // The page has shown (its title says so) and the window has registered: a tree published
        // unasked would hang below the window by now.
        QVERIFY(chromium.waitFor([](const PaletteState& s) { return s.open; }));
        QVERIFY(children(bus, *window).empty());

        const AccessibleElement app = waitForPage(chromium.pid());
        QVERIFY2(!app.isNull(), "the page never showed up in the tree");
        QVERIFY(search([&] { return ui.isActionsPaletteOpen(app); }));
    }

    // The untitled stand-in's window is a nameless container to Qt, yet it stays the application's
    // window. The stand-in's results sit below two named groups; the Chromium page's All tab lists
    // a tutorial first, and the exact label wins.
    void translatedTree_data() { addTargets({"stand-in", "untitled", "Chromium"}); }
    void translatedTree() {
        const AccessibleElement app = start({"--open-palette", "--nest", "2"});
        QVERIFY(!app.isNull());
        const qint64 pid = onChromium ? page.pid() : standin.pid();
        QCOMPARE(role(app), Role::application);
        QVERIFY(app == ax.applicationElement(pid));
        QCOMPARE(app.identityHash(), ax.applicationElement(pid).identityHash());
        QVERIFY(!ax.parent(app));
        QVERIFY(ax.elements(app, Relation::contents).empty());

        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), Role::window);
        QVERIFY(ax.elements(app, Relation::mainWindow)[0] == windows[0]);
        QVERIFY(ax.elements(windows[0], Relation::windows).empty());
        const std::optional<QString> title = ax.text(windows[0], LabelText::title);
        QFETCH(QString, target);
        if (target == "untitled")
            QVERIFY(!title);
        else
            QVERIFY(title && title->startsWith(onChromium ? "Palette|open=1" : "Stand-in Design"));

        for (const QString name : {"All", "Assets", "Plugins"}) {
            const auto tab = search([&] { return findLabelled(app, name, Role::tab); });
            QVERIFY2(tab, qPrintable(name));
            QCOMPARE(ax.isSelected(*tab), name == "All");
        }
        QVERIFY(search([&] { return ui.findPluginsTab(app); }));

        // Qt reports the placeholder as the description; Chromium names the field after it and
        // says so. Either way a placeholder, and an empty title.
        const auto field = search([&] { return ui.findSearchField(app); });
        QVERIFY(field);
        QCOMPARE(role(*field), Role::textField);
        QCOMPARE(ax.text(*field, LabelText::placeholder), QString("Search actions and plugins"));
        QCOMPARE(ax.text(*field, LabelText::title), QString(""));
        QVERIFY(search([&] { return ui.isActionsPaletteOpen(app); }));
        QTRY_VERIFY(ui.isElementFocused(*field));

        const auto found = search(
            [&] { return ui.findMatchingResult(app, onChromium ? "content reel" : "Iconify"); });
        QVERIFY(found);
        QCOMPARE(role(*found), Role::button);
        QCOMPARE(label(*found), QString(onChromium ? "Content Reel" : "Iconify"));
        QVERIFY(absent([&] { return ui.findMatchingResult(app, "No Such Plugin"); }));
        if (!onChromium) {
            QCOMPARE(ax.text(*ax.parent(*found), LabelText::title), QString("Result group 2"));
            const auto canvas = findLabelled(windows[0], "Canvas");
            QVERIFY(canvas && ax.parent(*canvas) == windows[0]);
        }

        // Every child names its parent, and nameless layout containers other than the window
        // are left out.
        for (const AccessibleElement& e : readWhole(ax, ui, app)) {
            const int platformRole = ax.platformRole(e);
            if ((platformRole == ATSPI_ROLE_FILLER || platformRole == ATSPI_ROLE_PANEL ||
                 platformRole == ATSPI_ROLE_SECTION || platformRole == ATSPI_ROLE_GROUPING) &&
                role(e) != Role::window)
                QVERIFY2(ax.text(e, LabelText::title).has_value(), "an anonymous group");
            for (const AccessibleElement& child : ax.elements(e, Relation::children))
                QVERIFY2(ax.parent(child) == e, qPrintable(label(child)));
        }
    }

    // Each toolkit names its actions: Qt "Press"; Chromium "click" for a tab and "press" for a
    // button, with empty localized names. The Plugins tab leaves out what is no plugin (an
    // asset, a tutorial), and the closed palette leaves the tree.
    void pressesTabAndResult_data() { addTargets({"stand-in", "Chromium"}); }
    void pressesTabAndResult() {
        const AccessibleElement app = start({"--open-palette"});
        QVERIFY(!app.isNull());
        const auto tab = search([&] { return ui.findPluginsTab(app); });
        QVERIFY(tab);
        QVERIFY(ax.press(*tab));
        QVERIFY(onChromium ? page.waitFor([](const PaletteState& s) { return s.tab == "Plugins"; })
                           : standin.record().waitForEvent("tab", {{"name", "Plugins"}}));
        // Right after Chromium wakes every walk reads afresh, and on a slow machine every other
        // one stops before the tab: each check searches over walks as the launcher does.
        QTRY_VERIFY([&] {
            const auto selected = search([&] { return ui.findPluginsTab(app); });
            return selected && ax.isSelected(*selected);
        }());
        const QString notAPlugin = onChromium ? "Content Reel tutorial" : "Card";
        QVERIFY(absent([&] { return ui.findMatchingResult(app, notAPlugin); }));

        const QString plugin = onChromium ? "Content Reel" : "café tools";
        const auto result = search([&] { return ui.findMatchingResult(app, plugin); });
        QVERIFY(result);
        QVERIFY(ui.pressElementOrAncestor(*result));
        QVERIFY(onChromium ? page.waitFor([](const PaletteState& s) { return !s.runs.isEmpty(); })
                           : standin.record().waitForEvent("run"));
        QCOMPARE(onChromium ? page.state().runs : standin.record().runs(),
                 QStringList{onChromium ? "Content Reel/press" : "Café Tools/press"});
        // Pressing closed the palette: hidden, none of its elements are in the tree.
        QTRY_VERIFY(absent([&] { return ui.isActionsPaletteOpen(app); }));
        QVERIFY(absent([&] { return ui.findPluginsTab(app); }));
        QVERIFY(absent([&] { return ui.findSearchField(app); }));
        QVERIFY(absent([&] { return ui.findMatchingResult(app, plugin); }));

        // A text that cannot be pressed, whose parents have no Selection, is not pressed.
        const auto canvasText =
            search([&] { return findLabelled(app, "Canvas", Role::staticText); });
        QVERIFY(canvasText);
        QVERIFY(!ax.select(*canvasText));
    }

    // Select All shows as the whole text selected, and typing over it as no selection; an
    // empty field has nothing selected.
    void readsWhetherAllTextIsSelected_data() { addTargets({"stand-in", "Chromium"}); }
    void readsWhetherAllTextIsSelected() {
        const AccessibleElement app = start({"--open-palette"});
        QVERIFY(!app.isNull());
        const auto field = search([&] { return ui.findSearchField(app); });
        QVERIFY(field);
        QVERIFY(ax.focus(*field));
        QTRY_VERIFY(ax.isFocused(*field));
        QVERIFY(!ax.isAllTextSelected(*field));
        typeKey('a');
        typeKey('b');
        // The text shown is the barrier: both keys were handled, neither selected anything.
        QTRY_COMPARE(ax.text(*field, LabelText::value).value_or(QString()), QStringLiteral("ab"));
        QVERIFY(!ax.isAllTextSelected(*field));
        pressCtrl('a');
        QTRY_VERIFY(ax.isAllTextSelected(*field));
        typeKey('c');
        QTRY_COMPARE(ax.text(*field, LabelText::value).value_or(QString()), QStringLiteral("c"));
        QVERIFY(!ax.isAllTextSelected(*field));
    }

    // The tree kept between walks against a fresh read after every change the launcher causes:
    // the palette opening and closing (the page's focus moves, its nodes come and go) and the
    // results filtered by typing.
    void keptTreeMatchesAFreshRead() {
        ChromiumPalette chromium;
        QVERIFY(chromium.start());
        const AccessibleElement app = waitForPage(chromium.pid());
        QVERIFY(!app.isNull());
        QVERIFY(waitForActivePid(chromium.pid()));
        QVERIFY(waitUntilKept(app));
        QVERIFY(sameAsFreshRead(app, chromium.pid(), "closed at start"));
        QVERIFY(absent([&] { return ui.isActionsPaletteOpen(app); }));

        for (int round = 0; round < 3; ++round) {
            pressCtrlK();
            QVERIFY(chromium.waitFor([](const PaletteState& s) { return s.open; }));
            QTRY_VERIFY(ui.isActionsPaletteOpen(app));
            QVERIFY(sameAsFreshRead(app, chromium.pid(), "opened"));
            QVERIFY(search([&] { return ui.findMatchingResult(app, "Autoflow"); }));

            typeKey('o');
            typeKey('w');
            QTRY_VERIFY(absent([&] { return ui.findMatchingResult(app, "Iconify"); }));
            QVERIFY(sameAsFreshRead(app, chromium.pid(), "filtered"));
            QVERIFY(search([&] { return ui.findMatchingResult(app, "Autoflow"); }));
            typeKey(0xff08); // BackSpace
            typeKey(0xff08);
            QTRY_VERIFY(ui.findMatchingResult(app, "Iconify").has_value());
            QVERIFY(sameAsFreshRead(app, chromium.pid(), "filter cleared"));

            pressCtrlK();
            QVERIFY(chromium.waitFor([](const PaletteState& s) { return !s.open; }));
            // Closing right after a walk: the very next walk must see it.
            QTRY_VERIFY(absent([&] { return ui.isActionsPaletteOpen(app); }));
            QVERIFY(sameAsFreshRead(app, chromium.pid(), "closed"));
            QVERIFY(absent([&] { return ui.findMatchingResult(app, "Autoflow"); }));
            QVERIFY(search([&] { return findLabelled(app, "Canvas"); }));
        }
    }
};

QTEST_GUILESS_MAIN(TstAtspiChromium)
#include "tst_atspi_chromium.moc"
