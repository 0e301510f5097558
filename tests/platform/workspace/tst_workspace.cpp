// Finding, starting and activating an application through its desktop entry and its windows;
// what is installed of Figma, as the settings window lists it and saves the choice; and "Start
// Brevlin at login". Entries go into the session's own XDG_DATA_HOME.

#include "../../model/StoreFiles.h"
#include "DesktopTestSupport.h"
#include "platform/linux/AutostartEntry.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/X11Workspace.h"
#include "ui/settings/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
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

QStringList idsOf(const QList<FigmaTarget>& targets) {
    QStringList ids;
    for (const FigmaTarget& t : targets)
        ids.append(t.applicationId);
    return ids;
}

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
        const QString broken =
            qEnvironmentVariable("XDG_DATA_HOME") + "/applications/figma-linux.desktop";
        QVERIFY(writeAll(broken, "[Desktop Entry]\nType=Application\nName=Broken\nExec=true\n"
                                 "Path=/nonexistent/figma-folder\n"));
        QTRY_VERIFY(m_workspace->desktopEntryPath("figma-linux"));
        report = start("figma-linux");
        QCOMPARE(report.reports, 1);
        QVERIFY(report.result.kind == StartResult::Kind::failed);
        QVERIFY2(report.result.message.contains("/nonexistent/figma-folder"),
                 qPrintable(report.result.message));
        QVERIFY(!report.result.application);

        // A program that runs but never shows a window.
        const QString quiet = installDesktopEntry(figma, "Quiet", {"true"});
        QVERIFY(QFile::remove(broken));
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

    // Activation brings the application forward from another one, and shows a minimised window
    // again as it brings it forward; a window that refuses the focus never becomes frontmost.
    void activationBringsForwardAndUnhidesButForcesNoFocus() {
        installStandinEntry({}, "figma-front");
        StandinProcess standin;
        StandinProcess other;
        QVERIFY(standin.start({}, "figma-front"));
        QVERIFY(other.start({}, "other-tool"));
        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        QVERIFY(other.record().waitForEvent("active", {{"value", true}}));
        QVERIFY(activateUntilFrontmost(figma, standin.pid()));
        QVERIFY(standin.waitUntilActive());
        QVERIFY(QProcess::execute("xdotool", {"getactivewindow", "windowminimize", "--sync"}) == 0);
        QTRY_VERIFY(!standin.record().isActive());
        QVERIFY(!m_workspace->isFrontmost(figma));
        QVERIFY(activateUntilFrontmost(figma, standin.pid()));
        QVERIFY(standin.waitUntilActive());

        QVERIFY(activateUntilFrontmost("other-tool", other.pid()));
        installStandinEntry({}, "figma-stubborn");
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

    void listsWhatIsInstalledAndSavesTheChoice() {
        QTemporaryDir data;
        DockStore store(data.path(), noSeed());
        SettingsView view(store);
        view.setDesktopServices({installedFigmaTargets, {}, {}});
        // Nothing installed: the row says what to install.
        QVERIFY(view.figmaTargets().isEmpty());
        const auto* missing = view.findChild<QLabel*>("figmaMissingLabel");
        auto* box = view.findChild<QComboBox*>("figmaTargetBox");
        QVERIFY(!missing->isHidden() && box->isHidden());
        QVERIFY(missing->text().contains("figma-linux") && missing->text().contains("Chrome"));

        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        const QStringList runsNothing = {"true"};
        // The community client as its deb and snap packages name it, beside Flatpak's export
        // folder, which a session's XDG_DATA_DIRS may lack.
        installDesktopEntry("figma-linux", "Figma Linux", runsNothing);
        installDesktopEntry("figma-linux_figma-linux", "Figma Linux", runsNothing);
        const QString flatpak = dataHome + "/flatpak/exports/share/applications";
        QVERIFY(QDir().mkpath(flatpak));
        QVERIFY(QFile::copy(dataHome + "/applications/figma-linux.desktop",
                            flatpak + "/io.github.Figma_Linux.figma_linux.desktop"));
        // Web apps: one by its URL (without StartupWMClass: the browser's crx_ class), one by its
        // name; a web app for another site, and an entry named Figma that is no browser's.
        const QString byUrl = "brave-aaaabbbbccccddddeeeeffffgggghhhh-Default";
        installDesktopEntry(byUrl, "Design",
                            {"chromium", "--app=https://www.figma.com/files/recent"});
        const QString byName = "chrome-ppppoooonnnnmmmmllllkkkkjjjjiiii-Profile_1";
        installDesktopEntry(byName, "Figma",
                            {"chromium", "--app-id=ppppoooonnnnmmmmllllkkkkjjjjiiii"},
                            "crx_ppppoooonnnnmmmmllllkkkkjjjjiiii");
        installDesktopEntry("chrome-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-Default", "Notes",
                            {"chromium", "--app=https://notfigma.com.example.org/"});
        installDesktopEntry("figma-notes", "Figma Notes", runsNothing);

        const QStringList expected = {"figma-linux", "io.github.Figma_Linux.figma_linux",
                                      "figma-linux_figma-linux", byUrl, byName};
        QTRY_COMPARE(idsOf(installedFigmaTargets()), expected);
        const QList<FigmaTarget> found = installedFigmaTargets();
        QCOMPARE(found[3].windowClass, QString("crx_aaaabbbbccccddddeeeeffffgggghhhh"));
        QCOMPARE(found[3].kind, FigmaTarget::Kind::webApp);
        QCOMPARE(found[0].kind, FigmaTarget::Kind::desktopClient);

        // Shown when the window comes up; the first found is the default, and nothing is saved
        // for it.
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(idsOf(view.figmaTargets()), expected);
        QVERIFY(missing->isHidden() && !box->isHidden());
        QCOMPARE(box->count(), expected.size());
        QCOMPARE(box->currentIndex(), 0);
        QVERIFY(!readAll(store.configFilePath()).contains("figmaTarget"));

        // The user's choice is saved, with the file's keys still in order, and read back.
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, Qt::Key_Down);
        QCOMPARE(store.figmaTarget(), std::optional<QString>("figma-linux_figma-linux"));
        const QByteArray saved = readAll(store.configFilePath());
        QVERIFY(saved.contains("\"figmaTarget\" : \"figma-linux_figma-linux\""));
        QVERIFY(saved.indexOf("\"figmaTarget\"") < saved.indexOf("\"items\""));
        DockStore reread(data.path(), noSeed());
        QCOMPARE(reread.figmaTarget(), std::optional<QString>("figma-linux_figma-linux"));
        SettingsView again(reread);
        again.setDesktopServices({installedFigmaTargets, {}, {}});
        QCOMPARE(again.findChild<QComboBox*>("figmaTargetBox")->currentIndex(), 2);

        // A file without the key loads as before and is written back without it.
        QByteArray older = saved;
        older.replace("  \"figmaTarget\" : \"figma-linux_figma-linux\",\n", "");
        QVERIFY(!older.contains("figmaTarget"));
        QVERIFY(writeAll(store.configFilePath(), older));
        DockStore plain(data.path(), noSeed());
        QVERIFY(!plain.figmaTarget());
        QCOMPARE(plain.items(), store.items());
        QVERIFY(plain.save());
        QCOMPARE(readAll(store.configFilePath()), older);

        for (const QString& id :
             expected +
                 QStringList{"chrome-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa-Default", "figma-notes"})
            QFile::remove(dataHome + "/applications/" + id + ".desktop");
        QDir(dataHome + "/flatpak").removeRecursively();
    }

    void startAtLoginFollowsTheAutostartEntry() {
        QTemporaryDir data;
        DockStore store(data.path(), noSeed());
        const AutostartEntry entry("/opt/Brevlin Test/brevlin");
        const QString path =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            "/autostart/brevlin.desktop";
        QCOMPARE(entry.path(), path);
        SettingsView view(store);
        view.setDesktopServices(
            {{}, [&] { return entry.isEnabled(); }, [&](bool on) { return entry.setEnabled(on); }});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* box = view.findChild<QCheckBox*>("startAtLoginBox");
        QVERIFY(!box->isChecked());
        // The box is as wide as the window; a click counts on its indicator and label.
        const QPoint indicator(8, box->height() / 2);

        QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
        QVERIFY(box->isChecked());
        QVERIFY(readAll(path).contains("Exec=\"/opt/Brevlin Test/brevlin\""));
        QTest::mouseClick(box, Qt::LeftButton, {}, indicator);
        QVERIFY(!box->isChecked());
        QVERIFY(!QFile::exists(path));

        // Made and deleted by hand, or switched off the way desktops switch an entry off: the box
        // follows the next time the window comes up.
        const auto checkedWhenShownAgain = [&] {
            view.hide();
            view.show();
            return box->isChecked();
        };
        const QByteArray made = "[Desktop Entry]\nType=Application\nName=Brevlin\nExec=brevlin\n";
        QVERIFY(writeAll(path, made));
        QVERIFY(checkedWhenShownAgain());
        QVERIFY(QFile::remove(path));
        QVERIFY(!checkedWhenShownAgain());
        QVERIFY(writeAll(path, made + "Hidden=true\n"));
        QVERIFY(!checkedWhenShownAgain());
        QVERIFY(QFile::remove(path));
    }
};

QTEST_MAIN(WorkspaceTest)
#include "tst_workspace.moc"
