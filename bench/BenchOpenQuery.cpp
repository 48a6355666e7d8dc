// A query of 1,000,000 rows x 10 columns against the client library's bare query + store over the
// same kind of link (TLS), both sides doing the same work (the bare side walks every row and
// its lengths once, as building any index would): the program's row store filled while rows
// arrive, wall and client CPU time, alternating; the memory each holds for the result; the time
// until the first 40 rows are in the window's grid; the window's whole path; a screenful read at
// the end against the start; and the time from pressing stop to the window being usable.
//
// Needs the test database (scripts/testdb.sh start). Run: build/release/bin/bench_OpenQuery

#include "Connection.h"
#include "FakePrompts.h"
#include "MainForm.h"
#include "ResultModel.h"
#include "Statement.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <ctime>
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

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Timing
{
    double wall = 0;
    double cpu = 0;
    long heldKiB = 0; // resident memory the result added while held
};

// (a) the client library alone: query, store, and one pass over every row and its lengths.
Timing bareOpen()
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
    const long before = rssKiB();
    Timing t;
    const double cpu = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    mysql_real_query(mysql, sql.constData(), static_cast<unsigned long>(sql.size()));
    MYSQL_RES* result = mysql_store_result(mysql);
    unsigned long sum = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        const unsigned long* lengths = mysql_fetch_lengths(result);
        sum += lengths[0] + (row[0] ? 1 : 0);
    }
    t.wall = double(timer.nsecsElapsed()) / 1e9;
    t.cpu = cpuSeconds() - cpu;
    t.heldKiB = rssKiB() - before;
    if (sum == 0)
        std::printf("(no rows)\n");
    mysql_free_result(result);
    mysql_close(mysql);
    return t;
}

// (b) the program's path: the rows read into the row store as they arrive.
Timing programOpen(db::Connection& connection, std::shared_ptr<const db::ResultSet>* held)
{
    held->reset();
    const long before = rssKiB();
    Timing t;
    const double cpu = cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    *held = db::openResult(connection, kSelect);
    t.wall = double(timer.nsecsElapsed()) / 1e9;
    t.cpu = cpuSeconds() - cpu;
    t.heldKiB = rssKiB() - before;
    return t;
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

    std::vector<double> bareWall, bareCpu, programWall, programCpu;
    long bareHeld = 0, programHeld = 0;
    std::shared_ptr<const db::ResultSet> held;
    for (int round = 0; round < 5; ++round) {
        held.reset(); // both start with no result held
        const Timing a = bareOpen();
        const Timing b = programOpen(connection, &held);
        bareWall.push_back(a.wall);
        bareCpu.push_back(a.cpu);
        programWall.push_back(b.wall);
        programCpu.push_back(b.cpu);
        bareHeld = qMax(bareHeld, a.heldKiB);
        programHeld = qMax(programHeld, b.heldKiB);
    }
    std::printf("complete result, 1,000,000 x 10: bare %.3f s (cpu %.3f s), program %.3f s (cpu "
                "%.3f s), ratio %.3f, cpu ratio %.3f (target <= 1.05)\n",
                median(bareWall), median(bareCpu), median(programWall), median(programCpu),
                median(programWall) / median(bareWall), median(programCpu) / median(bareCpu));
    std::printf("memory held for the result: client library %.1f MiB, row store %.1f MiB "
                "(counted %.1f MiB), ratio %.3f (target <= 0.6)\n",
                bareHeld / 1024.0, programHeld / 1024.0, double(held->memoryBytes()) / 1048576.0,
                double(programHeld) / double(qMax(1L, bareHeld)));

    db::Query query;
    ResultModel model;
    model.setQuery(&query);
    query.setResult(held);
    const double top = readScreenful(model, 0);
    const double bottom = readScreenful(model, kRows - 40);
    std::printf("screenful at row %d vs row 0: %.4f s vs %.4f s, ratio %.3f (target <= 2)\n",
                kRows - 40, bottom, top, bottom / top);
    {
        // Copying the whole result as the grid's Ctrl+A, Ctrl+C does.
        QElapsedTimer timer;
        timer.start();
        const QItemSelection all(model.index(0, 0),
                                 model.index(model.rowCount() - 1, model.columnCount() - 1));
        const QString text = model.copyText(all, true);
        QApplication::clipboard()->setText(text);
        std::printf("copy of the whole result: %.3f s, %.1f M characters (target <= 2 s)\n",
                    double(timer.nsecsElapsed()) / 1e9, text.size() / 1e6);
    }
    query.close();
    held.reset();

    // The window: the statement on the worker, rows shown while they arrive.
    test::FakePrompts prompts;
    TfrmMain form(QString::fromLocal8Bit(qgetenv("TMPDIR").isEmpty() ? "/tmp" : qgetenv("TMPDIR")));
    form.setPrompts(&prompts);
    form.session().open(test::testDbParams());
    auto* qrySelect = form.findChild<db::Query*>(QStringLiteral("qrySelect"));
    auto* grid = form.findChild<QTableView*>(QStringLiteral("grdResult"));
    std::vector<double> first, window;
    for (int round = 0; round < 5; ++round) {
        qrySelect->close();
        QElapsedTimer timer;
        timer.start();
        form.OpenQuery(qrySelect, kSelect);
        // Sleeps until something happens, as the window's event loop does (polling here would
        // take the time the worker and the server need on a small machine).
        double firstRows = -1;
        while (form.isRunning()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (firstRows < 0 && grid->model()->rowCount() >= 40)
                firstRows = double(timer.nsecsElapsed()) / 1e9;
        }
        window.push_back(double(timer.nsecsElapsed()) / 1e9);
        first.push_back(firstRows);
    }
    std::printf("window: first 40 rows in the grid after %.3f s (target <= 0.050 s), complete "
                "after %.3f s, ratio to bare %.3f (target <= 1.05)\n",
                median(first), median(window), median(window) / median(bareWall));

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
        while (form.isRunning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        stops.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    std::printf("stop to usable: median %.3f s, worst %.3f s (target <= 0.5 s)\n", median(stops),
                *std::max_element(stops.begin(), stops.end()));
    return 0;
}
