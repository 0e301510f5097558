// The real launcher against the stand-in on a real desktop: accessibility, keys and workspace all
// through the Linux backends. Launches into a running target are run fifty in a row by
// tst_launcher_row, and one that starts its target by tst_launcher_chromium; here the path
// neither takes: a result that cannot be pressed, chosen with Down and Return.

#include "DesktopTestSupport.h"
#include "LauncherRig.h"

#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

class LauncherEndToEndTest : public QObject {
    Q_OBJECT

private:
    LauncherRig m_rig;

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
        // And the palette closed again.
        QTRY_COMPARE(standin.record().events("palette").last().value("open"), QJsonValue(false));
    }
};

QTEST_MAIN(LauncherEndToEndTest)
#include "tst_launcher_end_to_end.moc"
