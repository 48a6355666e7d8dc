#include "TcpRelay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <future>
#include <memory>
#include <vector>

namespace quarvel::test {

namespace {

struct Pair
{
    std::unique_ptr<QTcpSocket> client;
    std::unique_ptr<QTcpSocket> server;
};

// Moves what is waiting on `from` to `to`; false when `from` is gone.
bool pump(QTcpSocket& from, QTcpSocket& to)
{
    from.waitForReadyRead(0);
    if (from.bytesAvailable() > 0) {
        to.write(from.readAll());
        to.waitForBytesWritten(0);
    }
    return from.state() == QAbstractSocket::ConnectedState;
}

} // namespace

TcpRelay::TcpRelay(QString host, quint16 port)
    : m_host(std::move(host))
    , m_targetPort(port)
{
    std::promise<quint16> listening;
    std::future<quint16> bound = listening.get_future();
    m_thread = std::thread([this, &listening] {
        QTcpServer listener;
        listener.listen(QHostAddress::LocalHost, 0);
        listening.set_value(listener.serverPort());
        std::vector<Pair> pairs;
        while (!m_stop) {
            if (listener.waitForNewConnection(1)) {
                Pair pair;
                pair.client.reset(listener.nextPendingConnection());
                pair.client->setParent(nullptr);
                pair.server = std::make_unique<QTcpSocket>();
                pair.server->connectToHost(m_host, m_targetPort);
                if (pair.server->waitForConnected(5000))
                    pairs.push_back(std::move(pair));
            }
            if (m_frozen)
                continue;
            for (size_t i = 0; i < pairs.size();) {
                const bool clientUp = pump(*pairs[i].client, *pairs[i].server);
                const bool serverUp = pump(*pairs[i].server, *pairs[i].client);
                if (clientUp && serverUp) {
                    ++i;
                    continue;
                }
                pairs[i].client->abort();
                pairs[i].server->abort();
                pairs.erase(pairs.begin() + qsizetype(i));
            }
        }
    });
    m_port = bound.get();
}

TcpRelay::~TcpRelay()
{
    m_stop = true;
    m_thread.join();
}

} // namespace quarvel::test
