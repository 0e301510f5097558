// The real `brevlin` end to end inside a private desktop session: hotkeys pressed and dock
// buttons clicked through XTest, launches into the stand-in installed as the desktop's Figma.
// A test-only control socket reports what the dock shows and makes the settings window's edits.

#include "DesktopTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/types.h>

using namespace brevlin::testing;

namespace {

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments);
}

bool pressKeys(const QString& keys) {
    return xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
}

bool clickAt(const QJsonObject& rect) {
    const int x = rect.value("x").toInt() + rect.value("w").toInt() / 2;
    const int y = rect.value("y").toInt() + rect.value("h").toInt() / 2;
    return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y),
                    QStringLiteral("click"), QStringLiteral("1")});
}

// One running Brevlin with its own empty data folder; the stand-in is found through the
// session's data folder, where the test installs its desktop entry.
class Brevlin {
public:
    Brevlin()
        : m_socket(m_runtime.filePath(QStringLiteral("control.socket"))) {}
    ~Brevlin() { stop(); }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString sessionData = environment.value(QStringLiteral("XDG_DATA_HOME"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_data.path());
        environment.insert(QStringLiteral("XDG_DATA_DIRS"),
                           sessionData + QStringLiteral(":/usr/local/share:/usr/share"));
        environment.insert(QStringLiteral("BREVLIN_TEST_CONTROL_SOCKET"), m_socket);
        return environment;
    }

    bool start() {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(environment());
        m_process->setProcessChannelMode(QProcess::ForwardedChannels);
        m_process->start(QStringLiteral(BREVLIN_APP_PATH), {});
        if (!m_process->waitForStarted(5000))
            return false;
        // Up once the dock shows its buttons.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 15000) {
            const QJsonObject s = state();
            if (s.contains("dock") && !s.value("buttons").toArray().isEmpty())
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // A second start of the program, which should hand over and leave.
    int startAgain() const {
        QProcess second;
        second.setProcessEnvironment(environment());
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QStringLiteral(BREVLIN_APP_PATH), {});
        if (!second.waitForFinished(10000)) {
            second.kill();
            second.waitForFinished();
            return -1;
        }
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    }

    void stop() {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(5000)) {
                m_process->kill();
                m_process->waitForFinished();
            }
        }
    }

    QJsonObject request(const QString& line) const {
        QLocalSocket socket;
        socket.connectToServer(m_socket);
        if (!socket.waitForConnected(2000))
            return {};
        socket.write(line.toUtf8() + '\n');
        socket.waitForBytesWritten(2000);
        QElapsedTimer timer;
        timer.start();
        while (!socket.canReadLine() && timer.elapsed() < 5000)
            socket.waitForReadyRead(100);
        return QJsonDocument::fromJson(socket.readLine()).object();
    }
    QJsonObject state() const { return request(QStringLiteral("state")); }
    // The settings window's edit of one shortcut.
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

    QString configPath() const {
        return QDir(m_data.path()).filePath(QStringLiteral("Brevlin/config.json"));
    }
    QProcess* process() const { return m_process.get(); }

private:
    QTemporaryDir m_data;
    QTemporaryDir m_runtime;
    QString m_socket;
    std::unique_ptr<QProcess> m_process;
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
    process.start(QStringLiteral("dbus-send"),
                  {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                   QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                   QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"),
                   QStringLiteral("string:") + name});
    if (!process.waitForFinished(5000))
        return 0;
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    return out.section(QStringLiteral("uint32 "), 1).trimmed().toLongLong();
}

// Stops a process where it stands (it answers nothing, draws nothing) until this goes away.
class Frozen {
public:
    explicit Frozen(qint64 pid)
        : m_pid(pid) {
        if (m_pid > 0)
            ::kill(pid_t(m_pid), SIGSTOP);
    }
    ~Frozen() {
        if (m_pid > 0)
            ::kill(pid_t(m_pid), SIGCONT);
    }
    Frozen(const Frozen&) = delete;
    Frozen& operator=(const Frozen&) = delete;

private:
    qint64 m_pid;
};

