#pragma once

#include "DbError.h"
#include "ResultSet.h"

#include <QString>
#include <memory>

struct st_mysql;

namespace quarvel::db {

struct ConnectionParams
{
    QString database;
    QString server;
    int port = 3306;
    QString user;
    QString password;
    // TLS is used whenever the server offers it; with this set it is required and the server's
    // certificate must be valid for the host (against `caFile`, or the system's authorities).
    bool verifyServerCert = false;
    QString caFile;
    // Seconds a read or write may wait for the server; 0: for ever. Only short-lived helper
    // connections set it (a report may legitimately run for an hour).
    unsigned int ioTimeoutSeconds = 0;
};

// One client connection, owned for its whole life. Opened over TCP with utf8mb4, multi-statements
// and multi-results on, TLS when the server offers it, LOCAL INFILE off (no local file is ever
// sent, whatever the server asks) and no automatic reconnect; the program decides itself when to
// connect again.
// Where the rows of a query go while they arrive.
class ResultSink
{
public:
    virtual ~ResultSink() = default;
    // The first result that has columns begins: the store to fill (null: read and drop).
    virtual std::shared_ptr<ResultSet> begin(QList<Field> fields) = 0;
    // A row was added to that store (called for every row: keep it cheap).
    virtual void rowsAdded() {}
};

class Connection
{
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Closes any open connection first. Throws DbError with the client library's message.
    void open(const ConnectionParams& params);
    void close() noexcept;
    bool isOpen() const { return m_mysql != nullptr; }

    // The parameters of the last open() call, successful or not.
    const ConnectionParams& params() const { return m_params; }

    // True after the server went away in the middle of the session (the handle is closed then);
    // reopen() connects again with the same parameters.
    bool lost() const { return m_lost; }
    void reopen() { open(m_params); }

    // Throws the last error of the handle as DbError. A lost connection is closed and marked, and
    // so is one that had a client-side error (out of memory, a malformed packet): part of the
    // server's answer may be unread then, and the next statement would be shown it.
    [[noreturn]] void raise();
    [[noreturn]] void raise(unsigned int code, QString message);

    // Runs the text, which may hold several statements, to the end, and returns the affected rows
    // of the statements without columns, added up. The rows of the first result that has columns
    // go to `sink` while they arrive; all other rows are read and dropped. The first error stops
    // the run and is thrown, whatever ran before it having run (and the rows already in the
    // sink's store stay there). A text over the server's packet limit is refused unsent.
    quint64 run(const QString& text, ResultSink* sink = nullptr);

    st_mysql* handle() const { return m_mysql; }

    // The TLS cipher of the open connection; empty when it is not encrypted.
    QString tlsCipher() const;
    // The server's id of this connection (for KILL), 0 while closed.
    unsigned long serverThreadId() const;
    // Whether the server reports a transaction in progress on this connection.
    bool inTransaction() const;

    static constexpr unsigned int kConnectTimeoutSeconds = 5;

private:
    // The server's max_allowed_packet, asked once per connection; -1 when it won't say.
    qint64 serverPacketLimit();
    void readRows(ResultSink* sink, bool* offered);
    void shutdownSocket() noexcept;

    st_mysql* m_mysql = nullptr;
    qint64 m_maxPacket = 0;
    ConnectionParams m_params;
    bool m_lost = false;
};

} // namespace quarvel::db
