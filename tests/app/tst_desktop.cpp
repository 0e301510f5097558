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
    const QJsonObject added = shortcut(QStringLiteral("Café Tools"), QStringLiteral("5"));
    QVERIFY(brevlin
                .request("upsert " +
                         QString::fromUtf8(QJsonDocument(added).toJson(QJsonDocument::Compact)))
                .value("ok")
                .toBool());
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

    // A longer focus delay paces the next launch, without a restart.
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
    QJsonObject state = brevlin.state();
    QCOMPARE(state.value("trusted").toBool(), false);
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

QTEST_MAIN(DesktopTests)
#include "tst_desktop.moc"
