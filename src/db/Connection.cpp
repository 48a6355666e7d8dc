#include "Connection.h"

#include <errmsg.h>
#include <mysql.h>

namespace quarvel::db {

namespace {

// The client library's global state, set up once and torn down at exit so that leak checkers
// see a clean process.
struct ClientLibrary
{
    ClientLibrary() { mysql_library_init(0, nullptr, nullptr); }
    ~ClientLibrary() { mysql_library_end(); }
};

void ensureClientLibrary()
{
    static ClientLibrary library;
}

} // namespace

Connection::~Connection()
{
    close();
}

void Connection::open(const ConnectionParams& params)
{
    close();
    ensureClientLibrary();
    m_params = params;

    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql)
        throw DbError(QStringLiteral("Out of memory"), CR_OUT_OF_MEMORY);

    const unsigned int timeout = kConnectTimeoutSeconds;
    const unsigned int protocol = MYSQL_PROTOCOL_TCP;
    const my_bool off = 0;
    mysql_options(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(mysql, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_options(mysql, MYSQL_OPT_LOCAL_INFILE, &off);
    mysql_options(mysql, MYSQL_OPT_RECONNECT, &off);
    mysql_options(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");

    const QByteArray host = params.server.toUtf8();
    const QByteArray user = params.user.toUtf8();
    const QByteArray password = params.password.toUtf8();
    const QByteArray database = params.database.toUtf8();
    const unsigned long flags = CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS;
    if (!mysql_real_connect(mysql, host.constData(), user.constData(), password.constData(),
                            database.isEmpty() ? nullptr : database.constData(),
                            static_cast<unsigned int>(params.port), nullptr, flags)) {
        DbError error(QString::fromUtf8(mysql_error(mysql)), mysql_errno(mysql));
        mysql_close(mysql);
        throw error;
    }
    m_mysql = mysql;
    m_lost = false;
}

void Connection::raise()
{
    if (!m_mysql)
        throw DbError(QStringLiteral("Not connected"), CR_CONNECTION_ERROR);
    const unsigned int code = mysql_errno(m_mysql);
    DbError error(QString::fromUtf8(mysql_error(m_mysql)), code);
    // Gone, lost, or killed by the server (which says so before it hangs up).
    constexpr unsigned int kConnectionKilled = 1927;
    if (code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == kConnectionKilled) {
        close();
        m_lost = true;
    }
    throw error;
}

quint64 Connection::run(const QString& text, const std::function<void(MYSQL_RES*)>& onResult)
{
    if (!m_mysql)
        raise();
    const QByteArray sql = text.toUtf8();
    if (mysql_real_query(m_mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        raise();
    quint64 affected = 0;
    for (;;) {
        if (MYSQL_RES* stored = mysql_store_result(m_mysql))
            onResult(stored);
        else if (mysql_field_count(m_mysql) == 0)
            affected += mysql_affected_rows(m_mysql);
        else
            raise();
        const int next = mysql_next_result(m_mysql);
        if (next < 0)
            return affected;
        if (next > 0)
            raise();
    }
}

void Connection::close() noexcept
{
    if (m_mysql) {
        mysql_close(m_mysql);
        m_mysql = nullptr;
    }
}

} // namespace quarvel::db