// Holds keys down for a while, as a person holding a chord does.
bool holdKeys(const QString& keys, int milliseconds) {
    if (!xdotool({QStringLiteral("keydown"), keys}))
        return false;
    QTest::qWait(milliseconds);
    return xdotool({QStringLiteral("keyup"), keys});
}

// The plugins run, in order, whichever way each was chosen.
QStringList runNames(const StandinRecord& record) {
    QStringList names;
    for (const QString& run : record.runs())
        names.append(run.section('/', 0, 0));
    return names;
}

bool isRunOf(const QJsonObject& e, const QString& name) {
    return e.value("event") == QStringLiteral("run") && e.value("name") == name;
}

// Milliseconds from pressing `keys` until the stand-in records its palette opening, or -1.
qint64 millisecondsUntilPalette(const QString& keys, const StandinRecord& record,
                                int timeout = 10000) {
    QElapsedTimer timer;
    timer.start();
    if (!pressKeys(keys))
        return -1;
    const bool opened = record.waitFor(
        [](const QJsonObject& e) {
            return e.value("event") == QStringLiteral("palette") && e.value("open").toBool();
        },
        timeout);
    return opened ? timer.elapsed() : -1;
}

} // namespace

class DesktopTests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void hotkeyAndDockButtonLaunchIntoTheStandin();
    void settingsEditsReachHotkeysAndPacingAtOnce();
    void sameHotkeyTwiceLaunchesTwice();
    void missingAccessibilityShowsPromptAndMarkerUntilGranted();
    void secondStartBringsTheClosedDockBackAndLeaves();
    void quitEndsTheProcessCleanly();
    void hotkeyHeldDownStillLaunchesByPress();
    void launchesStartedTogetherRunOneAfterTheOther();
    void windowTakingTheFocusWhileTheNameIsTypedGetsNoKey();
    void stalledAccessibilityBusHoldsNothingUp();
    void frozenTargetHoldsNothingUp();

private:
    // Empties the record, remembering the stand-ins it names so they are ended afterwards.
    void clearRecord();

    std::unique_ptr<StandinRecord> m_record;
    QList<qint64> m_standinPids;
};

void DesktopTests::clearRecord() {
    for (const QJsonObject& ready : m_record->events(QStringLiteral("ready")))
        m_standinPids.append(ready.value("pid").toInteger());
    m_record->clear();
}

void DesktopTests::initTestCase() {
    QVERIFY2(insideDesktopSession(), "run inside scripts/desktop-session");
    QVERIFY(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty());
}

void DesktopTests::cleanup() {
    if (m_record)
        clearRecord();
    for (qint64 pid : std::as_const(m_standinPids))
        terminateProcess(pid);
    m_standinPids.clear();
    m_record.reset();
    removeStandinEntries();
}

void DesktopTests::hotkeyAndDockButtonLaunchIntoTheStandin() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});

    Brevlin brevlin;
    QVERIFY(brevlin.start());
    // The empty data folder was seeded with the three samples.
    QFile config(brevlin.configPath());
    QVERIFY(config.open(QIODevice::ReadOnly));
    const QJsonArray items =
        QJsonDocument::fromJson(config.readAll()).object().value("items").toArray();
    QCOMPARE(items.size(), 3);
    const QJsonArray buttons = brevlin.state().value("buttons").toArray();
    QCOMPARE(buttons.size(), 3);
    QCOMPARE(buttons.at(0).toObject().value("name").toString(), QStringLiteral("Content Reel"));

    // Ctrl+Alt+1 is the first sample's hotkey.
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+1")));
    QVERIFY2(m_record->waitFor(
                 [](const QJsonObject& e) {
                     return e.value("event") == QStringLiteral("run") &&
                            e.value("name") == QStringLiteral("Content Reel");
                 },
                 20000),
             qPrintable(m_record->runs().join(", ")));

    // A click on the second button.
    QVERIFY(clickAt(brevlin.state().value("buttons").toArray().at(1).toObject()));
    QVERIFY2(m_record->waitFor(
                 [](const QJsonObject& e) {
                     return e.value("event") == QStringLiteral("run") &&
                            e.value("name") == QStringLiteral("Autoflow");
                 },
                 20000),
             qPrintable(m_record->runs().join(", ")));
    QVERIFY(brevlin.state().value("errorMessage").isNull());
}

