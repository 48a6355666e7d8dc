// The database layer against the real test server: field kinds, exact cells, random row access,
// several statements in one text, and a connection lost in the middle of a session.

#include "Connection.h"
#include "ResultModel.h"
#include "Statement.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace quarvel;
using namespace quarvel::db;

namespace {

using test::execSql;

} // namespace

class tst_Database : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fieldKinds_data();
    void fieldKinds();
    void cellsAreExact();
    void randomRowAccess();
    void readersOnManyThreadsSeeTheSameCells();
    void commandSumsAffectedRows();
    void queryKeepsFirstResultWithColumns();
    void firstErrorStopsTheRun();
    void errorsCarryServerText();
    void lostConnectionIsMarkedAndReopened();
    void resultModel();

private:
    Connection m_connection;
};

void tst_Database::initTestCase()
{
    QVERIFY_THROWS_NO_EXCEPTION(m_connection.open(test::testDbParams()));
    execSql(m_connection, QStringLiteral("DROP TABLE IF EXISTS kinds"));
    execSql(
        m_connection,
        QStringLiteral("CREATE TABLE kinds (vc VARCHAR(10), vcbin VARCHAR(10) COLLATE utf8mb4_bin,"
                       " ch CHAR(4), en ENUM('a','b'), st SET('x','y'), tx TEXT, lt LONGTEXT,"
                       " bl BLOB, lb LONGBLOB, vb VARBINARY(8), bn BINARY(4), i INT, bi BIGINT,"
                       " yr YEAR, de DECIMAL(10,2), db DOUBLE, fl FLOAT, d DATE, dt DATETIME,"
                       " ts TIMESTAMP NULL, tm TIME, bt BIT(8), js JSON, g GEOMETRY)"));
    execSql(m_connection, QStringLiteral("INSERT INTO kinds (vc) VALUES ('x')"));
}

void tst_Database::fieldKinds_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<FieldKind>("kind");
    const QList<QPair<const char*, FieldKind>> rows{
        {"vc", FieldKind::PlainString},
        {"vcbin", FieldKind::PlainString},
        {"ch", FieldKind::FixedChar},
        {"en", FieldKind::EnumSet},
        {"st", FieldKind::EnumSet},
        {"tx", FieldKind::Text},
        {"lt", FieldKind::Text},
        {"bl", FieldKind::Blob},
        {"lb", FieldKind::Blob},
        {"vb", FieldKind::VarBytes},
        {"bn", FieldKind::Bytes},
        {"i", FieldKind::Integer},
        {"bi", FieldKind::Integer},
        {"yr", FieldKind::Integer},
        {"de", FieldKind::Decimal},
        {"db", FieldKind::Float},
        {"fl", FieldKind::Float},
        {"d", FieldKind::Date},
        {"dt", FieldKind::DateTime},
        {"ts", FieldKind::DateTime},
        {"tm", FieldKind::Time},
        {"bt", FieldKind::Bit},
        // MariaDB sends JSON as LONGTEXT.
        {"js", FieldKind::Text},
        {"g", FieldKind::Blob},
    };
    for (const auto& [name, kind] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << kind;
    QTest::newRow("expression text") << "concat(vc, 'y')" << FieldKind::PlainString;
    QTest::newRow("expression number") << "1 + 1" << FieldKind::Integer;
    QTest::newRow("bare NULL") << "NULL" << FieldKind::Null;
}

void tst_Database::fieldKinds()
{
    QFETCH(QString, column);
    QFETCH(FieldKind, kind);
    Query query;
    query.setConnection(&m_connection);
    query.setSql(QStringLiteral("SELECT %1 FROM kinds").arg(column));
    query.open();
    QCOMPARE(query.result()->field(0).kind, kind);
}

