// Finding, starting and activating an application through its desktop entry and its windows.

#include "DesktopTestSupport.h"
#include "platform/linux/X11Workspace.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QString figma = QStringLiteral("com.figma.Desktop");

struct OpenResult {
    bool done = false;
    RunningApplicationPtr application;
    std::optional<QString> error;
};

} // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11Workspace> m_workspace;

    qint64 firstPid(const QString& identifier) {
        const auto apps = m_workspace->runningApplications(identifier);
        return apps.isEmpty() ? 0 : apps.first()->processIdentifier();
    }

    OpenResult open(const QString& location, int timeoutMilliseconds = 20000) {
        auto result = std::make_shared<OpenResult>();
        m_workspace->openApplication(location, true,
                                     [result](RunningApplicationPtr app, std::optional<QString> e) {
                                         result->done = true;
                                         result->application = std::move(app);
                                         result->error = std::move(e);
                                     });
        QDeadlineTimer deadline(timeoutMilliseconds + 2000);
        while (!result->done && !deadline.hasExpired())
            QTest::qWait(20);
        return *result;
    }

    // Asks until the application is frontmost: a window manager ignores requests for a window it
    // has not finished managing.
    bool activateUntilFrontmost(const QString& identifier, qint64 pid) {
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            for (const RunningApplicationPtr& app : m_workspace->runningApplications(identifier))
                if (app->processIdentifier() == pid)
                    app->activate(activateAllWindows);
            QTest::qWait(100);
            if (m_workspace->frontmostApplicationBundleIdentifier() == identifier &&
                activeWindowPid() == pid)
                return true;
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        m_workspace = X11Workspace::create();
        QVERIFY(m_workspace);
        QVERIFY(m_workspace->hasWindowManager());
    }

    void cleanup() { removeStandinEntries(); }

    void findsWindowsByTheEntrysWindowClass() {
        QVERIFY(!m_workspace->applicationLocation(figma));
        StandinProcess standin;
        QVERIFY(standin.start({}, "figma-look-alike"));
        // No entry: nothing stands for the identifier.
        QTest::qWait(300);
        QCOMPARE(firstPid(figma), 0);

        const QString path = installStandinEntry({}, "figma-look-alike");
        QTRY_COMPARE(m_workspace->applicationLocation(figma), std::optional<QString>(path));
        QTRY_COMPARE(firstPid(figma), standin.pid());

        // The community client's entry serves when the official one is missing.
        removeStandinEntries();
        QTRY_VERIFY(!m_workspace->applicationLocation(figma));
        const QString community =
            installStandinEntry({}, "figma-look-alike", "figma-linux.desktop");
        QTRY_COMPARE(m_workspace->applicationLocation(figma), std::optional<QString>(community));
        QCOMPARE(firstPid(figma), standin.pid());

        // A class that does not match finds nothing.
        installStandinEntry({}, "another-class", "figma-linux.desktop");
        QTRY_COMPARE(firstPid(figma), 0);
    }

    void startsTheEntryAndWaitsForItsWindow() {
        StandinRecord record;
        const QString path = installStandinEntry({"--record", record.path()}, "figma-started");
        QTRY_VERIFY(m_workspace->applicationLocation(figma));
        const OpenResult result = open(path);
        QVERIFY(result.done);
        QVERIFY2(!result.error, qPrintable(result.error.value_or(QString())));
        QVERIFY(result.application);
        QVERIFY(record.waitForEvent("ready"));
        const qint64 pid = record.events("ready").first().value("pid").toInteger();
        QCOMPARE(result.application->processIdentifier(), pid);
        QTRY_COMPARE(m_workspace->frontmostApplicationBundleIdentifier(),
                     std::optional<QString>(figma));
        terminateProcess(pid);
    }

    void startFailuresComeBackAsErrors() {
        // A program that cannot be run.
        const QString dir = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        QFile broken(dir + "/figma-linux.desktop");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("[Desktop Entry]\nType=Application\nName=Broken\n"
                     "Exec=/nonexistent/figma-program\n");
        broken.close();
        OpenResult result = open(broken.fileName());
        QVERIFY(result.done);
        QVERIFY(result.error && !result.error->isEmpty());
        QVERIFY(!result.application);

        // A program that runs but never shows a window.
        const QString quiet = installStandinEntry({}, "quiet", "com.figma.Desktop.desktop");
        QFile entry(quiet);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Quiet\nExec=true\n");
        entry.close();
        m_workspace->setOpenTimeoutMilliseconds(600);
        result = open(quiet, 600);
        QVERIFY(result.done);
        m_workspace->setOpenTimeoutMilliseconds(20000);
        QVERIFY(result.error && result.error->contains("did not open a window"));
        QVERIFY(!result.application);
    }

    void activatesAndReportsTheFrontmostApplication() {
        installStandinEntry({}, "figma-front");
        StandinProcess figmaStandin;
        StandinProcess other;
        QVERIFY(figmaStandin.start({}, "figma-front"));
        QVERIFY(other.start({}, "other-tool"));
        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        QVERIFY(other.record().waitFor([](const QJsonObject& e) {
            return e.value("event") == "active" && e.value("value").toBool();
        }));
        QVERIFY(activateUntilFrontmost(figma, figmaStandin.pid()));
        QVERIFY(figmaStandin.waitUntilActive());
    }

    void unhidesAMinimisedWindow() {
        installStandinEntry({}, "figma-hidden");
        StandinProcess standin;
        QVERIFY(standin.start({}, "figma-hidden"));
        QVERIFY(activateUntilFrontmost(figma, standin.pid()));
        QVERIFY(QProcess::execute("xdotool", {"getactivewindow", "windowminimize", "--sync"}) == 0);
        QTRY_VERIFY(!standin.record().isActive());
        const auto apps = m_workspace->runningApplications(figma);
        QCOMPARE(apps.size(), 1);
        apps.first()->unhide();
        QVERIFY(activateUntilFrontmost(figma, standin.pid()));
        QVERIFY(standin.waitUntilActive());
    }

    void aWindowThatRefusesFocusNeverBecomesFrontmost() {
        installStandinEntry({}, "figma-stubborn");
        StandinProcess other;
        QVERIFY(other.start({}, "other-tool"));
        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        StandinProcess standin;
        QVERIFY(standin.start({"--refuse-activation"}, "figma-stubborn"));
        QTRY_COMPARE(firstPid(figma), standin.pid());
        m_workspace->runningApplications(figma).first()->activate(activateAllWindows);
        QTest::qWait(500);
        QVERIFY(m_workspace->frontmostApplicationBundleIdentifier() != figma);
        QVERIFY(!standin.record().isActive());
    }
};

QTEST_GUILESS_MAIN(WorkspaceTest)
#include "tst_workspace.moc"