void DesktopTests::settingsEditsReachHotkeysAndPacingAtOnce() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());

    // A new shortcut's hotkey works at once.
    QVERIFY(brevlin.upsert(shortcut(QStringLiteral("Café Tools"), QStringLiteral("5"))));
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+5")));
    QVERIFY2(m_record->waitFor(
                 [](const QJsonObject& e) {
                     return e.value("event") == QStringLiteral("run") &&
                            e.value("name") == QStringLiteral("Café Tools");
                 },
                 20000),
             qPrintable(m_record->runs().join(", ")));

    // Deleted, it stops.
    QVERIFY(brevlin.request(QStringLiteral("delete Café Tools")).value("ok").toBool());
    clearRecord();
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+5")));
    QVERIFY(!m_record->waitForEvent(QStringLiteral("palette"), 2000));

    // A longer focus delay paces the next launch, without a restart (with fixed waits: the
    // stand-in is ready long before).
    QVERIFY(brevlin.request(QStringLiteral("adaptive-waits 0")).value("ok").toBool());
    QVERIFY(brevlin.request(QStringLiteral("timing 0 1600")).value("ok").toBool());
    clearRecord();
    const qint64 slow = millisecondsUntilPalette(QStringLiteral("ctrl+alt+2"), *m_record);
    QVERIFY2(slow >= 1600, qPrintable(QString::number(slow)));
    QVERIFY(m_record->waitForEvent(QStringLiteral("run"), 20000));
    // Not zero: the pressed hotkey's own modifiers must be up before Ctrl+K goes out.
    QVERIFY(brevlin.request(QStringLiteral("timing 0 300")).value("ok").toBool());
    clearRecord();
    const qint64 fast = millisecondsUntilPalette(QStringLiteral("ctrl+alt+3"), *m_record);
    QVERIFY2(fast >= 0 && fast < 1600, qPrintable(QString::number(fast)));
    // Let the launch finish before Brevlin is stopped, so no key is left down.
    QVERIFY(m_record->waitForEvent(QStringLiteral("run"), 20000));
}

void DesktopTests::sameHotkeyTwiceLaunchesTwice() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    auto autoflowRuns = [this] {
        return m_record->runs().filter(QStringLiteral("Autoflow/")).size();
    };
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+2")));
    QTRY_COMPARE_WITH_TIMEOUT(autoflowRuns(), 1, 20000);
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+2")));
    QTRY_COMPARE_WITH_TIMEOUT(autoflowRuns(), 2, 20000);
}

void DesktopTests::missingAccessibilityShowsPromptAndMarkerUntilGranted() {
    QVERIFY(setAccessibilityEnabled(false));
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    QJsonObject state;
    // The answer comes from the bus, a moment after the dock is up.
    QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("trusted").toBool(), false, 5000);
    state = brevlin.state();
    QVERIFY(!state.value("prompt").toObject().isEmpty());
    QVERIFY(state.value("marker").toObject().isEmpty());

    // A launch fails with the message, shown by the marker.
    QVERIFY(clickAt(state.value("buttons").toArray().at(0).toObject()));
    QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().value("marker").toObject().isEmpty(), 10000);
    state = brevlin.state();
    const QString message = state.value("errorMessage").toString();
    QVERIFY(message.contains(QStringLiteral("Accessibility")));
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
}

