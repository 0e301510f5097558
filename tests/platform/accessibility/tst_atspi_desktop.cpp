// The accessibility backend against the stand-in, inside a private desktop session: the reads
// the launcher relies on, the writes and actions, and trust. The translated tree and presses
// are checked against the stand-in and Chromium alike in tst_atspi_chromium.

#include "AtspiRig.h"

#include <QtTest>

#include <signal.h>

using namespace brevlin;
using namespace brevlin::testing;

class TstAtspiDesktop : public QObject, public AtspiRig {
    Q_OBJECT
    StandinProcess standin;

    std::optional<bool> trustedWithoutWaiting() {
        std::optional<bool> trusted;
        ax.checkProcessTrusted(false, [&trusted](bool answer) { trusted = answer; });
        (void)QTest::qWaitFor([&trusted] { return trusted.has_value(); }, 10000);
        return trusted;
    }

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
        QCOMPARE(trustedWithoutWaiting(), false); // over the connection held by now
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(ax.isProcessTrusted(false));
        QCOMPARE(trustedWithoutWaiting(), true);
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

    void staticResultCannotBePressed() {
        const AccessibleElement app = startStandin(standin, {"--open-palette", "--static-results"});
        QVERIFY(!app.isNull());
        const auto result = ui.findMatchingResult(app, "Iconify");
        QVERIFY(result);
        QCOMPARE(role(*result), Role::staticText);
        QVERIFY(!ax.press(*result));
        QVERIFY(!ax.select(*result));
    }

    // Walks are answered from a tree kept between walks (once it has settled after the wake-up);
    // after the writes it must read exactly as a tree read afresh by a backend that never saw the
    // application before.
    void writesFocusAndKeptTreeMatchesAFreshRead() {
        const AccessibleElement app = startStandin(standin, {"--open-palette", "--nest", "1"});
        QVERIFY(!app.isNull());
        const auto field = ui.findSearchField(app);
        QVERIFY(field);
        QVERIFY(waitUntilKept(app));
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

        QVERIFY(ax.setText(*field, "o"));
        ui.activateTab(*ui.findPluginsTab(app));
        QVERIFY(standin.record().waitForEvent("tab"));
        QVERIFY(sameAsFreshRead(app, standin.pid(), "after the writes"));
        const QStringList kept = describe(ax, ui, app);
        QVERIFY(kept.contains("tab Plugins selected"));
        QVERIFY(!kept.contains("button Unsplash ")); // filtered out: no "o" in it
        QVERIFY(kept.contains("button Autoflow "));
        QVERIFY(!kept.contains("button Card ")); // an asset, not on the Plugins tab
    }

    // An answer given a moment ago is given again without asking the application, until the
    // application reports a change that touches it, or a tenth of a second has gone.
    void answersHoldUntilTheApplicationReportsAChange() {
        const AccessibleElement app = startStandin(standin, {"--open-palette"});
        QVERIFY(!app.isNull());
        QVERIFY(waitUntilKept(app));
        const auto windows = ax.elements(app, Relation::windows);
        QCOMPARE(windows.size(), std::size_t(1));
        const AccessibleElement window = windows.front();
        const Sought autoflow{Sought::Kind::result, QStringLiteral("Autoflow")};
        const Finding field = ax.find(window, Sought{Sought::Kind::searchField});
        QVERIFY(field.isFound());
        QVERIFY(ax.find(window, autoflow).isFound());
        QVERIFY(ax.isFocused(field.element));
        QCOMPARE(ax.text(field.element, LabelText::value), std::nullopt);
        // Empty, the field's text reads all the same; a window has none.
        const AccessibilityApi::TextRead empty = ax.readText(field.element, LabelText::value);
        QVERIFY(empty.answered && !empty.text && empty.readable);
        QVERIFY(!ax.readText(window, LabelText::value).readable);

        const quint64 before = ax.requestCount();
        QVERIFY(ax.find(window, autoflow).isFound());
        QVERIFY(ax.isFocused(field.element));
        QCOMPARE(ax.text(field.element, LabelText::value), std::nullopt);
        QCOMPARE(ax.requestCount() - before, quint64(0));

        // The application reports the change before it answers the write: every read after it
        // sees the change.
        QVERIFY(ax.setText(field.element, QStringLiteral("Icon")));
        QCOMPARE(ax.text(field.element, LabelText::value), QString("Icon"));
        QCOMPARE(ax.find(window, autoflow).presence, Presence::absent);
        QVERIFY(ax.find(window, Sought{Sought::Kind::result, QStringLiteral("Iconify")}).isFound());

        // Nothing changes, and after a while the application is asked again all the same.
        QTest::qWait(150);
        const quint64 later = ax.requestCount();
        QCOMPARE(ax.text(field.element, LabelText::value), QString("Icon"));
        QVERIFY(ax.requestCount() > later);
    }

    void foreignElementsAreRejected() {
        class Other : public AccessibleElementRef {
        public:
            std::size_t identityHash() const override { return 1; }
            bool equals(const AccessibleElementRef&) const override { return false; }
        };
        const AccessibleElement foreign(std::make_shared<Other>());
        QVERIFY(ax.applicationElement(999999).isNull());
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
