#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <atomic>
#include <thread>

class QTcpSocket;

namespace quarvel::test {

// A hostile MySQL server on 127.0.0.1 for the tests: it greets like a server without TLS, takes
// any login, and answers the first statement by asking for a local file, as a server (or anyone
// on an unencrypted link) can. It keeps every byte the client sends after its login.
//
// Threads: it serves on a thread of its own; port() and received() may be called from any thread.
class RogueServer
{
public:
    explicit RogueServer(QString requestedFile);
    ~RogueServer();
    RogueServer(const RogueServer&) = delete;
    RogueServer& operator=(const RogueServer&) = delete;

    quint16 port() const { return m_port; }
    // Whether a client logged in (sent a login response), and what it sent afterwards.
    bool loggedIn() const { return m_loggedIn; }
    QByteArray received() const;

private:
    void serveClient(QTcpSocket& client);

    QString m_requestedFile;
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_loggedIn{false};
    mutable QMutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};

} // namespace quarvel::test
