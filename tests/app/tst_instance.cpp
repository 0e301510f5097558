// One Brevlin per user and display, what the environment says about the desktop, and what the
// program answers before it needs one.

#include "app/AppEnvironment.h"
#include "app/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace brevlin;

namespace {

QProcessEnvironment environmentWith(const QList<std::pair<QString, QString>>& values) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : values)
        environment.insert(name, value);
    return environment;
}

} // namespace

class InstanceTests : public QObject {
    Q_OBJECT
private slots:
    void displaySituationFollowsTheEnvironment_data() {
        QTest::addColumn<QProcessEnvironment>("environment");
        QTest::addColumn<bool>("hasX11");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("nothing") << QProcessEnvironment() << false << false;
        QTest::newRow("x11") << environmentWith({{"DISPLAY", ":0"}}) << true << false;
        QTest::newRow("blank display") << environmentWith({{"DISPLAY", "  "}}) << false << false;
        QTest::newRow("wayland with xwayland")
            << environmentWith({{"DISPLAY", ":1"}, {"WAYLAND_DISPLAY", "wayland-0"}}) << true
            << true;
        QTest::newRow("wayland without xwayland")
            << environmentWith({{"WAYLAND_DISPLAY", "wayland-0"}}) << false << true;
        QTest::newRow("session type only")
            << environmentWith({{"DISPLAY", ":1"}, {"XDG_SESSION_TYPE", "Wayland"}}) << true
            << true;
        QTest::newRow("x11 session type")
            << environmentWith({{"DISPLAY", ":1"}, {"XDG_SESSION_TYPE", "x11"}}) << true << false;
    }

    void displaySituationFollowsTheEnvironment() {
        QFETCH(QProcessEnvironment, environment);
        QFETCH(bool, hasX11);
        QFETCH(bool, wayland);
        const DisplaySituation situation = displaySituation(environment);
        QCOMPARE(situation.hasX11Display, hasX11);
        QCOMPARE(situation.isWaylandSession, wayland);
    }

    void oneInstancePerUserAndDisplay() {
        QTemporaryDir runtime;
        const auto nameOn = [&runtime](const char* display) {
            return instanceServerName(
                environmentWith({{"DISPLAY", display}, {"XDG_RUNTIME_DIR", runtime.path()}}));
        };
        QVERIFY(nameOn(":0") != nameOn(":1"));
        QVERIFY(nameOn(":0").startsWith(runtime.path() + '/'));
        // A display name cannot lead the socket out of the folder.
        const QString odd = nameOn("../../x:0");
        QVERIFY(odd.startsWith(runtime.path() + '/'));
        QVERIFY(!odd.mid(runtime.path().size() + 1).contains('/'));

        // Without a runtime folder, users are told apart by name.
        const QString alice =
            instanceServerName(environmentWith({{"DISPLAY", ":0"}, {"USER", "alice"}}));
        const QString bob =
            instanceServerName(environmentWith({{"DISPLAY", ":0"}, {"USER", "bob"}}));
        QVERIFY(alice != bob);

        // A second start hands over to the first. What a killed instance leaves: a file at the
        // socket's name that nobody answers on.
        const QString name = nameOn(":0");
        QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        SingleInstance first(name);
        QVERIFY(!first.handOverToRunningInstance(200));
        QVERIFY(first.listen());
        QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
        QVERIFY(SingleInstance(name).handOverToRunningInstance());
        QVERIFY(reopened.wait(2000));
        QCOMPARE(reopened.count(), 1);
        // Each start is one request.
        QVERIFY(SingleInstance(name).handOverToRunningInstance());
        QTRY_COMPARE(reopened.count(), 2);
    }

    void commandLineAnswersWithoutADisplay() {
        struct Run {
            int exitCode;
            QString out, err;
        };
        const auto run = [](const QStringList& arguments) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
                environment.remove(QString::fromLatin1(name));
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(BREVLIN_APP_PATH), arguments);
            process.waitForFinished(10000);
            return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                       QString::fromUtf8(process.readAllStandardOutput()),
                       QString::fromUtf8(process.readAllStandardError())};
        };
        const Run help = run({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.contains("--version"), qPrintable(help.out));
        QVERIFY(help.err.isEmpty());
        const Run version = run({"-v"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("Brevlin %1\n").arg(QStringLiteral(BREVLIN_VERSION)));
        for (const char* wrong : {"--bogus", "stray"}) {
            const Run refused = run({wrong});
            QCOMPARE(refused.exitCode, 2);
            QVERIFY(refused.out.isEmpty());
            QVERIFY2(refused.err.contains("--help"), qPrintable(refused.err));
        }
        // A plain start still needs the desktop, and says so on one line.
        const Run bare = run({});
        QCOMPARE(bare.exitCode, 1);
        QCOMPARE(bare.err, noDisplayMessage() + QLatin1Char('\n'));
    }

    void remoteControlIsExplainedOnceWhereThePortalAsks() {
        // KDE 5.27's portal (version 1) asks nothing; from version 2 the desktop asks, once.
        QVERIFY(remoteControlExplanation(0, false).isEmpty());
        QVERIFY(remoteControlExplanation(1, false).isEmpty());
        QVERIFY(remoteControlExplanation(2, false).contains(QStringLiteral("remote control")));
        QVERIFY(remoteControlExplanation(2, true).isEmpty());
    }
};

QTEST_GUILESS_MAIN(InstanceTests)
#include "tst_instance.moc"
