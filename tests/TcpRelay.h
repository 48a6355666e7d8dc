#pragma once

#include <QString>
#include <atomic>
#include <thread>

class QTcpSocket;

namespace quarvel::test {

// A TCP relay on 127.0.0.1 in front of a server, for the tests: it forwards every connection to
// the server until frozen, then holds everything (a server that stops answering, a network that
// is gone), and forwards again when thawed.
//
// Threads: it relays on a thread of its own; every member may be called from any thread.
class TcpRelay
{
public:
    TcpRelay(QString host, quint16 port);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    quint16 port() const { return m_port; }
    void freeze() { m_frozen = true; }
    void thaw() { m_frozen = false; }

private:
    QString m_host;
    quint16 m_targetPort;
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_frozen{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace quarvel::test
