// The Wayland backends inside a headless KWin session: hotkeys through the GlobalShortcuts
// portal, keys through the RemoteDesktop portal into Chromium (native Wayland and XWayland),
// windows brought forward through KWin's scripting with the frontmost check following, and the
// application end to end on native-Wayland Chromium.

#include "BrevlinProcess.h"
#include "DesktopTestSupport.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/KWinWorkspace.h"
#include "platform/linux/WaylandPortals.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <linux/input-event-codes.h>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

const QString target = "com.figma.Desktop";
using Registered = HotkeyService::RegisterResult;

// An entry named `identifier` starting `command`. On Wayland nothing in it names the window: the
// workspace finds the window by the process it starts.
void installEntry(const QString& identifier, const QStringList& command,
                  const QString& windowClass = {}) {
    QVERIFY(!installDesktopEntry(identifier, identifier, command, windowClass).isEmpty());
}

// The palette in Chromium on `ozone` ("wayland" or "x11"), through the target's entry.
QStringList paletteCommand(const QString& ozone, const QString& profile) {
    QStringList command = chromiumPaletteCommand({}, "figma-palette", profile);
    command.insert(1, "--ozone-platform=" + ozone);
    return command;
}

// A session bus that starts no services, so no portal comes up on it.
const char bareBusConfig[] =
    "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>\n"
    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
    "</busconfig>\n";

// brevlin-testing as the session runs it: natively on Wayland, not through the X11 platform
// the tests' own environment may name.
bool startNative(BrevlinProcess& brevlin,
                 QProcessEnvironment environment = QProcessEnvironment::systemEnvironment()) {
    environment.remove("QT_QPA_PLATFORM");
    return brevlin.start(true, std::move(environment));
}

} // namespace

class WaylandTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PortalKeyboard> m_keys;
    KWinWorkspace m_workspace;
    // The test's own reads, outside any event loop: each has its own time.
    AtspiAccessibility m_titles;
    QTemporaryDir m_dir;
    QList<qint64> m_started;

    // The palette's state, read from its window's title through the accessibility bus (a
    // Wayland client cannot read another's title).
    PaletteState palette(qint64 pid) {
        PaletteState state;
        const AccessibleElement application = m_titles.applicationElement(pid);
        for (const AccessibleElement& window : m_titles.elements(application, Relation::windows)) {
            const QString title = m_titles.text(window, LabelText::title).value_or(QString());
            const PaletteState parsed = parsePaletteTitle(title);
            if (parsed.found)
                state = parsed;
        }
        return state;
    }

    // Starts the entry's program through the workspace and returns its process once it shows.
    qint64 start(const QString& identifier) {
        std::optional<StartResult> result;
        m_workspace.start(identifier, [&](StartResult r) { result = std::move(r); });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 60000) ||
            result->kind != StartResult::Kind::started)
            return 0;
        m_started.append(result->application->processIdentifier());
        return result->application->processIdentifier();
    }

    bool bringForward(const QString& identifier) {
        // The compositor may still be mapping a window that opened just now, or not have told of
        // it yet: find it and ask again until the application is in front, as the launcher does.
        return QTest::qWaitFor(
            [&] {
                const RunningApplicationPtr application = m_workspace.findRunning(identifier);
                if (!application)
                    return false;
                application->activate();
                return QTest::qWaitFor([&] { return m_workspace.isFrontmost(identifier); }, 1000);
            },
            20000);
    }

    void startOther() {
        installEntry("brevlin.Other", {standinExecutable()});
        QVERIFY(start("brevlin.Other"));
        QVERIFY(bringForward("brevlin.Other"));
    }

    void chord(const QList<int>& keycodes) {
        for (int code : keycodes)
            m_keys->sendKeycode(code, true);
        for (auto it = keycodes.crbegin(); it != keycodes.crend(); ++it)
            m_keys->sendKeycode(*it, false);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
                 "run inside scripts/desktop-session --wayland");
        QVERIFY(setAccessibilityEnabled(true));
        m_titles.setTurnBudget(0);
        QVERIFY(KWinWorkspace::canActivate());
        m_keys = std::make_unique<PortalKeyboard>(m_dir.filePath("token"));
        QSignalSpy changed(m_keys.get(), &PortalKeyboard::sessionChanged);
        m_keys->start();
        QVERIFY(changed.wait(30000));
        QVERIFY2(m_keys->isAvailable(), qPrintable(m_keys->failure()));
    }

    void cleanup() {
        for (qint64 pid : std::as_const(m_started))
            terminateProcess(pid);
        m_started.clear();
    }

    void shortcutsFireOnInjectedKeys() {
        PortalHotkeyService hotkeys;
        QList<HotkeyService::HotkeyId> presses;
        hotkeys.setPressHandler([&](HotkeyService::HotkeyId id) { presses.append(id); });
        const auto ctrlAlt = [](const char* key) {
            return Hotkey{key, {KeyModifier::primary, KeyModifier::alternate}};
        };
        // The application's own identifiers and keys: the desktop keeps a shortcut's key under
        // its identifier, and the application registers the same ones again.
        QCOMPARE(hotkeys.registerHotkey(1, ctrlAlt("1")), Registered::registered);
        QCOMPARE(hotkeys.registerHotkey(2, ctrlAlt("2")), Registered::registered);
        QSignalSpy bound(&hotkeys, &PortalHotkeyService::bindingChanged);
        QVERIFY(bound.wait(20000));
        QVERIFY2(hotkeys.isBound(), qPrintable(hotkeys.failure()));
        // Without Alt it is not the hotkey; the second chord is the barrier that shows the first
        // fired nothing.
        chord({KEY_LEFTCTRL, KEY_2});
        chord({KEY_LEFTCTRL, KEY_LEFTALT, KEY_2});
        QTRY_COMPARE_WITH_TIMEOUT(presses, (QList<HotkeyService::HotkeyId>{2}), 10000);
        chord({KEY_LEFTCTRL, KEY_LEFTALT, KEY_1});
        QTRY_COMPARE_WITH_TIMEOUT(presses, (QList<HotkeyService::HotkeyId>{2, 1}), 10000);

        // A refusal comes after `registered`, through the failure the dock shows: the portal
        // takes one session of Brevlin's name at a time.
        PortalHotkeyService second;
        QCOMPARE(second.registerHotkey(3, ctrlAlt("3")), Registered::registered);
        QSignalSpy refused(&second, &PortalHotkeyService::bindingChanged);
        QVERIFY(refused.wait(20000));
        QVERIFY(!second.isBound());
        QVERIFY2(second.failure().contains("Ctrl+Alt+3"), qPrintable(second.failure()));
    }

    // Chromium natively on Wayland and on XWayland: the shortcut opens the palette, typed text
    // arrives, a character the layout lacks is refused rather than dropped; and the target is
    // brought forward from another window, the frontmost check following it both ways.
    void keysAndActivation_data() {
        QTest::addColumn<QString>("ozone");
        QTest::newRow("native Wayland") << QString("wayland");
        QTest::newRow("XWayland") << QString("x11");
    }
    void keysAndActivation() {
        QFETCH(QString, ozone);
        installEntry(target, paletteCommand(ozone, m_dir.filePath("profile-" + ozone)));
        const qint64 pid = start(target);
        QVERIFY2(pid, "the palette did not show");
        QVERIFY(QTest::qWaitFor([&] { return palette(pid).found; }, 30000));

        startOther();
        QVERIFY(!m_workspace.isFrontmost(target));

        QVERIFY(bringForward(target));
        QVERIFY(!m_workspace.isFrontmost("brevlin.Other"));
        QCOMPARE(m_keys->press(Key::k, KeyModifier::primary), KeyResult::posted);
        QVERIFY(QTest::qWaitFor([&] { return palette(pid).open; }, 10000));
        // A hotkey's Ctrl+Alt still held: the text arrives plain all the same.
        m_keys->sendKeycode(KEY_LEFTCTRL, true);
        m_keys->sendKeycode(KEY_LEFTALT, true);
        QCOMPARE(m_keys->type(u"Ic"), KeyResult::posted);
        QCOMPARE(m_keys->type(u"\u00e9"), KeyResult::keyUnavailable); // é: not on a US layout
        QCOMPARE(m_keys->type(u"on"), KeyResult::posted);
        m_keys->sendKeycode(KEY_LEFTALT, false);
        m_keys->sendKeycode(KEY_LEFTCTRL, false);
        QTRY_COMPARE_WITH_TIMEOUT(palette(pid).text, QString("Icon"), 10000);
    }

    // A browser's web app shares the browser's process: its window is told from the browser's
    // ordinary one by its app id, and it is that window that is found, brought forward and
    // counted as in front.
    void webAppWindowByAppId() {
        const QString webApp = "chrome-bnpmlkocmbcngjgalnlmdhjafjcekmfp-Default";
        QStringList browser = chromiumCommand(m_dir.filePath("profile-webapp"));
        browser.insert(1, "--ozone-platform=wayland");
        installEntry("brevlin.Browser", browser);
        const qint64 pid = start("brevlin.Browser");
        QVERIFY(pid);
        const auto activeId = [&] { return m_workspace.activeWindow().value_or(KWinWindow{}).id; };
        const auto windowsOf = [&](qint64 owner) {
            QList<KWinWindow> result;
            for (const KWinWindow& w : m_workspace.windows())
                if (w.pid == owner && w.normal)
                    result.append(w);
            return result;
        };
        QTRY_COMPARE_WITH_TIMEOUT(windowsOf(pid).size(), 1, 30000);
        const KWinWindow ordinary = windowsOf(pid).first();

        // Chromium names an --app window for a file URL after the path, slashes turned to
        // underscores; a browser-installed web app's carries the entry's own id.
        const QString page = palettePagePath();
        const QString appId = "chrome-_" + QString(page).replace('/', '_') + "-Default";
        installEntry(webApp, browser + QStringList{"--app=" + QUrl::fromLocalFile(page).toString()},
                     appId);
        std::optional<StartResult> result;
        m_workspace.start(webApp, [&](StartResult r) { result = std::move(r); });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
        QCOMPARE(result->kind, StartResult::Kind::started);
        QCOMPARE(result->application->processIdentifier(), pid);
        QCOMPARE(windowsOf(pid).size(), 2);
        const KWinWindow app = windowsOf(pid).last();
        QCOMPARE(app.appId, appId);
        QTRY_COMPARE_WITH_TIMEOUT(activeId(), app.id, 10000);
        QVERIFY(m_workspace.isFrontmost(webApp));
        QTRY_VERIFY(!result->application->windowTitle().isEmpty());
        QCOMPARE(result->application->windowTitle(), windowsOf(pid).last().caption);

        // The ordinary window in front: the web app's process, but not the web app.
        // The browser's entry names no window: its process's first one, the ordinary window.
        m_workspace.findRunning("brevlin.Browser")->activate();
        QTRY_COMPARE_WITH_TIMEOUT(activeId(), ordinary.id, 10000);
        QVERIFY(!m_workspace.isFrontmost(webApp));
        const RunningApplicationPtr found = m_workspace.findRunning(webApp);
        QVERIFY(found);
        QCOMPARE(found->processIdentifier(), pid);
        found->activate();
        QTRY_COMPARE_WITH_TIMEOUT(activeId(), app.id, 10000);
        QVERIFY(m_workspace.isFrontmost(webApp));
    }

    // The application on Wayland: native, its hotkey launching into Chromium in front, its dock
    // clicked while another window is in front (the click takes the focus, as on the desktop).
    void applicationByHotkeyAndDock() {
        installEntry(target, paletteCommand("wayland", m_dir.filePath("profile-app")));
        const qint64 pid = start(target);
        QVERIFY(pid);
        QVERIFY(bringForward(target));
        BrevlinProcess brevlin;
        QVERIFY(startNative(brevlin));
        QVERIFY2(brevlin.state().value("errors").toArray().isEmpty(),
                 qPrintable(QJsonDocument(brevlin.state()).toJson()));
        // The portal binds the hotkeys a moment after start; until then a press does nothing, so
        // press again until a launch has begun (a slow one may then run twice).
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         chord({KEY_LEFTCTRL, KEY_LEFTALT, KEY_1});
                         return QTest::qWaitFor([&] { return palette(pid).ctrlK > 0; }, 5000);
                     },
                     60000),
                 qPrintable(QJsonDocument(brevlin.state()).toJson()));
        QTRY_VERIFY_WITH_TIMEOUT(!palette(pid).runs.isEmpty() && !palette(pid).open, 30000);
        PaletteState state = palette(pid);
        QCOMPARE(state.runs.first(), QString("Content Reel/press"));
        QCOMPARE(state.tab, QString("Plugins"));

        startOther();
        // KWin keeps the dock above the window just activated, and out of the task bar.
        const auto dock = [&] {
            for (const KWinWindow& w : m_workspace.windows())
                if (w.pid == brevlin.process()->processId())
                    return w;
            return KWinWindow{};
        };
        QTRY_VERIFY_WITH_TIMEOUT(dock().keepAbove && dock().skipTaskbar, 10000);
        installEntry("brevlin.Dock", {QStringLiteral(BREVLIN_APP_PATH)});
        QVERIFY(bringForward("brevlin.Dock"));
        QVERIFY(brevlin.request("click 1").value("ok").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(palette(pid).runs.contains("Autoflow/press") && !palette(pid).open,
                                 30000);
        state = palette(pid);
        QCOMPARE(state.runs.count("Autoflow/press"), 1);
        QCOMPARE(state.tab, QString("Plugins"));
        QVERIFY(m_workspace.isFrontmost(target));

        // Told to stop as the session tells it, Brevlin leaves as by its Quit command, taking its
        // window script out of KWin rather than leaving it to call a name that is gone.
        const auto scriptLoaded = [](const QString& name) {
            QDBusMessage ask = QDBusMessage::createMethodCall(
                "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded");
            ask.setArguments({name});
            const QDBusReply<bool> reply = QDBusConnection::sessionBus().call(ask);
            return reply.isValid() && reply.value();
        };
        const QString script = "windows-" + QString::number(brevlin.process()->processId());
        QVERIFY(scriptLoaded(script));
        brevlin.stop();
        QCOMPARE(brevlin.process()->exitStatus(), QProcess::NormalExit);
        QVERIFY(!scriptLoaded(script));
    }

    // A desktop without the portals and KWin (a bus that activates nothing): the dock says what
    // does not work, once, rather than failing silently.
    void missingCapabilitiesAreShown() {
        QFile config(m_dir.filePath("bare-bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(bareBusConfig) > 0);
        config.close();
        QProcess bus;
        bus.start("dbus-daemon",
                  {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus.readLine()).trimmed());
        // Brevlin ends before the bus it runs on: both go with their QProcess.
        BrevlinProcess brevlin;
        QVERIFY(startNative(brevlin, environment));
        QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().value("errors").toArray().isEmpty(), 10000);
        const QString shown = brevlin.state().value("errors").toArray().first().toString();
        QVERIFY2(shown.contains("no global-shortcuts portal"), qPrintable(shown));
        QVERIFY2(shown.contains("no remote-control portal"), qPrintable(shown));
        QVERIFY2(shown.contains("bring Figma to the front"), qPrintable(shown));
        QCOMPARE(brevlin.state().value("markerToolTip").toString(), shown);
    }
};

QTEST_GUILESS_MAIN(WaylandTest)
#include "tst_wayland.moc"
