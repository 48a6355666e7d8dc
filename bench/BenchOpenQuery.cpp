// Opening a query of 1,000,000 rows x 10 columns: the program's path up to a model ready for the
// grid against the client library's bare query + store, the memory the program adds per row,
// and reading a screenful of cells at the end of the result against the start.
//
// Needs the test database (scripts/testdb.sh start). Run: build/release/bin/bench_OpenQuery

#include "Connection.h"
#include "FakePrompts.h"
#include "MainForm.h"
#include "ResultModel.h"
#include "Statement.h"
#include "TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <mysql.h>
#include <vector>

using namespace quarvel;

namespace {

constexpr int kRows = 1000000;
const QString kSelect = QStringLiteral("select * from bench_rows");

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

void fillTable(db::Connection& connection)
{
    try {
        if (test::firstCell(connection, QStringLiteral("select count(*) from bench_rows"))
                .toInt() == kRows)
            return;
    } catch (const db::DbError&) {
    }
    std::printf("filling bench_rows with %d rows...\n", kRows);
    test::execSql(
        connection,
        QStringLiteral(
            "drop table if exists bench_rows;"
            "create table bench_rows (id int primary key, code char(8), name varchar(40),"
            " amount decimal(12,2), ratio double, created datetime, day date, note varchar(100),"
            " flag tinyint, big bigint);"
            "insert into bench_rows select seq, lpad(seq % 100000, 8, '0'), concat('名称-', seq),"
            " seq / 100, seq / 7, '2024-01-01' + interval seq second, '2024-01-01' + interval seq "
            "% "
            "3000 day,"
            " if(seq % 5 = 0, null, repeat('note ', 1 + seq % 8)), seq % 2, seq * 1000003"
            " from seq_1_to_1000000"));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// (a) the client library alone.
double bareOpen()
{
    const db::ConnectionParams p = test::testDbParams();
    MYSQL* mysql = mysql_init(nullptr);
    if (!mysql_real_connect(mysql, p.server.toUtf8(), p.user.toUtf8(), p.password.toUtf8(),
                            p.database.toUtf8(), unsigned(p.port), nullptr, 0)) {
        std::fprintf(stderr, "connect: %s\n", mysql_error(mysql));
        std::exit(1);
    }
    const QByteArray sql = kSelect.toUtf8();
    QElapsedTimer timer;
    timer.start();
    mysql_real_query(mysql, sql.constData(), static_cast<unsigned long>(sql.size()));
    MYSQL_RES* result = mysql_store_result(mysql);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    mysql_free_result(result);
    mysql_close(mysql);
    return seconds;
}

// (b) the program's path: the query opened and indexed, the grid's model reset on it.
double programOpen(db::Connection& connection, db::Query& query, ResultModel& model)
{
    query.close();
    QElapsedTimer timer;
    timer.start();
    query.setConnection(&connection);
    query.setSql(kSelect);
    query.open();
    model.rowCount(); // the model was reset by the query's signal
    return double(timer.nsecsElapsed()) / 1e9;
}

double readScreenful(const ResultModel& model, int firstRow)
{
    constexpr int kScreenRows = 40;
    constexpr int kRepeats = 2000;
    QElapsedTimer timer;
    timer.start();
    qsizetype sink = 0;
    for (int repeat = 0; repeat < kRepeats; ++repeat)
        for (int row = firstRow; row < firstRow + kScreenRows; ++row)
            for (int column = 0; column < model.columnCount(); ++column)
                sink += model.index(row, column).data().toString().size();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (sink == 0)
        std::printf("(nothing read)\n");
    return seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    db::Connection connection;
    connection.open(test::testDbParams());
    fillTable(connection);

    db::Query query;
    ResultModel model;
    model.setQuery(&query);

    std::vector<double> bare, program;
    for (int round = 0; round < 3; ++round) {
        bare.push_back(bareOpen());
        program.push_back(programOpen(connection, query, model));
    }
    const double a = median(bare);
    const double b = median(program);
    std::printf("open 1,000,000 x 10: bare store %.3f s, program %.3f s, ratio b/a %.3f"
                " (target <= 1.15)\n",
                a, b, b / a);

    // Memory beyond the stored result: the row index, and what the process grew by over a bare
    // store of the same rows.
    query.close();
    const long before = rssKiB();
    query.setConnection(&connection);
    query.setSql(kSelect);
    query.open();
    const long withProgram = rssKiB();
    const size_t index = query.result()->indexBytes();
    std::printf("row index %.1f bytes/row (target <= 24); process grew %.1f MiB for the result\n",
                double(index) / kRows, double(withProgram - before) / 1024.0);

    const double top = readScreenful(model, 0);
    const double bottom = readScreenful(model, kRows - 40);
    std::printf("screenful at row %d vs row 0: %.4f s vs %.4f s, ratio %.3f (target <= 2)\n",
                kRows - 40, bottom, top, bottom / top);

    // The whole window path, grid and status line included, for reference.
    test::FakePrompts prompts;
    TfrmMain form(QString::fromLocal8Bit(qgetenv("TMPDIR").isEmpty() ? "/tmp" : qgetenv("TMPDIR")));
    form.setPrompts(&prompts);
    QElapsedTimer timer;
    timer.start();
    form.session().open(test::testDbParams());
    const double connect = double(timer.nsecsElapsed()) / 1e9;
    timer.restart();
    form.OpenQuery(form.findChild<db::Query*>(QStringLiteral("qrySelect")), kSelect);
    while (form.isRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double window = double(timer.nsecsElapsed()) / 1e9;
    std::printf("window OpenQuery incl. grid reset and column fitting: %.3f s, ratio to bare %.3f"
                " (connect %.3f s)\n",
                window, window / a, connect);
    return 0;
}
