// The real launcher against the Chromium-hosted palette on a real desktop, with Chromium started
// the way a user starts the target (no flag forcing accessibility on); many launches in a row
// are tst_launcher_row's. Every launch must select
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
    // with exactly one Ctrl+K per launch (a second would have opened it again), and nothing typed
    // into another field of the page. The barrier is one more launch: the page takes keys in
    // order, so a stray key of the first has shown by the time the second one's run has.
    void verifyPressed(qint64 pid, QStringList runs) {
        const LaunchOutcome barrier = launch("Iconify");
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

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(m_rig.setUp());
    }

    void cleanup() { removeStandinEntries(); }

    // Page sizes from empty to 10,000 elements, flat and deep, with text inputs before the
    // palette; Chromium already running or started by the launch itself (its tree then read
    // cold while it settles). The All tab lists "Content Reel tutorial" above "Content Reel":
    // Down and Return, or a search left on the All tab, would run the wrong one.
    void launchesOnEveryPageShape_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("alreadyRunning");
        QTest::newRow("empty, running") << QString() << true;
        QTest::newRow("empty, started") << QString() << false;
        QTest::newRow("inputs and deep nesting, running")
            << QStringLiteral("inputs=5&nest=20&layers=200") << true;
    }
    void launchesOnEveryPageShape() {
        QFETCH(QString, page);
        QFETCH(bool, alreadyRunning);
        QTemporaryDir profile;
        installChromiumPaletteEntry(page, wmClass(), profile.path());
        ChromiumPalette chromium;
        if (alreadyRunning)
            QVERIFY(chromium.start(page, wmClass()));
        else
            QVERIFY(!paletteState().found);
        const LaunchOutcome outcome = launch("Content Reel");
        const qint64 pid = alreadyRunning ? chromium.pid() : paletteState().pid;
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QVERIFY(pid > 0);
        verifyPressed(pid, {"Content Reel/press"});
        if (!alreadyRunning)
            terminateProcess(pid);
    }
};

QTEST_MAIN(LauncherChromiumTest)
#include "tst_launcher_chromium.moc"
