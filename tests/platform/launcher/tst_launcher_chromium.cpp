// The real launcher against the Chromium-hosted palette on a real desktop, with Chromium started
// the way a user starts the target (no flag forcing accessibility on). Every launch must select
// the Plugins tab and press the exact result through accessibility: the page records whether a
// result ran by a press or by Down and Return, so the fallback can never hide a failure here.

#include "DesktopTestSupport.h"
#include "LauncherRig.h"

#include <QTemporaryDir>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

class LauncherChromiumTest : public QObject {
    Q_OBJECT

private:
    LauncherRig m_rig;

    static QString wmClass() { return LauncherRig::wmClass(); }
    LaunchOutcome launch(const QString& pluginName) { return m_rig.launch(pluginName, 60000); }

    // After a launch: the result ran by a press, on the Plugins tab, and the palette is closed
    // with exactly one Ctrl+K per launch (a second would have opened it again).
    static void verifyPressed(qint64 pid, const QStringList& runs, int launches) {
        const bool settled = waitForPalette(
            [&](const PaletteState& s) { return s.runs.size() >= runs.size(); }, pid);
        const PaletteState s = paletteState(pid);
        QVERIFY2(settled, qPrintable(s.runs.join(',') + " text: " + s.text));
        // Anything late (a stray Ctrl+K) shows within a moment.
        QTest::qWait(300);
        const PaletteState after = paletteState(pid);
        QCOMPARE(after.runs, runs);
        QCOMPARE(after.tab, QString("Plugins"));
        QVERIFY(!after.open);
        QCOMPARE(after.ctrlK, launches);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(m_rig.setUp());
    }

    void cleanup() { removeStandinEntries(); }

    // The All tab lists "Content Reel tutorial" above "Content Reel": Down and Return, or a
    // search left on the All tab, would run the wrong one.
    void launchesInARunningChromium() {
        QTemporaryDir profile;
        installChromiumPaletteEntry({}, wmClass(), profile.path());
        ChromiumPalette chromium;
        QVERIFY(chromium.start({}, wmClass()));
        const LaunchOutcome outcome = launch("Content Reel");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        verifyPressed(chromium.pid(), {"Content Reel/press"}, 1);
    }

    void startsChromiumWhenItIsNotRunning() {
        QTemporaryDir profile;
        installChromiumPaletteEntry({}, wmClass(), profile.path());
        QVERIFY(!paletteState().found);
        const LaunchOutcome outcome = launch("Autoflow");
        const qint64 pid = paletteState().pid;
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QVERIFY(pid > 0);
        verifyPressed(pid, {"Autoflow/press"}, 1);
        terminateProcess(pid);
    }

    // A page with a large layers panel, started by the launch itself, so its tree is read cold in
    // bounded walks while it settles: the launch still finds the Plugins tab and presses the
    // exact result rather than falling back to Down and Return.
    void launchesIntoALargePageItStarted() {
        QTemporaryDir profile;
        installChromiumPaletteEntry(QStringLiteral("layers=2000"), wmClass(), profile.path());
        QVERIFY(!paletteState().found);
        const LaunchOutcome outcome = launch("Content Reel");
        const qint64 pid = paletteState().pid;
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QVERIFY(pid > 0);
        verifyPressed(pid, {"Content Reel/press"}, 1);
        terminateProcess(pid);
    }

    void twentyLaunchesInARow() {
        QTemporaryDir profile;
        installChromiumPaletteEntry({}, wmClass(), profile.path());
        ChromiumPalette chromium;
        QVERIFY(chromium.start({}, wmClass()));
        // Names with characters the layout lacks, typed on borrowed keycodes, mixed with names
        // the layout types itself; each is checked exactly as it arrived in the field.
        const QStringList names = {"Content Reel", "Café Tools", "Iconify", "Über Grid",
                                   "日本 Icons"};
        QStringList runs;
        for (int i = 0; i < 20; ++i) {
            const QString name = names[i % names.size()];
            const LaunchOutcome outcome = launch(name);
            QVERIFY2(outcome.succeeded(),
                     qPrintable(QString("launch %1: %2").arg(i + 1).arg(outcome.describe())));
            runs << name + "/press";
            verifyPressed(chromium.pid(), runs, i + 1);
            const QString arrived = paletteState(chromium.pid()).text;
            QVERIFY2(
                arrived == name,
                qPrintable(
                    QString("launch %1 typed \"%2\" as \"%3\"").arg(i + 1).arg(name, arrived)));
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_MAIN(LauncherChromiumTest)
#include "tst_launcher_chromium.moc"
