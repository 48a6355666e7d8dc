#pragma once

#include "DbError.h"

#include <QString>
#include <functional>

struct st_mysql;
struct st_mysql_res;

namespace quarvel::db {

struct ConnectionParams
{
    QString database;
    QString server;
    int port = 3306;
    QString user;
    QString password;
};

// One client connection, owned for its whole life. Opened over TCP with utf8mb4, multi-statements
// and multi-results on, LOCAL INFILE off and no automatic reconnect; the program decides itself
// when to connect again.
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

    // Throws the last error of the handle as DbError; a lost connection is closed and marked.
    [[noreturn]] void raise();

    // Runs the text, which may hold several statements, to the end. Results that have columns
    // go to `onResult` (which takes ownership); the affected rows of the others are added up.
    // The first error stops the run and is thrown, whatever ran before it having run.
    quint64 run(const QString& text, const std::function<void(st_mysql_res*)>& onResult);

    st_mysql* handle() const { return m_mysql; }

    static constexpr unsigned int kConnectTimeoutSeconds = 5;

private:
    st_mysql* m_mysql = nullptr;
    ConnectionParams m_params;
    bool m_lost = false;
};

} // namespace quarvel::db
