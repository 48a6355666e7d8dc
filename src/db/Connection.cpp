#include "Connection.h"

#include <QFile>

#include <cstdio>
#include <errmsg.h>
#include <mysql.h>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

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

namespace {

// LOAD DATA LOCAL is off, but should the library still be asked for a file (a hostile server may
// ask in answer to any statement), this handler refuses to open it.
int refuseLocalFile(void**, const char*, void*)
{
    return 1;
}

int readNothing(void*, char*, unsigned int)
{
    return -1;
}

void endNothing(void*) {}

int localFileRefused(void*, char* message, unsigned int size)
{
    std::snprintf(message, size, "%s", "This program sends no local files to the server");
    return CR_UNKNOWN_ERROR;
}

// Client errors, as opposed to the server's: after one of these while a statement's answer was
// read, whatever the server sent after it is still unread.
bool isClientError(unsigned int code)
{
    return (code >= CR_MIN_ERROR && code <= CR_MAX_ERROR) || (code >= 5000 && code <= 5999);
}

// Statements up to this size are sent without asking the server for its packet limit, which is
// never below this.
constexpr qsizetype kSmallestPacketLimit = 1024;

} // namespace

void Connection::open(const ConnectionParams& params)
{
    close();
    ensureClientLibrary();
    m_params = params;
    m_maxPacket = 0;

    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql)
        throw DbError(QStringLiteral("Out of memory"), CR_OUT_OF_MEMORY);
    // Each option with the type the library reads for it; one it refuses is an error, not a
    // connection without it.
    const auto set = [mysql](mysql_option option, const void* value, const char* name) {
        if (mysql_options(mysql, option, value) != 0) {
            mysql_close(mysql);
            throw DbError(
                QStringLiteral("The client library refused the option %1").arg(QLatin1String(name)),
                CR_UNKNOWN_ERROR);
        }
    };
    const unsigned int timeout = kConnectTimeoutSeconds;
    const unsigned int protocol = MYSQL_PROTOCOL_TCP;
    const unsigned int localInfile = 0;
    const my_bool no = 0;
    const my_bool yes = 1;
    const unsigned long maxPacket = 1024ul * 1024 * 1024; // the most a packet can be
    set(MYSQL_OPT_CONNECT_TIMEOUT, &timeout, "MYSQL_OPT_CONNECT_TIMEOUT");
    set(MYSQL_OPT_PROTOCOL, &protocol, "MYSQL_OPT_PROTOCOL");
    set(MYSQL_OPT_LOCAL_INFILE, &localInfile, "MYSQL_OPT_LOCAL_INFILE");
    set(MYSQL_OPT_RECONNECT, &no, "MYSQL_OPT_RECONNECT");
    set(MYSQL_OPT_MAX_ALLOWED_PACKET, &maxPacket, "MYSQL_OPT_MAX_ALLOWED_PACKET");
    set(MYSQL_SET_CHARSET_NAME, "utf8mb4", "MYSQL_SET_CHARSET_NAME");
    if (params.ioTimeoutSeconds > 0) {
        set(MYSQL_OPT_READ_TIMEOUT, &params.ioTimeoutSeconds, "MYSQL_OPT_READ_TIMEOUT");
        set(MYSQL_OPT_WRITE_TIMEOUT, &params.ioTimeoutSeconds, "MYSQL_OPT_WRITE_TIMEOUT");
    }
    // TLS whenever the server offers it. Verifying the server's certificate is asked for, or
    // not, in every case, since library versions differ in what they do by default; verifying
    // also refuses a server without TLS.
    set(MYSQL_OPT_SSL_ENFORCE, &yes, "MYSQL_OPT_SSL_ENFORCE");
    set(MYSQL_OPT_SSL_VERIFY_SERVER_CERT, params.verifyServerCert ? &yes : &no,
        "MYSQL_OPT_SSL_VERIFY_SERVER_CERT");
    const QByteArray caFile = QFile::encodeName(params.caFile);
    if (!caFile.isEmpty())
        set(MYSQL_OPT_SSL_CA, caFile.constData(), "MYSQL_OPT_SSL_CA");
    mysql_set_local_infile_handler(mysql, refuseLocalFile, readNothing, endNothing,
                                   localFileRefused, nullptr);

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

QString Connection::tlsCipher() const
{
    const char* cipher = m_mysql ? mysql_get_ssl_cipher(m_mysql) : nullptr;
    return cipher ? QString::fromLatin1(cipher) : QString();
}

unsigned long Connection::serverThreadId() const
{
    return m_mysql ? mysql_thread_id(m_mysql) : 0;
}

bool Connection::inTransaction() const
{
    unsigned int status = 0;
    return m_mysql && mariadb_get_infov(m_mysql, MARIADB_CONNECTION_SERVER_STATUS, &status) == 0 &&
           (status & SERVER_STATUS_IN_TRANS);
}

