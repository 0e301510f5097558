// The accessibility backend against a Chromium-hosted palette, inside a private desktop session:
// Chromium's tree published on request, translated, pressed and selected by its action names,
// and the tree kept between walks reading exactly as a fresh one while the page changes.

#include "AtspiRig.h"
#include "platform/linux/AtspiBus.h"
#include "platform/linux/AtspiTree.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace brevlin;
using namespace brevlin::testing;
using brevlin::atspi::Variant;

class TstAtspiChromium : public QObject, public AtspiRig {
    Q_OBJECT

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
    bool sameAsFreshRead(const AccessibleElement& app, qint64 pid, const char* when) {
        const QString difference = differenceFromFreshRead(app, pid);
        if (!difference.isEmpty())
            qWarning().noquote() << when << '\n' << difference;
        return difference.isEmpty();
    }

    // Keys as the user's keyboard sends them to the focused window.
    static void pressCtrlK() {
        pressKeysym(0xffe3, true); // Control_L
        pressKeysym('k', true);
        pressKeysym('k', false);
        pressKeysym(0xffe3, false);
    }
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
        // The page has shown (its title says so, which start() waits for) and the window has
        // registered: a tree published unasked would hang below the window by now.
        QVERIFY(chromium.state().open);
        QVERIFY(children(bus, *window).empty());

        QElapsedTimer clock;
        clock.start();
        const AccessibleElement app = waitForPage(chromium.pid());
        QVERIFY2(!app.isNull(), "the page never showed up in the tree");
        qInfo() << "page in the tree" << clock.elapsed() << "ms after the first request";
        QCOMPARE(role(app), Role::application);
        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QCOMPARE(role(windows[0]), Role::window);
        QVERIFY(search([&] { return ui.isActionsPaletteOpen(app); }));
    }

    void translatedTree() {
        ChromiumPalette chromium;
        QVERIFY(chromium.start("open=1"));
        const AccessibleElement app = waitForPage(chromium.pid());
        QVERIFY(!app.isNull());
        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        QVERIFY(ax.elements(app, Relation::mainWindow)[0] == windows[0]);
        QVERIFY(ax.text(windows[0], LabelText::title)->startsWith("Palette|open=1"));

        for (const QString tab : {"All", "Assets", "Plugins"})
            QVERIFY2(search([&] { return findLabelled(app, tab, Role::tab); }), qPrintable(tab));
        const auto field = search([&] { return ui.findSearchField(app); });
        QVERIFY(field);
        QCOMPARE(role(*field), Role::textField);
        // Chromium names the field after its placeholder and says so: a placeholder, no title.
        QCOMPARE(ax.text(*field, LabelText::placeholder), QString("Search actions and plugins"));
        QCOMPARE(ax.text(*field, LabelText::title), QString(""));
        QTRY_VERIFY(ui.isElementFocused(*field));

        // The All tab lists the tutorial first; the exact label wins all the same.
        const auto result = search([&] { return ui.findMatchingResult(app, "content reel"); });
        QVERIFY(result);
        QCOMPARE(role(*result), Role::button);
        QCOMPARE(label(*result), QString("Content Reel"));
        QVERIFY(absent([&] { return ui.findMatchingResult(app, "No Such Plugin"); }));

        const auto allTab = search([&] { return findLabelled(app, "All", Role::tab); });
        const auto pluginsTab = search([&] { return ui.findPluginsTab(app); });
        QVERIFY(allTab && pluginsTab);
        QVERIFY(ax.isSelected(*allTab));
        QVERIFY(!ax.isSelected(*pluginsTab));

        // Every child names its parent (with the nameless layout panels left out).
        for (const AccessibleElement& e : ui.collectDescendants(app, 8)) {
            for (const AccessibleElement& child : ax.elements(e, Relation::children))
                QVERIFY2(ax.parent(child) == e, qPrintable(label(child)));
        }
    }

    // Chromium names its actions ("click" for a tab, "press" for a button) and leaves their
    // localized names empty.
    void pressesTabAndResult() {
        ChromiumPalette chromium;
        QVERIFY(chromium.start("open=1"));
        const AccessibleElement app = waitForPage(chromium.pid());
        QVERIFY(!app.isNull());
        const auto tab = search([&] { return ui.findPluginsTab(app); });
        QVERIFY(tab);
        QVERIFY(ax.press(*tab));
        QVERIFY(chromium.waitFor([](const PaletteState& s) { return s.tab == "Plugins"; }));
        // Right after the wake-up every walk reads afresh, and on a slow machine every other one
        // stops before the tab: each check searches over walks as the launcher does.
        QTRY_VERIFY([&] {
            const auto selected = search([&] { return ui.findPluginsTab(app); });
            return selected && ax.isSelected(*selected);
        }());
        // The tutorial is not a plugin: gone from the Plugins tab.
        QVERIFY(absent([&] { return ui.findMatchingResult(app, "Content Reel tutorial"); }));

        const auto result = search([&] { return ui.findMatchingResult(app, "Content Reel"); });
        QVERIFY(result);
        QVERIFY(ui.pressElementOrAncestor(*result));
        QVERIFY(chromium.waitFor([](const PaletteState& s) { return !s.runs.isEmpty(); }));
        QCOMPARE(chromium.state().runs, QStringList{"Content Reel/press"});
        QVERIFY(!chromium.state().open);
        QTRY_VERIFY(absent([&] { return ui.isActionsPaletteOpen(app); }));

        // A text that cannot be pressed, whose parents have no Selection, is not pressed.
        const auto canvasText =
            search([&] { return findLabelled(app, "Canvas", Role::staticText); });
        QVERIFY(canvasText);
        QVERIFY(!ax.select(*canvasText));
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
        // Right after the wake-up every walk reads afresh; once the tree has settled it is kept,
        // and a walk that finds nothing changed costs one round trip.
        const auto quietWalkCost = [&] {
            const quint64 before = ax.requestCount();
            return absent([&] { return ui.findMatchingResult(app, "No Such Plugin"); })
                       ? ax.requestCount() - before
                       : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(quietWalkCost(), quint64(1),
                                  int(atspi::KeptTrees::wakeSettleMs) + 10000);
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
