#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace brevlin {

class BrevlinApp;

// For the desktop tests only: a local socket through which a test reads what the dock shows and
// makes the edits the settings window would make, while hotkeys, clicks and launches stay real.
// It is built only into brevlin-testing, never into the installed binary, and listens only when
// BREVLIN_TEST_CONTROL_SOCKET names a socket path at start.
class TestControl : public QObject {
    Q_OBJECT
public:
    static constexpr const char* environmentVariable = "BREVLIN_TEST_CONTROL_SOCKET";

    TestControl(BrevlinApp& app, const QString& socketPath, QObject* parent = nullptr);

private:
    void serve(QLocalSocket* socket);
    QByteArray answer(const QByteArray& request);

    BrevlinApp& m_app;
    QLocalServer* m_server;
    // Every launch error shown so far, oldest first, as a message may be cleared again at once.
    QStringList m_errors;
};

} // namespace brevlin
