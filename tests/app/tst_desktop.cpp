// The real `brevlin` end to end inside a private desktop session: hotkeys pressed and dock
// buttons clicked through XTest, launches into the stand-in installed as the desktop's Figma.
// A test-only control socket reports what the dock shows and makes the settings window's edits.

#include "BrevlinProcess.h"
#include "DesktopTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/types.h>

using namespace brevlin::testing;

namespace {

bool xdotool(const QStringList& arguments) {
    return runsCleanly("xdotool", arguments);
}

bool pressKeys(const QString& keys) {
    return xdotool({"key", "--clearmodifiers", keys});
}

bool clickAt(const QJsonObject& rect) {
    const int x = rect.value("x").toInt() + rect.value("w").toInt() / 2;
    const int y = rect.value("y").toInt() + rect.value("h").toInt() / 2;
    return xdotool({"mousemove", QString::number(x), QString::number(y), "click", "1"});
}

// The program, with the settings window's edit of one shortcut made through its control socket.
class Brevlin : public BrevlinProcess {
public:
    bool upsert(const QJsonObject& item) const {
        return request("upsert " +
                       QString::fromUtf8(QJsonDocument(item).toJson(QJsonDocument::Compact)))
            .value("ok")
            .toBool();
    }
    bool configContains(const QByteArray& text) const {
        QFile config(configPath());
        return config.open(QIODevice::ReadOnly) && config.readAll().contains(text);
    }
};

QJsonObject shortcut(const QString& name, const QString& key) {
    return {{"id", "6F1A2B3C-4D5E-4F60-8172-93A4B5C6D7E8"},
            {"name", name},
            {"pluginName", name},
            {"icon", "star.fill"},
            {"hotkey", QJsonObject{{"key", key}, {"modifiers", QJsonArray{"command", "option"}}}}};
}

// The process that owns a name on the session bus, or 0.
qint64 busNameOwner(const QString& name) {
    QProcess process;
    process.start("dbus-send",
                  {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                   "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + name});
    if (!process.waitForFinished(5000))
        return 0;
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    return out.section("uint32 ", 1).trimmed().toLongLong();
}

// Stops a process where it stands (it answers nothing, draws nothing) until the guard goes away.
auto freeze(qint64 pid) {
    if (pid > 0)
        ::kill(pid_t(pid), SIGSTOP);
    return qScopeGuard([pid] {
        if (pid > 0)
            ::kill(pid_t(pid), SIGCONT);
    });
}

} // namespace

class DesktopTests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
        QVERIFY(!QStandardPaths::findExecutable("xdotool").isEmpty());
    }

    void cleanup() {
        if (m_record)
            clearRecord();
        for (qint64 pid : std::as_const(m_standinPids))
            terminateProcess(pid);
        m_standinPids.clear();
        m_record.reset();
        removeStandinEntries();
    }

