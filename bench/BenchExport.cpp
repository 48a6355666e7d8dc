// Export of a 10-column query result to .xlsx, timed against a bare libxlsxwriter loop that
// writes the same typed cells and formats, split over the same sheets, in the same
// constant-memory mode; and the longest time the window's event loop did not come round during
// the export. Every measurement runs in a child process of its own, so each reports its own peak
// memory.
//
// usage: bench_Export [rows...]        (default: 100000 1000000; needs the test database)

#include "CellValue.h"
#include "ExcelUtilObj.h"
#include "Prompts.h"
#include "ResultModel.h"
#include "Statement.h"
#include "TestSupport.h"
#include "WorkbookCheck.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <xlsxwriter.h>

using namespace quarvel;

namespace {

constexpr int kRowsPerSheet = 65535;

// Integers, decimals, doubles, Chinese and zero-padded strings, dates and NULLs.
QString benchSql(int rows)
{
    return QStringLiteral(
               "select seq, seq * 3 as big, seq / 7 as ratio, seq * 1.5e0 as dbl,"
               " concat('客户', seq) as name, lpad(seq, 8, '0') as code,"
               " '2020-01-01' + interval seq minute as seen, date('2020-01-01' + interval seq"
               " hour) as born, md5(seq) as hash, if(seq % 10 = 0, null, 'note') as note"
               " from seq_1_to_%1")
        .arg(rows);
}

// Kilobytes of a field of /proc/self/status ("VmRSS", "VmHWM").
long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// The same workbook straight through libxlsxwriter: the same typed cells (numbers, dates with
// their formats, text with "@" on text columns) and sheets, without the export's care (escapes,
// widths, the read-back check).
void bareLoop(const db::ResultSet& result, const QString& fileName)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(fileName.toUtf8().constData(), &options);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* text = workbook_add_format(book);
    format_set_num_format(text, "@");
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    lxw_format* dateTime = workbook_add_format(book);
    format_set_num_format(dateTime, "yyyy-mm-dd hh:mm:ss");
    lxw_worksheet* sheet = nullptr;
    int sheetNumber = 0;
    int sheetRow = 0;
    std::string buffer;
    for (int row = 0; row < result.rowCount(); ++row) {
        if (!sheet || sheetRow > kRowsPerSheet) {
            sheet = workbook_add_worksheet(
                book, QStringLiteral("查询结果%1").arg(++sheetNumber).toUtf8().constData());
            for (int column = 0; column < result.columnCount(); ++column) {
                worksheet_write_string(sheet, 0, lxw_col_t(column),
                                       result.field(column).name.toUtf8().constData(), bold);
                if (result.field(column).kind == db::FieldKind::PlainString)
                    worksheet_set_column(sheet, lxw_col_t(column), lxw_col_t(column), 10, text);
            }
            sheetRow = 1;
        }
        for (int column = 0; column < result.columnCount(); ++column) {
            const db::ResultSet::Cell cell = result.cell(row, column);
            if (cell.isNull())
                continue;
            const db::FieldKind kind = result.field(column).kind;
            const auto r = lxw_row_t(sheetRow);
            const auto c = lxw_col_t(column);
            if (kind == db::FieldKind::Integer || kind == db::FieldKind::Decimal ||
                kind == db::FieldKind::Float) {
                if (const auto number = sheet::exactNumber(cell.bytes())) {
                    worksheet_write_number(sheet, r, c, *number, nullptr);
                    continue;
                }
            } else if (kind == db::FieldKind::Date || kind == db::FieldKind::DateTime) {
                if (const auto when =
                        sheet::parseDateTime(cell.bytes(), kind == db::FieldKind::DateTime)) {
                    worksheet_write_number(sheet, r, c, sheet::serialNumber(*when),
                                           when->hasTime ? dateTime : date);
                    continue;
                }
            }
            buffer.assign(cell.data, cell.length);
            worksheet_write_string(sheet, r, c, buffer.c_str(),
                                   kind == db::FieldKind::PlainString ? text : nullptr);
        }
        ++sheetRow;
    }
    workbook_close(book);
}

