#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace brevlin {

// Keeps Brevlin to one process per user and display. The first process listens on a local
// socket; a later one hands its start over to it and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Asks a running instance to re-open. True when one took the request.
    bool handOverToRunningInstance(int timeoutMilliseconds = 1000) const;
    // Becomes the running instance. A socket left by an instance that is gone is replaced.
    bool listen();
    bool isListening() const;

    const QString& serverName() const { return m_serverName; }

signals:
    // Another start of Brevlin handed over.
    void reopenRequested();

private:
    void acceptConnections();

    QString m_serverName;
    QLocalServer* m_server = nullptr;
};

} // namespace brevlin
