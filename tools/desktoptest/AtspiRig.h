#pragma once

// The accessibility backend as the desktop tests drive it: one backend, the launcher's searches
// over it (bracketed as the backend's own), and the waits and reads those tests share.

#include "DesktopTestSupport.h"
#include "launch/FigmaLauncher.h"
#include "platform/linux/AtspiAccessibility.h"
#include "support/RoleNames.h"
#include "support/Searches.h"

#include <QElapsedTimer>
#include <QTest>

namespace brevlin::testing {

class AtspiRig {
public:
    // These tests read element by element outside any event loop, as no launch does: each read
    // has its own time.
    AtspiRig() {
        ax.setTurnBudget(0);
        bracketWalks(ui, ax);
    }
    AtspiRig(const AtspiRig&) = delete;
    AtspiRig& operator=(const AtspiRig&) = delete;

    AtspiAccessibility ax;
    Searches ui{ax};

    Role role(const AccessibleElement& e) { return ax.role(e); }
    QString label(const AccessibleElement& e) { return ui.elementLabel(e).value_or(""); }

    // Waits until the application of `pid` is on the bus and `ready` holds for it (by default:
    // it lists a window); toolkits register a little after their window shows.
    AccessibleElement
    waitForApplication(qint64 pid, const std::function<bool(const AccessibleElement&)>& ready = {},
                       int timeoutMilliseconds = 10000) {
        QElapsedTimer clock;
        clock.start();
        while (pid > 0 && clock.elapsed() < timeoutMilliseconds) {
            const AccessibleElement app = ax.applicationElement(pid);
            if (!app.isNull() &&
                (ready ? ready(app) : !ax.elements(app, Relation::windows).empty()))
                return app;
            QTest::qWait(50);
        }
        return {};
    }
    // Starts the stand-in with accessibility on and waits for its application element.
    AccessibleElement startStandin(StandinProcess& standin, const QStringList& arguments) {
        if (!setAccessibilityEnabled(true) || !standin.start(arguments))
            return {};
        return waitForApplication(standin.pid());
    }

    std::optional<AccessibleElement> findLabelled(const AccessibleElement& root,
                                                  const QString& text,
                                                  std::optional<Role> wantedRole = {}) {
        for (const AccessibleElement& e : ui.collectDescendants(root, 8)) {
            if (label(e) == text && (!wantedRole || role(e) == *wantedRole))
                return e;
        }
        return std::nullopt;
    }

    // Searches as the launcher does. Walks are bounded in time (a slow build reads less in one),
    // and a walk that stopped early has not shown that something is absent: the search goes on
    // over later walks until it finds it or a walk has read the whole tree.
    template <typename Find> auto search(Find find, int timeoutMilliseconds = 5000) {
        auto found = find();
        QElapsedTimer clock;
        clock.start();
        while (!found && !ax.lastWalkComplete() && clock.elapsed() < timeoutMilliseconds) {
            QTest::qWait(10);
            found = find();
        }
        return found;
    }
    // Nothing found, by a search that read the whole tree.
    template <typename Find> bool absent(Find find, int timeoutMilliseconds = 5000) {
        return !search(find, timeoutMilliseconds) && ax.lastWalkComplete();
    }

    // Right after the wake-up every walk reads afresh (for a few seconds); once the tree has
    // settled it is kept, and a walk that finds nothing changed costs one round trip.
    bool waitUntilKept(const AccessibleElement& app) {
        return waitUntil(
            [&] {
                const quint64 before = ax.requestCount();
                return absent([&] { return ui.findMatchingResult(app, "No Such Plugin"); }) &&
                       ax.requestCount() - before == 1;
            },
            15000);
    }

    // The elements below `root`, walked again until a walk read them all (or a hundred did not).
    static std::vector<AccessibleElement> readWhole(AtspiAccessibility& api, Searches& t,
                                                    const AccessibleElement& root) {
        std::vector<AccessibleElement> elements = t.collectDescendants(root, 8);
        for (int walk = 0; walk < 100 && !api.lastWalkComplete(); ++walk)
            elements = t.collectDescendants(root, 8);
        return elements;
    }
    // The tree below `root` as one line per element, read over walks until one read it whole.
    static QStringList describe(AtspiAccessibility& api, Searches& t,
                                const AccessibleElement& root) {
        QStringList lines;
        for (const AccessibleElement& e : readWhole(api, t, root)) {
            lines << roleName(api.role(e)) + " " + t.elementLabel(e).value_or("-") + " " +
                         (api.isSelected(e) ? "selected" : "");
        }
        if (!api.lastWalkComplete())
            lines << "(no walk read the whole tree)";
        return lines;
    }
    // The tree `ax` keeps, walked, against a backend that has never seen the application. An
    // application may report a change a moment after it makes it, so the two may differ while a
    // change is on its way; a kept tree that missed a change stays wrong far longer. What
    // differed is printed, headed by `when`.
    bool sameAsFreshRead(const AccessibleElement& app, qint64 pid, const char* when) {
        QStringList kept;
        QStringList read;
        QElapsedTimer clock;
        clock.start();
        do {
            kept = describe(ax, ui, app);
            AtspiAccessibility fresh;
            fresh.setTurnBudget(0);
            Searches freshUi(fresh);
            bracketWalks(freshUi, fresh);
            const AccessibleElement freshApp = fresh.applicationElement(pid);
            read = freshApp.isNull() ? QStringList{"(no application)"}
                                     : describe(fresh, freshUi, freshApp);
            if (kept == read)
                return true;
            QTest::qWait(100);
        } while (clock.elapsed() < 2000);
        qWarning().noquote() << when
                             << "\nkept:\n" + kept.join('\n') + "\nfresh:\n" + read.join('\n');
        return false;
    }
};

} // namespace brevlin::testing
