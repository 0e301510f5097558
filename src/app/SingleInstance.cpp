#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace brevlin {

namespace {
const QByteArray reopenRequest = QByteArrayLiteral("reopen\n");
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent)
    , m_serverName(std::move(serverName)) {}

SingleInstance::~SingleInstance() {
    if (m_server)
        m_server->close();
}

bool SingleInstance::handOverToRunningInstance(int timeoutMilliseconds) const {
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMilliseconds))
        return false;
    socket.write(reopenRequest);
    if (!socket.waitForBytesWritten(timeoutMilliseconds))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMilliseconds);
    return true;
}

bool SingleInstance::listen() {
    if (m_server && m_server->isListening())
        return true;
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    }
    if (m_server->listen(m_serverName))
        return true;
    // Nobody answered on the name (handOverToRunningInstance failed), so the socket file is
    // left over from an instance that ended without removing it.
    QLocalServer::removeServer(m_serverName);
    return m_server->listen(m_serverName);
}

bool SingleInstance::isListening() const {
    return m_server && m_server->isListening();
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto readRequests = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == reopenRequest)
                    emit reopenRequested();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequests);
        // The request may already be here when the connection is taken.
        readRequests();
    }
}

} // namespace brevlin