void tst_Database::cellsAreExact()
{
    Query query;
    query.setConnection(&m_connection);
    query.setSql(QStringLiteral("SELECT X'00FF0041', '', NULL, '汉字', 12.50"));
    query.open();
    const ResultSet& r = *query.result();
    QCOMPARE(r.rowCount(), 1);
    QCOMPARE(r.cell(0, 0).bytes(), QByteArrayView("\x00\xff\x00\x41", 4));
    QVERIFY(!r.cell(0, 1).isNull());
    QCOMPARE(r.cell(0, 1).length, 0ul);
    QVERIFY(r.cell(0, 2).isNull());
    QCOMPARE(QString::fromUtf8(r.cell(0, 3).bytes()), QStringLiteral("汉字"));
    QCOMPARE(r.cell(0, 4).bytes(), QByteArrayView("12.50"));
    QCOMPARE(r.field(3).name, QStringLiteral("汉字"));
}

void tst_Database::randomRowAccess()
{
    Query query;
    query.setConnection(&m_connection);
    query.setSql(QStringLiteral("SELECT seq, IF(seq % 3 = 0, NULL, REPEAT('x', seq % 7))"
                                " FROM seq_1_to_5000"));
    query.open();
    const ResultSet& r = *query.result();
    QCOMPARE(query.recordCount(), 5000);
    for (int row : {4999, 0, 2500, 2501, 3, 4999}) {
        const int seq = row + 1;
        QCOMPARE(r.cell(row, 0).bytes(), QByteArray::number(seq));
        if (seq % 3 == 0)
            QVERIFY(r.cell(row, 1).isNull());
        else
            QCOMPARE(int(r.cell(row, 1).length), seq % 7);
    }
    // The row table, one block of rows and the cells: small results stay small.
    QVERIFY2(r.memoryBytes() < 1500 * 1024, qPrintable(QString::number(r.memoryBytes())));
}

// A shared result is read by the grid and the export at once: reading must change nothing.
void tst_Database::readersOnManyThreadsSeeTheSameCells()
{
    const std::shared_ptr<const ResultSet> result = openResult(
        m_connection, QStringLiteral("SELECT seq, IF(seq % 4 = 0, NULL, REPEAT('y', seq % 9)),"
                                     " IF(seq % 5 = 0, NULL, seq * 7) FROM seq_1_to_20000"));
    // Each reader walks the rows in its own order and checks every cell against its row number.
    const auto reader = [&result](int stride, std::atomic<int>* wrong) {
        const int rows = result->rowCount();
        for (int i = 0; i < rows; ++i) {
            const int row = int((qint64(i) * stride) % rows);
            const int seq = row + 1;
            const bool right =
                result->cell(row, 0).bytes() == QByteArray::number(seq) &&
                (seq % 4 == 0 ? result->cell(row, 1).isNull()
                              : int(result->cell(row, 1).length) == seq % 9) &&
                (seq % 5 == 0 ? result->cell(row, 2).isNull()
                              : result->cell(row, 2).bytes() == QByteArray::number(seq * 7));
            if (!right)
                ++*wrong;
        }
    };
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (const int stride : {1, 7919, 104729, 3})
        readers.emplace_back(reader, stride, &wrong);
    for (std::thread& thread : readers)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

void tst_Database::commandSumsAffectedRows()
{
    execSql(m_connection, QStringLiteral("DROP TABLE IF EXISTS multi"));
    execSql(m_connection, QStringLiteral("CREATE TABLE multi (a INT)"));
    Command command(m_connection);
    command.setSql(QStringLiteral("INSERT INTO multi VALUES (1),(2),(3); SELECT * FROM multi;"
                                  " UPDATE multi SET a = a + 10 WHERE a > 1"));
    command.execute();
    QCOMPARE(command.rowsAffected(), 5ull);
    // Everything was drained: the connection takes the next statement.
    command.setSql(QStringLiteral("DELETE FROM multi"));
    command.execute();
    QCOMPARE(command.rowsAffected(), 3ull);
}

void tst_Database::queryKeepsFirstResultWithColumns()
{
    Query query;
    query.setConnection(&m_connection);
    query.setSql(QStringLiteral("SELECT 1 AS one; SET @x = 5; SELECT 2, 3"));
    query.open();
    QCOMPARE(query.result()->columnCount(), 1);
    QCOMPARE(query.result()->field(0).name, QStringLiteral("one"));
    query.setSql(QStringLiteral("SELECT @x"));
    query.open();
    QCOMPARE(query.result()->cell(0, 0).bytes(), QByteArrayView("5"));
    // A text with no rows to show opens an empty result.
    query.setSql(QStringLiteral("SELECT 1 INTO @y"));
    query.open();
    QVERIFY(query.isActive());
    QCOMPARE(query.result()->columnCount(), 0);
    QCOMPARE(query.recordCount(), 0);
}

void tst_Database::firstErrorStopsTheRun()
{
    execSql(m_connection, QStringLiteral("DROP TABLE IF EXISTS stops"));
    execSql(m_connection, QStringLiteral("CREATE TABLE stops (a INT)"));
    Command command(m_connection);
    command.setSql(QStringLiteral("INSERT INTO stops VALUES (1); SELECT nope FROM stops;"
                                  " INSERT INTO stops VALUES (2)"));
    QVERIFY_THROWS_EXCEPTION(DbError, command.execute());
    Query query;
    query.setConnection(&m_connection);
    query.setSql(QStringLiteral("SELECT a FROM stops; SELECT nope"));
    QVERIFY_THROWS_EXCEPTION(DbError, query.open());
    QVERIFY(!query.isActive());
    query.setSql(QStringLiteral("SELECT a FROM stops"));
    query.open();
    QCOMPARE(query.recordCount(), 1); // what ran before the error stays done
}

void tst_Database::errorsCarryServerText()
{
    Command command(m_connection);
    command.setSql(QStringLiteral("SELEC 1"));
    try {
        command.execute();
        QFAIL("no error");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains(QStringLiteral("You have an error in your SQL syntax")),
                 qPrintable(e.message()));
        QCOMPARE(e.code(), 1064u);
    }
    QVERIFY(!m_connection.lost());
}

