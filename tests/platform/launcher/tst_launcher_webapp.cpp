// The real launcher against a browser's Figma web app: Chromium started from an entry shaped like
// the one a browser writes when it installs a web app, whose window shares its process (and its
// accessibility application) with an ordinary Chromium window showing another copy of the palette
// page. That ordinary window is the active one before every launch.

#include "DesktopTestSupport.h"
#include "LauncherRig.h"
#include "platform/linux/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <X11/keysym.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

// A browser's web-app id: 32 letters from a to p.
const QString webAppId = QStringLiteral("chrome-bnpmlkocmbcngjgalnlmdhjafjcekmfp-Default");

// The WM_CLASS instance Chromium gives an --app window for a file URL: the path without its
// leading slash, slashes turned to underscores (file:///x/figma.html gives x_figma.html).
QString appInstanceFor(const QString& path) {
    return QString(path).remove(0, 1).replace('/', '_');
}

} // namespace

class LauncherWebAppTest : public QObject {
    Q_OBJECT

private:
    LauncherRig m_rig;

    static std::optional<ClientWindow> window(const std::function<bool(const ClientWindow&)>& is) {
        for (const ClientWindow& w : clientWindows())
            if (is(w))
                return w;
        return std::nullopt;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(m_rig.setUp());
    }

    void launchesOnlyInTheWebAppWindow() {
        QTemporaryDir dir;
        const QString page = palettePagePath();
        QVERIFY(QDir().mkpath(dir.filePath("app")) && QDir().mkpath(dir.filePath("other")));
        const QString appPage = dir.filePath("app/figma.html");
        const QString otherPage = dir.filePath("other/figma.html");
        QVERIFY(QFile::copy(page, appPage) && QFile::copy(page, otherPage));
        const QString profile = dir.filePath("profile");
        const QString instance = appInstanceFor(appPage);

        // No --class: it would rename every window of the process. The browser names the app
        // window's instance after the URL itself.
        installDesktopEntry(webAppId, "Figma",
                            chromiumCommand(profile) +
                                QStringList{"--app=" + QUrl::fromLocalFile(appPage).toString()},
                            instance);
        // Found as a browser's Figma web app, with the window class of its app window.
        QTRY_VERIFY(installedFigmaTargets().contains(
            FigmaTarget{webAppId, instance, "Figma", FigmaTarget::Kind::webApp, "Chrome web app"}));
        m_rig.launcher->setTargets({webAppId});

        // The ordinary window first; the web app is started by the first launch, through its entry,
        // into this same browser process.
        QProcess browser;
        browser.setStandardOutputFile(QProcess::nullDevice());
        browser.setStandardErrorFile(QProcess::nullDevice());
        QStringList arguments = chromiumCommand(profile);
        const QString program = arguments.takeFirst();
        arguments << QUrl::fromLocalFile(otherPage).toString();
        browser.start(program, arguments);
        QVERIFY(browser.waitForStarted(5000));
        const auto isOrdinary = [&](const ClientWindow& w) {
            return w.pid == browser.processId() && w.instance != instance &&
                   parsePaletteTitle(w.title).found;
        };
        QTRY_VERIFY_WITH_TIMEOUT(window(isOrdinary), 30000);
        const quint32 ordinary = window(isOrdinary)->window;
        const auto appWindowState = [&] {
            const auto w = window([&](const ClientWindow& c) { return c.instance == instance; });
            return w ? parsePaletteTitle(w->title) : PaletteState{};
        };

        const QStringList names = {"Content Reel", "Autoflow", "Iconify"};
        QStringList runs;
        for (const QString& name : names) {
            QCOMPARE(QProcess::execute("xdotool",
                                       {"windowactivate", "--sync", QString::number(ordinary)}),
                     0);
            QTRY_COMPARE(activeWindow(), ordinary);
            // Another window of the web app's own process has the focus: not the web app.
            QVERIFY(!m_rig.workspace->isFrontmost(webAppId));
            const LaunchOutcome outcome = m_rig.launch(name, 60000);
            QVERIFY2(outcome.succeeded(), qPrintable(name + ": " + outcome.describe()));
            runs << name + "/press";
            QTRY_COMPARE_WITH_TIMEOUT(appWindowState().runs, runs, 10000);
            QVERIFY(window([&](const ClientWindow& w) { return w.instance == instance; })->pid ==
                    browser.processId());
        }

        // Barrier: a Ctrl+K of our own, sent to the ordinary window after everything the launches
        // sent. Once the page has counted it, anything sent earlier has arrived too.
        QCOMPARE(
            QProcess::execute("xdotool", {"windowactivate", "--sync", QString::number(ordinary)}),
            0);
        QTRY_COMPARE(activeWindow(), ordinary);
        pressKeysym(XK_Control_L, true);
        pressKeysym(XK_k, true);
        pressKeysym(XK_k, false);
        pressKeysym(XK_Control_L, false);
        const auto ordinaryState = [&] { return parsePaletteTitle(window(isOrdinary)->title); };
        QTRY_COMPARE_WITH_TIMEOUT(ordinaryState().ctrlK, 1, 10000);
        const PaletteState other = ordinaryState();
        QVERIFY2(other.runs.isEmpty(), qPrintable(other.runs.join(',')));
        QCOMPARE(other.tab, QString("All"));
        QCOMPARE(other.text, QString());

        browser.terminate();
        if (!browser.waitForFinished(10000)) {
            browser.kill();
            browser.waitForFinished(3000);
        }
        QFile::remove(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/" + webAppId +
                      ".desktop");
    }
};

QTEST_MAIN(LauncherWebAppTest)
#include "tst_launcher_webapp.moc"
