// The real launcher on a real desktop through the Linux backends, into the stand-in (a result
// with no press action), the Chromium palette (started without forcing accessibility on; the page
// records whether a result ran by a press) and a browser's web app. Rows are tst_launcher_row's.

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

} // namespace

class LauncherDesktopTest : public QObject {
    Q_OBJECT

    LauncherRig m_rig;

    // After a launch: the result ran by a press, on the Plugins tab, and the palette is closed
    // with exactly one Ctrl+K per launch (a second would have opened it again), and nothing typed
    // into another field of the page. The barrier is one more launch: the page takes keys in
    // order, so a stray key of the first has shown by the time the second one's run has.
    void verifyPressed(qint64 pid, QStringList runs) {
        const LaunchOutcome barrier = m_rig.launch("Iconify", 60000);
        QVERIFY2(barrier.succeeded(), qPrintable(barrier.describe()));
        runs << "Iconify/press";
        const bool settled = waitForPalette(
            [&](const PaletteState& s) { return s.runs.size() >= runs.size(); }, pid);
        const PaletteState after = paletteState(pid);
        QVERIFY2(settled, qPrintable(after.runs.join(',') + " text: " + after.text));
        QCOMPARE(after.runs, runs);
        QCOMPARE(after.tab, QString("Plugins"));
        QVERIFY(!after.open);
        QCOMPARE(after.ctrlK, int(runs.size()));
        QCOMPARE(after.strayInput, 0);
    }

    static std::optional<ClientWindow> window(const std::function<bool(const ClientWindow&)>& is) {
        for (const ClientWindow& w : clientWindows())
            if (is(w))
                return w;
        return std::nullopt;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        // Toolkits read the flag when they start: before any stand-in.
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(m_rig.setUp());
    }

    void cleanup() { removeStandinEntries(); }

    void fallsBackToDownAndReturnWhenTheResultCannotBePressed() {
        installStandinEntry({}, LauncherRig::wmClass());
        StandinProcess standin;
        QVERIFY(standin.start({"--static-results"}, LauncherRig::wmClass()));
        const LaunchOutcome outcome = m_rig.launch("Lorem Ipsum", 30000);
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(standin.record().runs(), QStringList{"Lorem Ipsum/key"});
        QTRY_COMPARE(standin.record().events("palette").last().value("open"), QJsonValue(false));
    }

    // Pages empty and deep, with text inputs before the palette; Chromium already running or
    // started by the launch itself (its tree then read cold while it settles). The All tab lists
    // "Content Reel tutorial" above "Content Reel": Down and Return, or a search left on the All
    // tab, would run the wrong one.
    void launchesOnEveryPageShape_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("alreadyRunning");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("run");
        const QString reel = QStringLiteral("Content Reel");
        QTest::newRow("empty, running") << QString() << true << reel << reel + "/press";
        QTest::newRow("empty, started") << QString() << false << reel << reel + "/press";
        QTest::newRow("inputs and deep nesting, running")
            << QStringLiteral("inputs=5&nest=20&layers=200") << true << reel << reel + "/press";
        // No exact match: Down and Return, once the Plugins tab reads selected, run the first
        // plugin listed, never the tutorial above it on the All tab.
        QTest::newRow("no exact match, running")
            << QString() << true << QStringLiteral("Content Re") << reel + "/key";
    }
    void launchesOnEveryPageShape() {
        QFETCH(QString, page);
        QFETCH(bool, alreadyRunning);
        QFETCH(QString, name);
        QFETCH(QString, run);
        QTemporaryDir profile;
        installChromiumPaletteEntry(page, LauncherRig::wmClass(), profile.path());
        ChromiumPalette chromium;
        if (alreadyRunning)
            QVERIFY(chromium.start(page, LauncherRig::wmClass()));
        else
            QVERIFY(!paletteState().found);
        const LaunchOutcome outcome = m_rig.launch(name, 60000);
        const qint64 pid = alreadyRunning ? chromium.pid() : paletteState().pid;
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QVERIFY(pid > 0);
        verifyPressed(pid, {run});
        if (!alreadyRunning) {
            terminateProcess(pid);
            // Until its window is gone, the next row's launch may find this Chromium running.
            QTRY_VERIFY_WITH_TIMEOUT(!paletteState(pid).found, 10000);
        }
    }

    // A press lets the main thread go while Chromium names its actions and acts: it is answered
    // in a later turn, and the result runs by that press.
    void pressIsAnsweredInALaterTurn() {
        ChromiumPalette chromium;
        QVERIFY(chromium.start(QStringLiteral("open=1"), LauncherRig::wmClass()));
        const Sought reel{Sought::Kind::result, QStringLiteral("Content Reel")};
        Finding result;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const AccessibleElement app =
                    m_rig.accessibility.applicationElement(chromium.pid());
                result = app.isNull() ? Finding{} : m_rig.accessibility.find(app, reel);
                return result.isFound();
            },
            60000));
        std::optional<bool> pressed;
        m_rig.accessibility.pressWithoutWaiting(result.element, [&](bool p) { pressed = p; });
        QVERIFY(!pressed);
        QTRY_COMPARE(pressed, std::optional<bool>(true));
        QTRY_COMPARE(paletteState(chromium.pid()).runs, QStringList{"Content Reel/press"});
    }

    // Last: it makes the web app the launcher's target.
    void launchesOnlyInTheWebAppWindow() {
        QTemporaryDir dir;
        const QString page = palettePagePath();
        QVERIFY(QDir().mkpath(dir.filePath("app")) && QDir().mkpath(dir.filePath("other")));
        const QString appPage = dir.filePath("app/figma.html");
        const QString otherPage = dir.filePath("other/figma.html");
        QVERIFY(QFile::copy(page, appPage) && QFile::copy(page, otherPage));
        const QString profile = dir.filePath("profile");
        // Chromium's WM_CLASS instance for an --app window on a file URL: the path without its
        // leading slash, slashes turned to underscores.
        const QString instance = QString(appPage).remove(0, 1).replace('/', '_');

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
        const auto activateOrdinary = [ordinary] {
            return QProcess::execute(
                       "xdotool", {"windowactivate", "--sync", QString::number(ordinary)}) == 0 &&
                   waitUntil([&] { return activeWindow() == ordinary; });
        };
        const auto appWindowState = [&] {
            const auto w = window([&](const ClientWindow& c) { return c.instance == instance; });
            return w ? parsePaletteTitle(w->title) : PaletteState{};
        };

        const QStringList names = {"Content Reel", "Autoflow", "Iconify"};
        QStringList runs;
        for (const QString& name : names) {
            QVERIFY(activateOrdinary());
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
        QVERIFY(activateOrdinary());
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
        // The browser goes with its QProcess.
        QFile::remove(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/" + webAppId +
                      ".desktop");
    }
};

QTEST_MAIN(LauncherDesktopTest)
#include "tst_launcher_desktop.moc"
