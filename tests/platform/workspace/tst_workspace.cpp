// Finding, starting and activating an application through its desktop entry and its windows.

#include "DesktopTestSupport.h"
#include "platform/linux/X11Workspace.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QString figma = QStringLiteral("com.figma.Desktop");

struct StartReport {
    int reports = 0;
    StartResult result;
};

} // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<X11Workspace> m_workspace;

    qint64 runningPid(const QString& identifier) {
        const RunningApplicationPtr app = m_workspace->findRunning(identifier);
        return app ? app->processIdentifier() : 0;
    }

    // Starts the identifier's application and waits for the report. A second report would come
    // from a poll left running, due within one poll interval of the first: a timer started after
    // the first report and lasting two intervals is the barrier it would have to beat.
    StartReport start(const QString& identifier, int timeoutMilliseconds = 20000) {
        auto report = std::make_shared<StartReport>();
        m_workspace->start(identifier, [report](StartResult result) {
            ++report->reports;
            report->result = std::move(result);
        });
        waitUntil([&] { return report->reports > 0; }, timeoutMilliseconds + 2000);
        bool barrier = false;
        QTimer::singleShot(2 * X11Workspace::startPollMilliseconds, Qt::PreciseTimer,
                           [&barrier] { barrier = true; });
        while (!barrier)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return *report;
    }

    // Asks until the application is frontmost: a window manager ignores requests for a window it
    // has not finished managing.
    bool activateUntilFrontmost(const QString& identifier, qint64 pid) {
        return waitUntil([&] {
            if (const RunningApplicationPtr app = m_workspace->findRunning(identifier);
                app && app->processIdentifier() == pid)
                app->activate();
            QTest::qWait(100);
            return m_workspace->isFrontmost(identifier) && activeWindowPid() == pid;
        });
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
        QVERIFY(!m_workspace->desktopEntryPath(figma));
        StandinProcess standin;
        QVERIFY(standin.start({}, "figma-look-alike"));
        // No entry: nothing stands for the identifier, even once the window manager has taken
        // the window in and made it active.
        QVERIFY(waitForActivePid(standin.pid()));
        QCOMPARE(runningPid(figma), 0);

        const QString path = installStandinEntry({}, "figma-look-alike");
        QTRY_COMPARE(m_workspace->desktopEntryPath(figma), std::optional<QString>(path));
        QTRY_COMPARE(runningPid(figma), standin.pid());

        // Any identifier is found by its own entry only: which ones stand for Figma is the
        // launcher's business.
        removeStandinEntries();
        const QString community =
            installStandinEntry({}, "figma-look-alike", "figma-linux.desktop");
        const QString client = QStringLiteral("figma-linux");
        QTRY_COMPARE(m_workspace->desktopEntryPath(client), std::optional<QString>(community));
        QVERIFY(!m_workspace->desktopEntryPath(figma));
        QCOMPARE(runningPid(client), standin.pid());

        // A second instance does not displace the first.
        StandinProcess second;
        QVERIFY(second.start({}, "figma-look-alike"));
        QCOMPARE(runningPid(client), standin.pid());
        standin.stop();
        QTRY_COMPARE(runningPid(client), second.pid());

        // A class that does not match finds nothing.
        installStandinEntry({}, "another-class", "figma-linux.desktop");
        QTRY_COMPARE(runningPid(client), 0);
    }

    void startsTheEntryAndWaitsForItsWindow() {
        StandinRecord record;
        installStandinEntry({"--record", record.path()}, "figma-started");
        QTRY_VERIFY(m_workspace->desktopEntryPath(figma));
        const StartReport report = start(figma);
        QCOMPARE(report.reports, 1);
        QVERIFY2(report.result.kind == StartResult::Kind::started,
                 qPrintable(report.result.message));
        QVERIFY(report.result.application);
        QVERIFY(record.waitForEvent("ready"));
        const qint64 pid = record.events("ready").first().value("pid").toInteger();
        QCOMPARE(report.result.application->processIdentifier(), pid);
        QCOMPARE(runningPid(figma), pid);
        QTRY_VERIFY(m_workspace->isFrontmost(figma));
        terminateProcess(pid);
    }

    void startFailuresSayWhy() {
        // Nothing installed: nothing is run.
        QTRY_VERIFY(!m_workspace->desktopEntryPath(figma));
        StartReport report = start(figma);
        QCOMPARE(report.reports, 1);
        QVERIFY(report.result.kind == StartResult::Kind::notInstalled);
        QVERIFY(!report.result.application);

        // A program that cannot be run: the folder it is to run in is missing.
        const QString dir = qEnvironmentVariable("XDG_DATA_HOME") + "/applications";
        QFile broken(dir + "/figma-linux.desktop");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("[Desktop Entry]\nType=Application\nName=Broken\nExec=true\n"
                     "Path=/nonexistent/figma-folder\n");
        broken.close();
        QTRY_VERIFY(m_workspace->desktopEntryPath("figma-linux"));
        report = start("figma-linux");
        QCOMPARE(report.reports, 1);
        QVERIFY(report.result.kind == StartResult::Kind::failed);
        QVERIFY2(report.result.message.contains("/nonexistent/figma-folder"),
                 qPrintable(report.result.message));
        QVERIFY(!report.result.application);

        // A program that runs but never shows a window.
        const QString quiet = installStandinEntry({}, "quiet", "com.figma.Desktop.desktop");
        QFile entry(quiet);
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Quiet\nExec=true\n");
        entry.close();
        QVERIFY(broken.remove());
        // The desktop's entry index notices changed files a moment later.
        QTRY_COMPARE(m_workspace->desktopEntryPath(figma), std::optional<QString>(quiet));
        m_workspace->setStartTimeoutMilliseconds(600);
        report = start(figma, 600);
        m_workspace->setStartTimeoutMilliseconds(20000);
        QCOMPARE(report.reports, 1);
        QVERIFY(report.result.kind == StartResult::Kind::failed);
        QVERIFY2(report.result.message.contains("did not open a window"),
                 qPrintable(report.result.message));
        QVERIFY(!report.result.application);
    }

    void activatesAndReportsTheFrontmostApplication() {
        installStandinEntry({}, "figma-front");
        StandinProcess figmaStandin;
        StandinProcess other;
        QVERIFY(figmaStandin.start({}, "figma-front"));
        QVERIFY(other.start({}, "other-tool"));
        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        QVERIFY(other.record().waitForEvent("active", {{"value", true}}));
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
        QVERIFY(!m_workspace->isFrontmost(figma));
        // Activation shows the window again as it brings it forward.
        QVERIFY(activateUntilFrontmost(figma, standin.pid()));
        QVERIFY(standin.waitUntilActive());
    }

    // Any client sets its own window class, well formed or not: one without its closing NUL is
    // read within its length (in the sanitizer build, a read past it fails the test).
    void readsAWindowClassWithoutItsClosingNul() {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(c));
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        // Eight bytes that fill the reply's last word, with no NUL after the class.
        const char wmClass[] = {'o', 'd', 'd', '\0', 't', 'o', 'o', 'l'};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof(wmClass), wmClass);
        xcb_map_window(c, window);
        xcb_flush(c);
        QTRY_COMPARE(
            QProcess::execute("xdotool", {"windowactivate", "--sync", QString::number(window)}), 0);
        QTRY_VERIFY(m_workspace->isFrontmost("tool"));
        QVERIFY(m_workspace->isFrontmost("odd"));
        QVERIFY(!m_workspace->isFrontmost("toolbox"));
        xcb_disconnect(c);
    }

    void aWindowThatRefusesFocusNeverBecomesFrontmost() {
        installStandinEntry({}, "figma-stubborn");
        StandinProcess other;
        QVERIFY(other.start({}, "other-tool"));
        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        StandinProcess standin;
        QVERIFY(standin.start({"--refuse-activation"}, "figma-stubborn"));
        QTRY_COMPARE(runningPid(figma), standin.pid());
        m_workspace->findRunning(figma)->activate();
        quint32 window = 0;
        for (const ClientWindow& w : clientWindows())
            window = w.pid == standin.pid() ? w.window : window;
        QVERIFY(windowManagerBarrier(window));
        QVERIFY(!m_workspace->isFrontmost(figma));
        QVERIFY(m_workspace->isFrontmost("other-tool"));
        QVERIFY(!standin.record().isActive());
    }
};

QTEST_GUILESS_MAIN(WorkspaceTest)
#include "tst_workspace.moc"