    // Ctrl+Alt+1 (the first sample's hotkey) and a click on the second button launch; then a
    // window that takes the focus while the name is typed gets none of the launch's keys.
    void hotkeyAndDockButtonLaunchIntoTheStandinAndAFocusThiefGetsNoKey() {
        QVERIFY(setAccessibilityEnabled(true));
        m_record = std::make_unique<StandinRecord>();
        installStandinEntry({"--record", m_record->path()});
        Brevlin brevlin;
        QVERIFY(brevlin.start());
        QVERIFY(pressKeys("ctrl+alt+1"));
        QVERIFY2(m_record->waitForEvent("run", {{"name", "Content Reel"}}, 20000),
                 qPrintable(m_record->runs().join(", ")));
        QVERIFY(clickAt(brevlin.state().value("buttons").toArray().at(1).toObject()));
        QVERIFY2(m_record->waitForEvent("run", {{"name", "Autoflow"}}, 20000),
                 qPrintable(m_record->runs().join(", ")));
        QVERIFY(brevlin.state().value("errorMessage").isNull());

        clearRecord();
        StandinProcess thief;
        QVERIFY(thief.start({}, "brevlin-thief"));
        // Slow typing leaves time to take the focus in the middle of the name.
        QVERIFY(brevlin.request("adaptive-waits 0").value("ok").toBool());
        QVERIFY(brevlin.request("timing 2 120").value("ok").toBool());
        QVERIFY(pressKeys("ctrl+alt+1"));
        QVERIFY(m_record->waitFor(
            [](const QJsonObject& e) {
                return e.value("event") == "text" && !e.value("text").toString().isEmpty();
            },
            20000));
        const int keysBefore = int(thief.record().events("key").size());
        QVERIFY(xdotool({"search", "--classname", "^brevlin-thief$", "windowactivate"}));

        QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().value("errors").toArray().isEmpty(), 10000);
        const QString error = brevlin.state().value("errors").toArray().first().toString();
        QVERIFY2(error.contains("lost the focus"), qPrintable(error));
        QVERIFY2(error.contains("typed nothing more"), qPrintable(error));
        QVERIFY(m_record->runs().isEmpty());
        QVERIFY(QString("Content Reel").startsWith(m_record->lastText()));
        // The barrier: a key typed into the thief now arrives after any the launch sent it.
        QVERIFY(thief.waitUntilActive());
        QVERIFY(pressKeys("z"));
        QVERIFY(thief.record().waitForEvent("key", {{"text", "z"}}));
        const QList<QJsonObject> keys = thief.record().events("key");
        QCOMPARE(keys.size(), keysBefore + 1);
        QCOMPARE(keys.last().value("text").toString(), QString("z"));
    }

    // Without accessibility the dock shows the prompt, and the marker once a launch fails, until
    // it is granted; then a second start brings the closed dock back and leaves.
    void missingAccessibilityUntilGrantedThenSecondStarts() {
        QVERIFY(setAccessibilityEnabled(false));
        Brevlin brevlin;
        QVERIFY(brevlin.start());
        // The answer comes from the bus, a moment after the dock is up.
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("trusted").toBool(), false, 5000);
        QJsonObject state = brevlin.state();
        QVERIFY(!state.value("prompt").toObject().isEmpty());
        QVERIFY(state.value("marker").toObject().isEmpty());

        // A launch fails with the message, shown by the marker.
        QVERIFY(clickAt(state.value("buttons").toArray().at(0).toObject()));
        QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().value("marker").toObject().isEmpty(), 10000);
        state = brevlin.state();
        const QString message = state.value("errorMessage").toString();
        QVERIFY(message.contains("Accessibility"));
        QCOMPARE(state.value("markerToolTip").toString(), message);
        QVERIFY(state.value("marker").toObject().value("x").toInt() >
                state.value("buttons").toArray().last().toObject().value("x").toInt());

        // The prompt turns accessibility on; both go away.
        QVERIFY(clickAt(state.value("prompt").toObject()));
        QTRY_VERIFY_WITH_TIMEOUT(brevlin.state().value("trusted").toBool(), 5000);
        state = brevlin.state();
        QVERIFY(state.value("prompt").toObject().isEmpty());
        QVERIFY(state.value("marker").toObject().isEmpty());
        QVERIFY(state.value("errorMessage").isNull());

        const qint64 firstPid = brevlin.process()->processId();

        // With the dock up, a second start leaves at once and changes nothing.
        QCOMPARE(brevlin.startAgain(), 0);
        QVERIFY(brevlin.state().contains("dock"));

        QVERIFY(brevlin.request("close-dock").value("ok").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().contains("dock"), 5000);
        // Closing the dock does not quit.
        QCOMPARE(brevlin.process()->state(), QProcess::Running);

        QCOMPARE(brevlin.startAgain(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(brevlin.state().contains("dock"), 5000);
        QCOMPARE(brevlin.state().value("buttons").toArray().size(), 3);
        QCOMPARE(brevlin.process()->processId(), firstPid);
        // The dock window is on screen again, as the window manager sees it.
        QVERIFY(xdotool({"search", "--onlyvisible", "--name", "^Brevlin$"}));

        // Quitting takes everything down in the reverse of the order it was made: a crash or, in
        // the sanitizer build, any use of a freed object on the way fails the exit.
        QVERIFY(brevlin.request("quit").value("ok").toBool());
        QVERIFY(brevlin.process()->waitForFinished(10000));
        QCOMPARE(brevlin.process()->exitStatus(), QProcess::NormalExit);
        QCOMPARE(brevlin.process()->exitCode(), 0);
    }

    // A launch waiting on a frozen peer (the launcher of the accessibility bus, which answers
    // nothing while it is stopped, or the target) holds nothing up: the dock serves and saves at
    // once, and the launch ends on its own.
    void frozenPeersHoldNothingUp() {
        QVERIFY(setAccessibilityEnabled(true));
        const qint64 busLauncher = busNameOwner("org.a11y.Bus");
        QVERIFY(busLauncher > 0);
        StandinProcess standin;
        QVERIFY(standin.start());
        installStandinEntry({"--record", standin.record().path()});
        Brevlin brevlin;
        // Started first: Qt's own accessibility bridge reads the bus status synchronously when the
        // first window shows, a wait that is Qt's, not ours.
        QVERIFY(brevlin.start());
        {
            const auto stalled = freeze(busLauncher);
            // Without an answer to whether it may, the launch ends as untrusted, touching nothing.
            QVERIFY(clickAt(brevlin.state().value("buttons").toArray().at(0).toObject()));
            editsWhileALaunchWaits(brevlin, "Café Tools");
            QVERIFY(brevlin.state().value("errors").toArray().first().toString().contains(
                "Accessibility"));
        }
        // A long pause after the search keeps the launch going while the test works.
        QVERIFY(brevlin.request("timing 3 1000").value("ok").toBool());
        const auto frozen = freeze(standin.pid());
        QVERIFY(pressKeys("ctrl+alt+1"));
        editsWhileALaunchWaits(brevlin, "Tool Café");
    }

private:
    static void editsWhileALaunchWaits(const Brevlin& brevlin, const QString& name) {
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 1, 5000);
        QVERIFY(brevlin.upsert(shortcut(name, "5")));
        QVERIFY(brevlin.configContains(name.toUtf8()));
        const QJsonObject state = brevlin.state();
        QCOMPARE(state.value("pendingLaunches").toInt(), 1);
        QCOMPARE(state.value("buttons").toArray().size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 0, 15000);
    }

    // Empties the record, remembering the stand-ins it names so they are ended afterwards.
    void clearRecord() {
        for (const QJsonObject& ready : m_record->events("ready"))
            m_standinPids.append(ready.value("pid").toInteger());
        m_record->clear();
    }

    std::unique_ptr<StandinRecord> m_record;
    QList<qint64> m_standinPids;
};

QTEST_MAIN(DesktopTests)
#include "tst_desktop.moc"
