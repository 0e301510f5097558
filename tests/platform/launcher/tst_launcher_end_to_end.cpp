// The real launcher against the stand-in on a real desktop: accessibility, keys and workspace all
// through the Linux backends. Launches into a running target are run fifty in a row by
// tst_launcher_row; here the paths it does not take: starting the target, and Down and Return.

#include "DesktopTestSupport.h"
#include "LauncherRig.h"

#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

bool paletteIsClosed(const StandinRecord& record) {
    const QList<QJsonObject> changes = record.events("palette");
    return !changes.isEmpty() && !changes.last().value("open").toBool();
}

} // namespace

class LauncherEndToEndTest : public QObject {
    Q_OBJECT

private:
    LauncherRig m_rig;

    static QString wmClass() { return LauncherRig::wmClass(); }
    LaunchOutcome launch(const QString& pluginName) { return m_rig.launch(pluginName, 30000); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        // Toolkits read the flag when they start: before any stand-in.
        QVERIFY(setAccessibilityEnabled(true));
        QVERIFY(m_rig.setUp());
    }

    void init() { QVERIFY(setAccessibilityEnabled(true)); }
    void cleanup() { removeStandinEntries(); }

    void startsTheTargetWhenItIsNotRunning() {
        StandinRecord record;
        installStandinEntry({"--record", record.path()}, wmClass());
        const LaunchOutcome outcome = launch("Autoflow");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(record.runs(), QStringList{"Autoflow/press"});
        terminateProcess(record.events("ready").value(0).value("pid").toInteger());
    }

    void fallsBackToDownAndReturnWhenTheResultCannotBePressed() {
        installStandinEntry({}, wmClass());
        StandinProcess standin;
        QVERIFY(standin.start({"--static-results"}, wmClass()));
        const LaunchOutcome outcome = launch("Lorem Ipsum");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(standin.record().runs(), QStringList{"Lorem Ipsum/key"});
        QTRY_VERIFY(paletteIsClosed(standin.record()));
    }
};

QTEST_MAIN(LauncherEndToEndTest)
#include "tst_launcher_end_to_end.moc"