void DesktopTests::secondStartBringsTheClosedDockBackAndLeaves() {
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    const qint64 firstPid = brevlin.process()->processId();

    // With the dock up, a second start leaves at once and changes nothing.
    QCOMPARE(brevlin.startAgain(), 0);
    QVERIFY(brevlin.state().contains("dock"));

    QVERIFY(brevlin.request(QStringLiteral("close-dock")).value("ok").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().contains("dock"), 5000);
    // Closing the dock does not quit.
    QCOMPARE(brevlin.process()->state(), QProcess::Running);

    QCOMPARE(brevlin.startAgain(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(brevlin.state().contains("dock"), 5000);
    QCOMPARE(brevlin.state().value("buttons").toArray().size(), 3);
    QCOMPARE(brevlin.process()->processId(), firstPid);
    // The dock window is on screen again, as the window manager sees it.
    QVERIFY(xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--name"), QStringLiteral("^Brevlin$")}));
}

// Quitting takes everything down in the reverse of the order it was made (the windows, the
// application, the hotkey manager with its registrations, then the services it used): a crash or,
// in the sanitizer build, any use of a freed object on the way fails the exit.
void DesktopTests::quitEndsTheProcessCleanly() {
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    QVERIFY(brevlin.request(QStringLiteral("quit")).value("ok").toBool());
    QVERIFY(brevlin.process()->waitForFinished(10000));
    QCOMPARE(brevlin.process()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(brevlin.process()->exitCode(), 0);
}

void DesktopTests::hotkeyHeldDownStillLaunchesByPress() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    // Held past the first key of the launch (about 200 ms after the press).
    QVERIFY(holdKeys(QStringLiteral("ctrl+alt+1"), 600));
    QVERIFY2(
        m_record->waitFor(
            [](const QJsonObject& e) { return isRunOf(e, QStringLiteral("Content Reel")); }, 20000),
        qPrintable(m_record->runs().join(", ")));
    QCOMPARE(m_record->runs(), QStringList{"Content Reel/press"});
    QCOMPARE(brevlin.state().value("errors").toArray().size(), 0);
}

void DesktopTests::launchesStartedTogetherRunOneAfterTheOther() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    // The stand-in is started by the first launch; the runs below find it running.
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+3")));
    QVERIFY(
        m_record->waitFor([](const QJsonObject& e) { return e.value("event") == "run"; }, 20000));
    QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 0, 10000);
    clearRecord();

    // A double click on the first button.
    const QJsonObject first = brevlin.state().value("buttons").toArray().at(0).toObject();
    const int x = first.value("x").toInt() + first.value("w").toInt() / 2;
    const int y = first.value("y").toInt() + first.value("h").toInt() / 2;
    QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y),
                     QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                     QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")}));
    QTRY_COMPARE_WITH_TIMEOUT(m_record->runs().size(), 2, 20000);
    // The order is what is checked here; which way each result was chosen is checked elsewhere.
    QCOMPARE(runNames(*m_record), (QStringList{"Content Reel", "Content Reel"}));
    QCOMPARE(brevlin.state().value("errors").toArray().size(), 0);

    // Two hotkeys 100 ms apart.
    QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 0, 10000);
    clearRecord();
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+1")));
    QTest::qWait(100);
    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+2")));
    QTRY_COMPARE_WITH_TIMEOUT(m_record->runs().size(), 2, 20000);
    QCOMPARE(runNames(*m_record), (QStringList{"Content Reel", "Autoflow"}));
    // Clean runs: the field only ever held a prefix of one name, never the two mixed.
    for (const QJsonObject& e : m_record->events(QStringLiteral("text"))) {
        const QString text = e.value("text").toString();
        QVERIFY2(text.isEmpty() || QStringLiteral("Content Reel").startsWith(text) ||
                     QStringLiteral("Autoflow").startsWith(text),
                 qPrintable(text));
    }
    QCOMPARE(brevlin.state().value("errors").toArray().size(), 0);
}

