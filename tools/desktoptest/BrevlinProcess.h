#pragma once

// One running Brevlin (the program at BREVLIN_APP_PATH, which the including target defines) with
// a data folder of its own, as the desktop tests and the launch benchmarks run it. The stand-in
// is found through the session's data folder, where the tests install its desktop entry. A
// program built with the test control socket answers on it: what the dock shows, and the
// settings window's edits.

#include "DesktopTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace brevlin::testing {

class BrevlinProcess {
public:
    ~BrevlinProcess() { stop(); }

    QString configPath() const {
        return QDir(m_data.path()).filePath(QStringLiteral("Brevlin/config.json"));
    }
    // Writes the configuration it starts with; without one it seeds the samples.
    bool writeConfig(const QByteArray& bytes) const {
        QDir(m_data.path()).mkpath(QStringLiteral("Brevlin"));
        QFile config(configPath());
        return config.open(QIODevice::WriteOnly) && config.write(bytes) == bytes.size();
    }

    QProcessEnvironment
    environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const {
        const QString sessionData = base.value(QStringLiteral("XDG_DATA_HOME"));
        base.insert(QStringLiteral("XDG_DATA_HOME"), m_data.path());
        base.insert(QStringLiteral("XDG_DATA_DIRS"),
                    sessionData + QStringLiteral(":/usr/local/share:/usr/share"));
        base.insert(QStringLiteral("BREVLIN_TEST_CONTROL_SOCKET"), socket());
        return base;
    }

    // Starts it; with `waitForDock`, until its control socket says the dock shows its buttons.
    bool start(bool waitForDock = true,
               QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(environment(std::move(base)));
        m_process->setProcessChannelMode(QProcess::ForwardedChannels);
        m_process->start(QStringLiteral(BREVLIN_APP_PATH), {});
        if (!m_process->waitForStarted(5000))
            return false;
        return !waitForDock ||
               QTest::qWaitFor(
                   [&] {
                       const QJsonObject s = state();
                       return s.contains("dock") && !s.value("buttons").toArray().isEmpty();
                   },
                   30000);
    }
    // A second start of the program, which should hand over and leave: its exit code, or -1.
    int startAgain() const {
        QProcess second;
        second.setProcessEnvironment(environment());
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QStringLiteral(BREVLIN_APP_PATH), {});
        // A start still running then is killed as `second` goes away.
        if (!second.waitForFinished(10000))
            return -1;
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    }
    void stop() { endProcess(m_process.get()); }
    QProcess* process() const { return m_process.get(); }

    QJsonObject request(const QString& line) const {
        QLocalSocket connection;
        connection.connectToServer(socket());
        if (!connection.waitForConnected(2000))
            return {};
        connection.write(line.toUtf8() + '\n');
        connection.waitForBytesWritten(2000);
        QDeadlineTimer deadline(5000);
        while (!connection.canReadLine() && !deadline.hasExpired())
            connection.waitForReadyRead(100);
        return QJsonDocument::fromJson(connection.readLine()).object();
    }
    QJsonObject state() const { return request(QStringLiteral("state")); }

private:
    QString socket() const { return m_runtime.filePath(QStringLiteral("control.socket")); }

    QTemporaryDir m_data;
    QTemporaryDir m_runtime;
    std::unique_ptr<QProcess> m_process;
};

} // namespace brevlin::testing