// The longest time the event loop did not come round while `work` ran, in ms.
template <typename Work>
qint64 longestStall(Work work)
{
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longest = qMax(longest, sinceTick.restart()); });
    tick.start(10);
    work();
    longest = qMax(longest, sinceTick.elapsed());
    return longest;
}

// One measurement: prints "<ms> <rss before kB> <peak kB> <file bytes> <check ms> <stall ms>".
int child(const QString& mode, int rows, const QString& fileName)
{
    db::Connection connection;
    connection.open(test::testDbParams());
    db::Query query;
    query.setConnection(&connection);
    query.setSql(benchSql(rows));
    query.open();
    ResultModel model;
    model.setQuery(&query);
    QTableView grid;
    grid.setModel(&model);
    WidgetPrompts prompts;

    const long before = statusKb("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    qint64 stall = 0;
    if (mode == QLatin1String("export"))
        stall = longestStall([&] {
            ExportGridToExcel(&grid, fileName, QStringLiteral("查询结果"), kRowsPerSheet, true,
                              prompts);
        });
    else
        bareLoop(*query.result(), fileName);
    const qint64 ms = timer.elapsed();
    const long peak = statusKb("VmHWM:");
    // The read-back check the export makes before it replaces the target, timed on its own.
    timer.restart();
    const bool sound = sheet::workbookDefect(fileName).isEmpty();
    std::printf("%lld %ld %ld %lld %lld %lld\n", ms, before, peak, QFile(fileName).size(),
                sound ? timer.elapsed() : -1, stall);
    return 0;
}

struct Figures
{
    qint64 ms = 0;
    long rssBefore = 0;
    long peak = 0;
    qint64 bytes = 0;
    qint64 checkMs = 0;
    qint64 stallMs = 0;
};

Figures measure(const QString& mode, int rows, const QString& fileName)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--child"), mode, QString::number(rows), fileName});
    process.waitForFinished(-1);
    const QList<QByteArray> out = process.readAllStandardOutput().trimmed().split(' ');
    QFile::remove(fileName);
    if (process.exitCode() != 0 || out.size() != 6 || out[4].toLongLong() < 0) {
        std::fprintf(stderr, "child %s %d failed\n", qPrintable(mode), rows);
        std::exit(1);
    }
    return {out[0].toLongLong(), out[1].toLong(),     out[2].toLong(),
            out[3].toLongLong(), out[4].toLongLong(), out[5].toLongLong()};
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--child"))
        return child(args.value(2), args.value(3).toInt(), args.value(4));

    QList<int> sizes;
    for (int i = 1; i < args.size(); ++i)
        sizes.append(args[i].toInt());
    if (sizes.isEmpty())
        sizes = {100000, 1000000};

    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("bench.xlsx"));
    std::printf("%9s %10s %10s %6s %12s %12s %12s %10s %9s %9s\n", "rows", "bare ms", "export ms",
                "ratio", "result MB", "export +MB", "peak MB", "file MB", "check ms", "stall ms");
    for (const int rows : sizes) {
        // Best of two, alternating, so that neither side profits from a warmer cache.
        Figures bare, exported;
        for (int round = 0; round < 2; ++round) {
            const Figures b = measure(QStringLiteral("bare"), rows, file);
            const Figures e = measure(QStringLiteral("export"), rows, file);
            if (round == 0 || b.ms < bare.ms)
                bare = b;
            if (round == 0 || e.ms < exported.ms)
                exported = e;
        }
        std::printf("%9d %10lld %10lld %6.2f %12.1f %12.1f %12.1f %10.1f %9lld %9lld\n", rows,
                    bare.ms, exported.ms, double(exported.ms) / double(qMax<qint64>(1, bare.ms)),
                    exported.rssBefore / 1024.0, (exported.peak - exported.rssBefore) / 1024.0,
                    exported.peak / 1024.0, exported.bytes / 1048576.0, exported.checkMs,
                    exported.stallMs);
        std::fflush(stdout);
    }
    return 0;
}