void DesktopTests::windowTakingTheFocusWhileTheNameIsTypedGetsNoKey() {
    QVERIFY(setAccessibilityEnabled(true));
    m_record = std::make_unique<StandinRecord>();
    installStandinEntry({QStringLiteral("--record"), m_record->path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    StandinProcess thief;
    QVERIFY(thief.start({}, QStringLiteral("brevlin-thief")));
    // Slow typing leaves time to take the focus in the middle of the name.
    QVERIFY(brevlin.request(QStringLiteral("adaptive-waits 0")).value("ok").toBool());
    QVERIFY(brevlin.request(QStringLiteral("timing 2 120")).value("ok").toBool());

    QVERIFY(pressKeys(QStringLiteral("ctrl+alt+1")));
    QVERIFY(m_record->waitFor(
        [](const QJsonObject& e) {
            return e.value("event") == QStringLiteral("text") &&
                   !e.value("text").toString().isEmpty();
        },
        20000));
    const int keysBefore = int(thief.record().events(QStringLiteral("key")).size());
    QVERIFY(xdotool({QStringLiteral("search"), QStringLiteral("--classname"),
                     QStringLiteral("^brevlin-thief$"), QStringLiteral("windowactivate")}));

    QTRY_VERIFY_WITH_TIMEOUT(!brevlin.state().value("errors").toArray().isEmpty(), 10000);
    const QString error = brevlin.state().value("errors").toArray().first().toString();
    QVERIFY2(error.contains(QStringLiteral("lost the focus")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("typed nothing more")), qPrintable(error));
    QCOMPARE(thief.record().events(QStringLiteral("key")).size(), keysBefore);
    QVERIFY(thief.record().lastText().isEmpty());
    QVERIFY(m_record->runs().isEmpty());
    QVERIFY(QStringLiteral("Content Reel").startsWith(m_record->lastText()));
}

void DesktopTests::stalledAccessibilityBusHoldsNothingUp() {
    QVERIFY(setAccessibilityEnabled(true));
    // The launcher of the accessibility bus answers nothing while it is stopped.
    const qint64 launcher = busNameOwner(QStringLiteral("org.a11y.Bus"));
    QVERIFY(launcher > 0);
    Brevlin brevlin;
    // Started first: Qt's own accessibility bridge reads the bus status synchronously when the
    // first window shows, a wait that is Qt's, not ours.
    QVERIFY(brevlin.start());
    {
        Frozen stalled(launcher);
        // A launch waits for the trust answer; meanwhile the dock serves and saves at once.
        QVERIFY(clickAt(brevlin.state().value("buttons").toArray().at(0).toObject()));
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 1, 5000);
        QVERIFY(brevlin.upsert(shortcut(QStringLiteral("Café Tools"), QStringLiteral("5"))));
        QVERIFY(brevlin.configContains("Café Tools"));
        const QJsonObject state = brevlin.state();
        QCOMPARE(state.value("pendingLaunches").toInt(), 1);
        QCOMPARE(state.value("buttons").toArray().size(), 4);
        // Without an answer the launch ends as untrusted, touching nothing.
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 0, 15000);
        QVERIFY(brevlin.state().value("errors").toArray().first().toString().contains(
            QStringLiteral("Accessibility")));
    }
}

void DesktopTests::frozenTargetHoldsNothingUp() {
    QVERIFY(setAccessibilityEnabled(true));
    StandinProcess standin;
    QVERIFY(standin.start());
    installStandinEntry({QStringLiteral("--record"), standin.record().path()});
    Brevlin brevlin;
    QVERIFY(brevlin.start());
    // A long pause after the search keeps the launch going while the test works.
    QVERIFY(brevlin.request(QStringLiteral("timing 3 1000")).value("ok").toBool());
    {
        Frozen frozen(standin.pid());
        QVERIFY(pressKeys(QStringLiteral("ctrl+alt+1")));
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 1, 5000);
        QVERIFY(brevlin.upsert(shortcut(QStringLiteral("Café Tools"), QStringLiteral("5"))));
        QVERIFY(brevlin.configContains("Café Tools"));
        QCOMPARE(brevlin.state().value("pendingLaunches").toInt(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(brevlin.state().value("pendingLaunches").toInt(), 0, 15000);
    }
}

QTEST_MAIN(DesktopTests)
#include "tst_desktop.moc"
