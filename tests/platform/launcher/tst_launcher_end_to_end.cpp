// The real launcher against the stand-in on a real desktop: accessibility, keys and workspace all
// through the Linux backends.

#include "DesktopTestSupport.h"
#include "launch/FigmaLauncher.h"
#include "launch/QtScheduler.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XTestKeyEvents.h"

#include <QDeadlineTimer>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

struct LaunchOutcome {
    bool finished = false;
    std::optional<FigmaLauncherError> launcherError;
    QString otherError;

    bool succeeded() const { return finished && !launcherError && otherError.isEmpty(); }
    QString describe() const {
        if (!finished)
            return "did not finish";
        if (launcherError)
            return launcherError->description();
        return otherError.isEmpty() ? QString("success") : otherError;
    }
};

bool paletteIsClosed(const StandinRecord& record) {
    const QList<QJsonObject> changes = record.events("palette");
    return !changes.isEmpty() && !changes.last().value("open").toBool();
}

} // namespace

class LauncherEndToEndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QtScheduler> m_scheduler;
    std::unique_ptr<AtspiAccessibility> m_accessibility;
    std::unique_ptr<XTestKeyEvents> m_keys;
    std::unique_ptr<X11Workspace> m_workspace;
    std::unique_ptr<FigmaLauncher> m_launcher;

    // Slower than the defaults: a shared CI machine may take a while to show the palette.
    static LauncherTimingSettings timing() {
        LauncherTimingSettings t = LauncherTimingSettings::defaults;
        t.focusDelayMilliseconds = 400;
        t.actionsOpenDelayMilliseconds = 300;
        t.postSearchDelayMilliseconds = 200;
        return t;
    }

    // Each test gets a window class of its own, so a window left over from another test can
    // never pass for the target.
    static QString wmClass() {
        return QString("figma-%1").arg(QString::fromLatin1(QTest::currentTestFunction()).toLower());
    }

    LaunchOutcome launch(const QString& pluginName) {
        auto outcome = std::make_shared<LaunchOutcome>();
        startTask(*m_scheduler, m_launcher->launchPlugin(pluginName, timing()),
                  [outcome](std::exception_ptr error) {
                      outcome->finished = true;
                      if (!error)
                          return;
                      try {
                          std::rethrow_exception(error);
                      } catch (const FigmaLauncherError& e) {
                          outcome->launcherError = e;
                      } catch (const std::exception& e) {
                          outcome->otherError = QString::fromUtf8(e.what());
                      }
                  });
        QDeadlineTimer deadline(30000);
        while (!outcome->finished && !deadline.hasExpired())
            QTest::qWait(20);
        return *outcome;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        // Toolkits read the flag when they start: before any stand-in.
        QVERIFY(setAccessibilityEnabled(true));
        m_scheduler = std::make_unique<QtScheduler>();
        m_accessibility = std::make_unique<AtspiAccessibility>();
        m_keys = XTestKeyEvents::create();
        m_workspace = X11Workspace::create();
        QVERIFY(m_keys && m_workspace);
        m_launcher = std::make_unique<FigmaLauncher>(
            LaunchPlatform{*m_accessibility, *m_keys, *m_workspace, *m_scheduler});
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
