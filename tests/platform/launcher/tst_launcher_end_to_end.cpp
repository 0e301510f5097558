// The real launcher against the stand-in on a real desktop: accessibility, keys and workspace all
// through the Linux backends.

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

    void launchesInARunningTarget() {
        installStandinEntry({}, wmClass());
        StandinProcess standin;
        QVERIFY(standin.start({}, wmClass()));
        const LaunchOutcome outcome = launch("Chart Builder");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(standin.record().runs(), QStringList{"Chart Builder/press"});
        // The Plugins tab was chosen, and the palette is closed again.
        QCOMPARE(standin.record().events("tab").last().value("name").toString(),
                 QString("Plugins"));
        QTRY_VERIFY(paletteIsClosed(standin.record()));

        // A second launch clears the text the palette kept from the first.
        const LaunchOutcome again = launch("Iconify");
        QVERIFY2(again.succeeded(), qPrintable(again.describe()));
        QTRY_COMPARE(standin.record().runs(),
                     (QStringList{"Chart Builder/press", "Iconify/press"}));
    }

    void startsTheTargetWhenItIsNotRunning() {
        StandinRecord record;
        installStandinEntry({"--record", record.path()}, wmClass());
        const LaunchOutcome outcome = launch("Autoflow");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(record.runs(), QStringList{"Autoflow/press"});
        terminateProcess(record.events("ready").value(0).value("pid").toInteger());
    }

    void searchesWithoutAPluginsTab() {
        installStandinEntry({}, wmClass());
        StandinProcess standin;
        QVERIFY(standin.start({"--no-plugins-tab"}, wmClass()));
        const LaunchOutcome outcome = launch("Unsplash");
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.describe()));
        QTRY_COMPARE(standin.record().runs(), QStringList{"Unsplash/press"});
        QVERIFY(standin.record().events("tab").isEmpty());
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

    void accessibilityOffLeavesTheTargetAlone() {
        installStandinEntry({}, wmClass());
        StandinProcess standin;
        QVERIFY(standin.start({}, wmClass()));
        QVERIFY(setAccessibilityEnabled(false));
        const int eventsBefore = int(standin.record().events().size());
        const LaunchOutcome outcome = launch("Autoflow");
        QVERIFY(outcome.finished);
        QVERIFY(outcome.launcherError);
        QCOMPARE(outcome.launcherError->kind(), FigmaLauncherError::Kind::accessibilityDenied);
        QTest::qWait(300);
        const QList<QJsonObject> events = standin.record().events();
        for (qsizetype i = eventsBefore; i < events.size(); ++i)
            QVERIFY2(events[i].value("event") == "active",
                     qPrintable(events[i].value("event").toString()));
        QVERIFY(standin.record().events("key").isEmpty());
    }

    void noEntryMeansNotInstalled() {
        removeStandinEntries();
        const LaunchOutcome outcome = launch("Autoflow");
        QVERIFY(outcome.finished);
        QVERIFY(outcome.launcherError);
        QCOMPARE(outcome.launcherError->kind(), FigmaLauncherError::Kind::figmaNotInstalled);
    }
};

QTEST_MAIN(LauncherEndToEndTest)
#include "tst_launcher_end_to_end.moc"
