// A query's rows reach the grid while they arrive, from the row store the worker fills: rows
// shown before the fetch ends and the model growing in batches, every cell exact against the
// client library's own stored result, a stop keeping what arrived, and a result larger than the
// memory allowed for it.

#include "Connection.h"
#include "MainWindowFixture.h"
#include "ResultModel.h"
#include "Statement.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <mysql.h>

using namespace quarvel;

namespace {

// Rows of 2 KB, so that the server sends them in small batches, each row a twentieth of a second.
QString slowQuery(int rows)
{
    return QStringLiteral("select seq, repeat('x', 2000) as pad, sleep(0.05) as s"
                          " from seq_1_to_%1")
        .arg(rows);
}

struct Window : test::StartedWindow
{
    explicit Window(const QString& folder)
        : StartedWindow(folder)
    {
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the window did not become active");
    }
    void start(const QString& text)
    {
        child<QsciScintilla>(QStringLiteral("mmoScript"))->setText(text);
        child<QAction>(QStringLiteral("actRun"))->trigger();
    }
    QAbstractItemModel* grid() const
    {
        return child<QTableView>(QStringLiteral("grdResult"))->model();
    }
    QString status() const { return child<QLabel>(QStringLiteral("stpResult"))->text(); }
    QString page() const
    {
        return child<QStackedWidget>(QStringLiteral("nbMain"))->currentWidget()->objectName();
    }
};

} // namespace

class tst_Streaming : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rowsShowWhileTheyArrive();
    void cellsMatchTheStoredResult();
    void stopKeepsWhatArrived();
    void resultLargerThanAllowed();

private:
    QTemporaryDir m_folder;
};

void tst_Streaming::initTestCase()
{
    QVERIFY(test::writeConnectionConfig(m_folder.path(), test::testDb()));
}

