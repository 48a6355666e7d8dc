// What a connection lets out and what keeps it in step, against the real test server and a
// hostile one: no local file ever leaves, TLS whenever the server offers it, a client-side error
// in the middle of an answer closes the connection instead of showing the next statement stale
// rows, and a statement over the server's packet limit is refused before it is sent.

#include "Connection.h"
#include "RogueServer.h"
#include "Statement.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <errmsg.h>
#include <mysql.h>
#include <optional>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace quarvel;
using namespace quarvel::db;
using test::execSql;
using test::firstCell;

#if defined(__SANITIZE_ADDRESS__)
// An allocation the memory limit refuses comes back as null, as it would without the sanitizer.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

namespace {

const QByteArray kCanary = "canary: these bytes must never reach a server";

#ifdef Q_OS_UNIX
// While this lives the process may map only `extra` more bytes: allocations beyond fail.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(qint64 extra)
    {
        QFile statm(QStringLiteral("/proc/self/statm"));
        qint64 pages = 0;
        if (statm.open(QIODevice::ReadOnly))
            pages = statm.readAll().split(' ').value(0).toLongLong();
        getrlimit(RLIMIT_AS, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + extra);
        m_set = pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &m_old); }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
    bool isSet() const { return m_set; }

private:
    rlimit m_old{};
    bool m_set = false;
};
#endif

ConnectionParams rogueParams(const test::RogueServer& rogue)
{
    return {QStringLiteral("velmora"),
            QStringLiteral("127.0.0.1"),
            rogue.port(),
            QStringLiteral("operator"),
            QStringLiteral("secret"),
            false,
            {}};
}

quint64 affectedBy(Connection& connection, const QString& sql)
{
    Command command(connection);
    command.setSql(sql);
    command.execute();
    return command.rowsAffected();
}

} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noLocalFileLeaves_data();
    void noLocalFileLeaves();
    void loadDataLocalIsRefused();
    void tls_data();
    void tls();
    void verifyingRefusesServerWithoutTls();
    void outOfMemoryMidResultKeepsSessionInStep();
    void statementOverPacketLimit();

private:
    QTemporaryDir m_dir;
    QString m_canaryFile;
    Connection m_admin;
};

void tst_Connection::initTestCase()
{
    m_canaryFile = m_dir.filePath(QStringLiteral("canary.txt"));
    QVERIFY(test::writeAll(m_canaryFile, kCanary));
    QVERIFY_THROWS_NO_EXCEPTION(m_admin.open(test::testDbParams()));
    execSql(m_admin, QStringLiteral("DROP TABLE IF EXISTS loaded"));
    execSql(m_admin, QStringLiteral("CREATE TABLE loaded (line VARCHAR(200))"));
}

void tst_Connection::noLocalFileLeaves_data()
{
    QTest::addColumn<bool>("ourConnection");
    QTest::newRow("our connection") << true;
    // The same server against a bare client that allows local files: the file arrives, so the
    // server does ask, and the first row shows more than a rogue that never got the request.
    QTest::newRow("a client that allows it") << false;
}

void tst_Connection::noLocalFileLeaves()
{
    QFETCH(bool, ourConnection);
    test::RogueServer rogue(m_canaryFile);
    if (ourConnection) {
        Connection connection;
        QVERIFY_THROWS_NO_EXCEPTION(connection.open(rogueParams(rogue)));
        try {
            affectedBy(connection, QStringLiteral("select 1"));
        } catch (const DbError&) {
            // Refusing the request may end the statement with an error; the file is what counts.
        }
    } else {
        MYSQL* mysql = mysql_init(nullptr);
        const unsigned int on = 1;
        mysql_options(mysql, MYSQL_OPT_LOCAL_INFILE, &on);
        QVERIFY(mysql_real_connect(mysql, "127.0.0.1", "operator", "secret", nullptr, rogue.port(),
                                   nullptr, 0));
        mysql_query(mysql, "select 1");
        mysql_close(mysql);
    }
    QVERIFY(rogue.loggedIn());
    QCOMPARE(rogue.received().contains(kCanary), !ourConnection);
}

void tst_Connection::loadDataLocalIsRefused()
{
    Connection connection;
    connection.open(test::testDbParams());
    try {
        affectedBy(
            connection,
            QStringLiteral("LOAD DATA LOCAL INFILE '%1' INTO TABLE loaded").arg(m_canaryFile));
        QFAIL("the local file was loaded");
    } catch (const DbError& e) {
        QVERIFY(!e.message().isEmpty());
    }
    QCOMPARE(firstCell(m_admin, QStringLiteral("SELECT COUNT(*) FROM loaded")), QByteArray("0"));
}

