#include "RogueServer.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <future>

namespace quarvel::test {

namespace {

constexpr int kWaitMs = 5000;

// Capabilities: long password, long flag, connect with db, LOCAL files, protocol 4.1,
// transactions, secure connection, multi statements and results, plugin auth. No TLS.
constexpr quint32 kCapabilities =
    0x1 | 0x4 | 0x8 | 0x80 | 0x200 | 0x2000 | 0x8000 | 0x10000 | 0x20000 | 0x80000;

void put16(QByteArray& out, quint32 value)
{
    out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void writePacket(QTcpSocket& socket, quint8 sequence, const QByteArray& payload)
{
    QByteArray packet;
    const quint32 size = quint32(payload.size());
    packet.append(char(size & 0xFF)).append(char((size >> 8) & 0xFF)).append(char(size >> 16));
    packet.append(char(sequence)).append(payload);
    socket.write(packet);
    socket.waitForBytesWritten(kWaitMs);
}

bool readExactly(QTcpSocket& socket, qsizetype size, QByteArray& into)
{
    into.clear();
    while (into.size() < size) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(kWaitMs))
            return false;
        into.append(socket.read(size - into.size()));
    }
    return true;
}

// One packet's payload; false when the client hung up or went quiet.
bool readPacket(QTcpSocket& socket, QByteArray& payload)
{
    QByteArray header;
    if (!readExactly(socket, 4, header))
        return false;
    const qsizetype size = quint8(header[0]) | quint8(header[1]) << 8 | quint8(header[2]) << 16;
    return readExactly(socket, size, payload);
}

QByteArray greeting()
{
    QByteArray g;
    g.append(char(10)).append("5.5.5-10.11.0-rogue").append('\0');
    g.append("\x01\0\0\0", 4);         // connection id
    g.append("abcdefgh").append('\0'); // scramble, first part
    put16(g, kCapabilities & 0xFFFF);
    g.append(char(45)); // utf8mb4
    put16(g, 0x0002);   // autocommit
    put16(g, kCapabilities >> 16);
    g.append(char(21));             // scramble length
    g.append(QByteArray(10, '\0')); // reserved
    g.append("ijklmnopqrst").append('\0');
    g.append("mysql_native_password").append('\0');
    return g;
}

const QByteArray kOk("\x00\x00\x00\x02\x00\x00\x00", 7);

} // namespace

RogueServer::RogueServer(QString requestedFile)
    : m_requestedFile(std::move(requestedFile))
{
    std::promise<quint16> listening;
    std::future<quint16> port = listening.get_future();
    m_thread = std::thread([this, &listening] {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        listening.set_value(server.serverPort());
        while (!m_stop) {
            if (!server.waitForNewConnection(50))
                continue;
            QTcpSocket* client = server.nextPendingConnection();
            serveClient(*client);
            client->disconnectFromHost();
            delete client;
        }
    });
    m_port = port.get();
}

RogueServer::~RogueServer()
{
    m_stop = true;
    m_thread.join();
}

QByteArray RogueServer::received() const
{
    const QMutexLocker lock(&m_mutex);
    return m_received;
}

void RogueServer::serveClient(QTcpSocket& client)
{
    writePacket(client, 0, greeting());
    QByteArray payload;
    if (!readPacket(client, payload))
        return;
    m_loggedIn = true;
    writePacket(client, 2, kOk);
    // The first statement is answered with a request for the file, then whatever comes back is
    // kept until the client ends its answer with an empty packet or hangs up.
    if (!readPacket(client, payload))
        return;
    writePacket(client, 1, '\xFB' + m_requestedFile.toUtf8());
    quint8 sequence = 2;
    while (readPacket(client, payload)) {
        ++sequence;
        {
            const QMutexLocker lock(&m_mutex);
            m_received.append(payload);
        }
        if (payload.isEmpty())
            break;
    }
    writePacket(client, sequence, kOk);
    while (readPacket(client, payload)) // a quit, or more statements: not answered
        if (payload.startsWith('\x01'))
            break;
}

} // namespace quarvel::test