void tst_Streaming::rowsShowWhileTheyArrive()
{
    Window w(m_folder.path());
    QAbstractItemModelTester tester(w.grid(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    int inserts = 0;
    QObject::connect(w.grid(), &QAbstractItemModel::rowsInserted, [&inserts] { ++inserts; });
    w.start(slowQuery(60));
    QTRY_VERIFY_WITH_TIMEOUT(w.grid()->rowCount() > 0, 5000);
    QVERIFY(w.form->isRunning());
    QCOMPARE(w.status(), QStringLiteral("正在执行SQL语句，请稍候 ..."));
    QCOMPARE(w.grid()->index(0, 0).data().toString(), QStringLiteral("1"));
    QVERIFY(w.waitForRun(30000));
    QCOMPARE(w.grid()->rowCount(), 60);
    QCOMPARE(w.grid()->index(59, 0).data().toString(), QStringLiteral("60"));
    QVERIFY2(w.status().endsWith(QStringLiteral("共返回 60 条数据库记录")), qPrintable(w.status()));
    const double seconds = w.status().section(u' ', 1, 1).toDouble();
    QVERIFY2(seconds >= 3.0, qPrintable(w.status())); // up to the last row
    // Batched: far fewer inserts than rows, more than one while they came.
    QVERIFY2(inserts > 1 && inserts < 30, qPrintable(QString::number(inserts)));
}

// Every kind of cell, exactly as the client library's own stored result has it.
void tst_Streaming::cellsMatchTheStoredResult()
{
    db::Connection connection;
    connection.open(test::testDbParams());
    test::execSql(connection, QStringLiteral("DROP TABLE IF EXISTS stream_kinds"));
    test::execSql(
        connection,
        QStringLiteral("CREATE TABLE stream_kinds (vc VARCHAR(20), bin VARBINARY(8), bl BLOB,"
                       " tx TEXT, ch CHAR(4), i INT, d DECIMAL(8,3), f DOUBLE, dt DATETIME(3),"
                       " tm TIME, j JSON, bt BIT(9), e ENUM('甲','乙'))"));
    test::execSql(
        connection,
        QStringLiteral(
            "INSERT INTO stream_kinds VALUES"
            " ('中文', x'00FF00', x'000102', '😀 four bytes', 'ab', -7, 12.5, 1e300,"
            " '2024-05-01 13:45:10.250', '-838:59:59', '{\"a\": [1, null]}', b'101', '乙'),"
            " ('', x'', x'', '', '', 0, 0, 0, '1000-01-01', '00:00:00', '[]', b'0', '甲'),"
            " (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
            // Over 32 KiB: a row with wide offsets, between narrow ones.
            " ('wide', NULL, REPEAT(x'00', 40000), REPEAT('长', 20000), NULL, 1, NULL,"
            " NULL, NULL, NULL, NULL, NULL, NULL),"
            " ('after', x'01', NULL, 'x', 'c', 2, 1.5, 2, NULL, NULL, NULL, NULL, '甲')"));
    const QString sql = QStringLiteral("SELECT * FROM stream_kinds");
    const std::shared_ptr<const db::ResultSet> streamed = db::openResult(connection, sql);

    MYSQL* mysql = connection.handle();
    const QByteArray text = sql.toUtf8();
    QCOMPARE(mysql_real_query(mysql, text.constData(), static_cast<unsigned long>(text.size())), 0);
    MYSQL_RES* stored = mysql_store_result(mysql);
    QVERIFY(stored);
    QCOMPARE(streamed->rowCount(), int(mysql_num_rows(stored)));
    QCOMPARE(streamed->columnCount(), int(mysql_num_fields(stored)));
    for (int row = 0; row < streamed->rowCount(); ++row) {
        MYSQL_ROW cells = mysql_fetch_row(stored);
        const unsigned long* lengths = mysql_fetch_lengths(stored);
        for (int column = 0; column < streamed->columnCount(); ++column) {
            const db::ResultSet::Cell cell = streamed->cell(row, column);
            QCOMPARE(cell.isNull(), cells[column] == nullptr);
            if (!cell.isNull())
                QCOMPARE(cell.bytes(), QByteArrayView(cells[column], qsizetype(lengths[column])));
        }
    }
    mysql_free_result(stored);
    // NULL and the empty string stay apart.
    QVERIFY(!streamed->cell(1, 0).isNull());
    QCOMPARE(streamed->cell(1, 0).length, 0ul);
    QVERIFY(streamed->cell(2, 0).isNull());
}

void tst_Streaming::stopKeepsWhatArrived()
{
    Window w(m_folder.path());
    const unsigned long id = w.form->connection().serverThreadId();
    w.start(slowQuery(400));
    QTRY_VERIFY_WITH_TIMEOUT(w.grid()->rowCount() > 0, 5000);
    w.child<QPushButton>(QStringLiteral("btnStop"))->click();
    QVERIFY(w.waitForRun(5000));
    const int kept = w.grid()->rowCount();
    QVERIFY2(kept > 0 && kept < 400, qPrintable(QString::number(kept)));
    QCOMPARE(w.page(), QStringLiteral("GridPage"));
    QCOMPARE(w.status(), QStringLiteral("已停止，已返回 %1 条数据库记录").arg(kept));
    QCOMPARE(w.grid()->index(kept - 1, 0).data().toString(), QString::number(kept));
    QVERIFY(!w.child<QToolButton>(QStringLiteral("btnExportFile"))->isHidden());
    QCOMPARE(w.form->connection().serverThreadId(), id); // still the same, usable connection
}

void tst_Streaming::resultLargerThanAllowed()
{
    Window w(m_folder.path());
    w.form->session().setResultByteLimit(2 * 1024 * 1024);
    w.start(QStringLiteral("select seq, repeat('y', 1000) from seq_1_to_10000"));
    QVERIFY(w.waitForRun(30000));
    const int kept = w.grid()->rowCount();
    QVERIFY2(kept > 100 && kept < 10000, qPrintable(QString::number(kept)));
    QCOMPARE(w.page(), QStringLiteral("GridPage"));
    QVERIFY2(w.status().startsWith(
                 QStringLiteral("结果过大，内存不足，已停止读取：已返回 %1 条").arg(kept)),
             qPrintable(w.status()));
    QCOMPARE(w.grid()->index(kept - 1, 0).data().toString(), QString::number(kept));
    // The next run connects again and says so.
    w.form->session().setResultByteLimit(db::ResultSet::defaultByteLimit());
    w.start(QStringLiteral("select 7"));
    QVERIFY(w.waitForRun());
    QVERIFY2(w.status().startsWith(QStringLiteral("数据库连接已断开")), qPrintable(w.status()));
    QCOMPARE(w.grid()->index(0, 0).data().toString(), QStringLiteral("7"));
}

QTEST_MAIN(tst_Streaming)
#include "tst_Streaming.moc"