void Connection::raise()
{
    if (!m_mysql)
        throw DbError(QStringLiteral("Not connected"), CR_CONNECTION_ERROR);
    raise(mysql_errno(m_mysql), QString::fromUtf8(mysql_error(m_mysql)));
}

void Connection::raise(unsigned int code, QString message)
{
    // Gone, lost (over TLS a hang-up is a TLS error), or killed by the server (which says so
    // before it hangs up).
    constexpr unsigned int kConnectionKilled = 1927;
    if (code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == CR_SSL_CONNECTION_ERROR ||
        code == kConnectionKilled) {
        close();
        m_lost = true;
    } else if (isClientError(code)) {
        // The rest of the answer may still be unread, and the next statement would be shown it:
        // only a new connection is sure to be in step.
        close();
        m_lost = true;
        message += QStringLiteral("\n(The connection was closed and is opened again for the next "
                                  "statement; changes not yet committed were rolled back.)");
    }
    throw DbError(message, code);
}

qint64 Connection::serverPacketLimit()
{
    if (m_maxPacket == 0) {
        static const QByteArray ask("SELECT @@max_allowed_packet");
        if (mysql_real_query(m_mysql, ask.constData(), static_cast<unsigned long>(ask.size())) != 0)
            raise();
        MYSQL_RES* result = mysql_store_result(m_mysql);
        if (!result)
            raise();
        MYSQL_ROW row = mysql_fetch_row(result);
        m_maxPacket = row && row[0] ? QByteArray(row[0]).toLongLong() : -1;
        mysql_free_result(result);
    }
    return m_maxPacket;
}

quint64 Connection::run(const QString& text, ResultSink* sink)
{
    if (!m_mysql)
        raise();
    const QByteArray sql = text.toUtf8();
    // The server hangs up on a statement over its packet limit, and the library then says only
    // that the server went away.
    if (sql.size() >= kSmallestPacketLimit) {
        const qint64 limit = serverPacketLimit();
        if (limit > 0 && sql.size() + 1 >= limit)
            throw DbError(QStringLiteral("The statement (%1 bytes) is larger than the server "
                                         "takes (max_allowed_packet = %2 bytes); it was not sent.")
                              .arg(sql.size())
                              .arg(limit),
                          CR_NET_PACKET_TOO_LARGE);
    }
    if (mysql_real_query(m_mysql, sql.constData(), static_cast<unsigned long>(sql.size())) != 0)
        raise();
    quint64 affected = 0;
    bool offered = false;
    // Each result ends one statement (a procedure's CALL gives more than one).
    int statement = 1;
    try {
        for (;; ++statement) {
            if (mysql_field_count(m_mysql) == 0)
                affected += mysql_affected_rows(m_mysql);
            else
                readRows(offered ? nullptr : sink, &offered);
            const int next = mysql_next_result(m_mysql);
            if (next < 0)
                return affected;
            if (next > 0) {
                ++statement;
                raise();
            }
        }
    } catch (DbError& e) {
        e.setStatement(statement, affected);
        throw;
    }
}

void Connection::readRows(ResultSink* sink, bool* offered)
{
    MYSQL_RES* result = mysql_use_result(m_mysql);
    if (!result)
        raise();
    std::shared_ptr<ResultSet> store;
    if (sink) {
        *offered = true;
        store = sink->begin(fieldsOf(mysql_fetch_fields(result), mysql_num_fields(result)));
    }
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (!store)
            continue;
        if (!store->append(row, mysql_fetch_lengths(result))) {
            // The rest can't be kept; reading it to the end could take as long as the fetch
            // itself, so the connection goes instead (freeing the result would read on).
            shutdownSocket();
            mysql_free_result(result);
            close();
            m_lost = true;
            throw DbError(
                QStringLiteral("The result is larger than the memory this program may use for it "
                               "(%1 MB): reading stopped after %2 rows, which are kept. The "
                               "connection was closed and is opened again for the next statement.")
                    .arg(store->memoryBytes() >> 20)
                    .arg(store->rowCount()),
                CR_OUT_OF_MEMORY);
        }
        sink->rowsAdded();
    }
    // The end of the rows, or an error in the middle of them (a stop, a lost connection).
    const unsigned int code = mysql_errno(m_mysql);
    const QString message = QString::fromUtf8(mysql_error(m_mysql));
    mysql_free_result(result);
    if (code != 0)
        raise(code, message);
}

void Connection::shutdownSocket() noexcept
{
    if (!m_mysql)
        return;
    const my_socket socket = mysql_get_socket(m_mysql);
#ifdef Q_OS_WIN
    ::shutdown(socket, SD_BOTH);
#else
    ::shutdown(socket, SHUT_RDWR);
#endif
}

void Connection::close() noexcept
{
    if (m_mysql) {
        mysql_close(m_mysql);
        m_mysql = nullptr;
    }
}

} // namespace quarvel::db
