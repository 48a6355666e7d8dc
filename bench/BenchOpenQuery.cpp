// Opening a query of 1,000,000 rows x 10 columns: the program's path up to a model ready for the
// grid, and the window's whole path (the statement on the session's worker, the outcome shown)
// against the client library's bare query + store over the same kind of link (TLS); the memory
// the program adds per row; reading a screenful of cells at the end of the result against the
// start; and the time from pressing stop to the window being usable again.
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
    const my_bool tls = 1; // as the program connects
    mysql_options(mysql, MYSQL_OPT_SSL_ENFORCE, &tls);
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
    const size_t index = query.result()->memoryBytes();
    std::printf("row index %.1f bytes/row (target <= 24); process grew %.1f MiB for the result\n",
                double(index) / kRows, double(withProgram - before) / 1024.0);

    const double top = readScreenful(model, 0);
    const double bottom = readScreenful(model, kRows - 40);
    std::printf("screenful at row %d vs row 0: %.4f s vs %.4f s, ratio %.3f (target <= 2)\n",
                kRows - 40, bottom, top, bottom / top);

    // The window's whole path: the statement on the worker, the grid reset and its columns
    // fitted, the status line written.
    test::FakePrompts prompts;
    TfrmMain form(QString::fromLocal8Bit(qgetenv("TMPDIR").isEmpty() ? "/tmp" : qgetenv("TMPDIR")));
    form.setPrompts(&prompts);
    form.session().open(test::testDbParams());
    auto* qrySelect = form.findChild<db::Query*>(QStringLiteral("qrySelect"));
    // Sleeps until the outcome arrives, as the window's event loop does (polling here would take
    // the time the worker and the server need on a small machine).
    const auto waitForRun = [&form] {
        while (form.isRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    std::vector<double> bareAgain, window;
    for (int round = 0; round < 7; ++round) {
        qrySelect->close(); // both start with no result held
        bareAgain.push_back(bareOpen());
        QElapsedTimer timer;
        timer.start();
        form.OpenQuery(qrySelect, kSelect);
        waitForRun();
        window.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    const double a2 = median(bareAgain);
    const double w = median(window);
    std::printf("window path (worker, grid reset, column fitting, status): bare %.3f s, window "
                "%.3f s, ratio %.3f (target <= 1.05); against the program's path on this thread "
                "%.3f\n",
                a2, w, w / a2, w / b);

    // From pressing stop to the window taking a new statement.
    qrySelect->close();
    std::vector<double> stops;
    for (int round = 0; round < 5; ++round) {
        form.OpenQuery(qrySelect, QStringLiteral("select sleep(30)"));
        QElapsedTimer started;
        started.start();
        while (started.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QElapsedTimer timer;
        timer.start();
        form.actStopExecute();
        waitForRun();
        stops.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    std::printf("stop to usable: median %.3f s, worst %.3f s (target <= 0.5 s)\n", median(stops),
                *std::max_element(stops.begin(), stops.end()));
    return 0;
}