void tst_Database::lostConnectionIsMarkedAndReopened()
{
    Connection victim;
    victim.open(test::testDbParams());
    const QString connectionId =
        QString::fromLatin1(test::firstCell(victim, QStringLiteral("SELECT CONNECTION_ID()")));
    execSql(m_connection, QStringLiteral("KILL CONNECTION ") + connectionId);

    Command command(victim);
    command.setSql(QStringLiteral("DO 1"));
    try {
        command.execute();
        QFAIL("a killed connection still ran a statement");
    } catch (const DbError& e) {
        // Gone, lost, or over TLS a connection that ended mid-stream.
        QVERIFY2(e.code() == 2006 || e.code() == 2013 || e.code() == 2026, qPrintable(e.message()));
    }
    QVERIFY(victim.lost());
    QVERIFY(!victim.isOpen());
    victim.reopen();
    QVERIFY(victim.isOpen());
    QVERIFY(!victim.lost());
    command.execute();
}

void tst_Database::resultModel()
{
    Query query;
    query.setConnection(&m_connection);
    ResultModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setQuery(&query);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);

    query.setSql(QStringLiteral("SELECT 'a' AS txt, NULL AS nothing, X'0001FF' AS bin,"
                                " REPEAT('长', 5000) AS long_text, 42 AS num, '' AS empty"
                                " UNION ALL SELECT 'b', 1, X'00', 'x', 7, ''"));
    query.open();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("txt"));
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("long_text"));
    QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("a"));
    QCOMPARE(model.index(0, 1).data().toString(), ResultModel::nullText());
    QCOMPARE(model.index(0, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
    QCOMPARE(model.index(0, 5).data().toString(), QString()); // empty, not NULL
    QVERIFY(!model.index(0, 5).data(Qt::ForegroundRole).isValid());
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("0x0001FF"));
    const QString cut = model.index(0, 3).data().toString();
    QCOMPARE(cut.size(), ResultModel::kMaxDisplayChars + 1);
    QVERIFY(cut.endsWith(QStringLiteral("长…")));
    QCOMPARE(model.index(1, 4).data().toString(), QStringLiteral("7"));
    QVERIFY(model.index(1, 4).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);

    query.close();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 0);
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_Database.moc"