void tst_Connection::tls_data()
{
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("withCa");
    QTest::addColumn<bool>("connects");
    QTest::newRow("by default: encrypted, not verified") << false << false << true;
    QTest::newRow("verified against the server's authority") << true << true << true;
    QTest::newRow("verified against the system's authorities") << true << false << false;
}

void tst_Connection::tls()
{
    QFETCH(bool, verify);
    QFETCH(bool, withCa);
    QFETCH(bool, connects);
    ConnectionParams params = test::testDbParams();
    params.verifyServerCert = verify;
    if (withCa)
        params.caFile = test::testDbCaFile();
    QVERIFY2(!withCa || QFile::exists(params.caFile), qPrintable(params.caFile));
    Connection connection;
    try {
        connection.open(params);
        QVERIFY(connects);
    } catch (const DbError& e) {
        QVERIFY2(!connects, qPrintable(e.message()));
        QVERIFY2(e.message().contains(QStringLiteral("certificate")), qPrintable(e.message()));
        return;
    }
    QVERIFY(!connection.tlsCipher().isEmpty());
    const QByteArray cipher = test::firstCell(
        connection, QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS"
                                   " WHERE VARIABLE_NAME = 'Ssl_cipher'"));
    QCOMPARE(QString::fromLatin1(cipher), connection.tlsCipher());
}

void tst_Connection::verifyingRefusesServerWithoutTls()
{
    test::RogueServer rogue(m_canaryFile);
    ConnectionParams params = rogueParams(rogue);
    params.verifyServerCert = true;
    Connection connection;
    QVERIFY_THROWS_EXCEPTION(DbError, connection.open(params));
    // Refused before the login: the password never went out in the clear.
    QVERIFY(!rogue.loggedIn());
}

void tst_Connection::outOfMemoryMidResultKeepsSessionInStep()
{
#ifndef Q_OS_UNIX
    QSKIP("The memory limit is set through setrlimit");
#else
    execSql(m_admin, QStringLiteral("DROP TABLE IF EXISTS steps"));
    execSql(m_admin, QStringLiteral("CREATE TABLE steps (id INT)"));
    execSql(m_admin, QStringLiteral("INSERT INTO steps SELECT seq FROM seq_1_to_5"));
    Connection connection;
    connection.open(test::testDbParams());
    std::optional<DbError> error;
    {
        // 50 rows of 4 MiB each, with room for a few of them.
        AddressSpaceLimit limit(48 * 1024 * 1024);
        QVERIFY(limit.isSet());
        Query query;
        query.setConnection(&connection);
        query.setSql(QStringLiteral("SELECT REPEAT('x', 4194304) FROM seq_1_to_50"));
        try {
            query.open();
        } catch (const DbError& e) {
            error = e;
        }
    }
    QVERIFY2(error, "the result fitted into the limit");
    QCOMPARE(error->code(), unsigned(CR_OUT_OF_MEMORY));
    QVERIFY(connection.lost());
    QVERIFY(!connection.isOpen());
    QVERIFY2(error->message().contains(QStringLiteral("connection was closed")),
             qPrintable(error->message()));

    // Connected again, each statement gets its own answer.
    connection.reopen();
    QCOMPARE(firstCell(connection, QStringLiteral("SELECT 2")), QByteArray("2"));
    QCOMPARE(affectedBy(connection, QStringLiteral("DELETE FROM steps WHERE id <= 2")), 2u);
    QCOMPARE(firstCell(connection, QStringLiteral("SELECT COUNT(*) FROM steps")), QByteArray("3"));
#endif
}

void tst_Connection::statementOverPacketLimit()
{
    Connection connection;
    connection.open(test::testDbParams());
    const qint64 limit =
        firstCell(connection, QStringLiteral("SELECT @@max_allowed_packet")).toLongLong();
    QVERIFY(limit > 1024);
    // The packet carries one byte before the text, and the server takes packets below its limit.
    const auto statement = [](qint64 size) {
        const QString head = QStringLiteral("SELECT '");
        return head + QString(size - head.size() - 2, u'x') + QStringLiteral("';");
    };
    try {
        affectedBy(connection, statement(limit - 1));
        QFAIL("a statement over the limit ran");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("max_allowed_packet = %1").arg(limit)),
                 qPrintable(e.message()));
    }
    QVERIFY(connection.isOpen());
    QVERIFY(!connection.lost());
    // Just within the limit it runs, on the same connection.
    QCOMPARE(affectedBy(connection, statement(limit - 2)), 0u);
    QCOMPARE(firstCell(connection, QStringLiteral("SELECT 3")), QByteArray("3"));
}

QTEST_GUILESS_MAIN(tst_Connection)
#include "tst_Connection.moc"
