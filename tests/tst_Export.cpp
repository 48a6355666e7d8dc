// Exporting a query result from the real window to an .xlsx workbook, read back with a real
// spreadsheet reader: sheets and header, cell types by column kind, the split over sheets, the
// progress window and stopping, and what a failed export leaves behind.

#include "AppInfo.h"
#include "Connection.h"
#include "ExcelUtilObj.h"
#include "MainWindowFixture.h"
#include "SheetWriter.h"
#include "Statement.h"
#include "TestSupport.h"

#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

using namespace quarvel;

namespace {

const QString kStopQuestion = QStringLiteral("真的要终止数据的导出吗？");

// What the reader sees: {"sheets": [{name, maxRow, maxColumn, columnFormats, widths,
// rows: {"1": [{value, type, format, bold}, ...], "-1": last row}}]}.
QJsonArray readSheets(const QString& path, const QString& rows = QStringLiteral("1,2,3,-1"))
{
    QProcess reader;
    reader.start(QStringLiteral(QUARVEL_XLSX_PYTHON),
                 {QStringLiteral(QUARVEL_XLSX_DUMP), path, rows});
    if (!reader.waitForFinished(60000) || reader.exitCode() != 0)
        qWarning() << "reader failed:" << reader.errorString() << reader.readAllStandardError();
    return QJsonDocument::fromJson(reader.readAllStandardOutput())
        .object()
        .value(QStringLiteral("sheets"))
        .toArray();
}

QJsonObject cellOf(const QJsonObject& sheet, const QString& row, int column)
{
    return sheet[QStringLiteral("rows")][row][column].toObject();
}

ExportProgress* progressWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<ExportProgress*>(widget))
            return window;
    return nullptr;
}

struct Exporter : test::StartedWindow
{
    using StartedWindow::StartedWindow;

    void run(const QString& sql)
    {
        child<QsciScintilla>(QStringLiteral("mmoScript"))->setText(sql);
        trigger("actRun");
    }
    // Clicks the export button and picks `fileName` in the save dialog.
    void exportTo(const QString& fileName)
    {
        prompts.fileAnswers.enqueue(fileName);
        child<QToolButton>(QStringLiteral("btnExportFile"))->click();
    }
    QTableView* grid() const { return child<QTableView>(QStringLiteral("grdResult")); }
    // Whether running and exporting are enabled.
    QList<bool> controlsEnabled() const
    {
        return {child<QAction>(QStringLiteral("actRun"))->isEnabled(),
                child<QAction>(QStringLiteral("actRunSel"))->isEnabled(),
                child<QPushButton>(QStringLiteral("btnRun"))->isEnabled(),
                child<QPushButton>(QStringLiteral("btnRunSel"))->isEnabled(),
                child<QToolButton>(QStringLiteral("btnExportFile"))->isEnabled()};
    }
};

const QList<bool> kAllEnabled{true, true, true, true, true};
const QList<bool> kAllDisabled{false, false, false, false, false};

// While an export runs: once the progress bar has moved, notes what the windows look like and
// acts, by default clicking the progress window's close button.
struct MidExport
{
    bool seen = false;
    QList<bool> controls;
    QString label;
    int barValue = 0;
    int barMaximum = 0;
    QSize size;
    Qt::WindowFlags flags;

    void watch(const Exporter& window, std::function<void(ExportProgress*)> act = {})
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, timer, [this, &window, timer, act] {
            ExportProgress* progress = progressWindow();
            if (!progress || progress->bar()->value() == 0)
                return;
            seen = true;
            controls = window.controlsEnabled();
            label = progress->label()->text();
            barValue = progress->bar()->value();
            barMaximum = progress->bar()->maximum();
            size = progress->size();
            flags = progress->windowFlags();
            timer->deleteLater();
            if (act)
                act(progress);
            else
                progress->closeButton()->click();
        });
        timer->start(1);
    }
};

// Files this process holds open although they are deleted: working files, whose space stays taken
// until they are closed.
QStringList openDeletedFiles()
{
    QStringList files;
#ifdef Q_OS_LINUX
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& fd :
         fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (const QString target = fd.symLinkTarget(); target.endsWith(QLatin1String(" (deleted)")))
            files << target;
#endif
    return files;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class tst_Export : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void headerAndSheet();
    void cells_data();
    void cells();
    void sheets_data();
    void sheets();
    void stop_data();
    void stop();
    void keepsGridAndAsksForXlsx();
    void folderNotWritable();
    void failureWhileSaving();
    void fullDiskKeepsOldWorkbook_data();
    void fullDiskKeepsOldWorkbook();
    void workingFilesBesideTarget();
    void closedResultExportsNothing();
    void resultClosedMidway();
    void liveInEveryPhase();
    void stopWhileSaving_data();
    void stopWhileSaving();
    void closingTheWindowDuringExport_data();
    void closingTheWindowDuringExport();

private:
    void exec(const QString& sql);
    const QJsonObject& kindsSheet();

    QTemporaryDir m_base;
    std::unique_ptr<QTemporaryDir> m_out;
    db::Connection m_admin;
    QJsonArray m_kinds;
};

void tst_Export::initTestCase()
{
    QVERIFY2(!QStringLiteral(QUARVEL_XLSX_PYTHON).isEmpty(),
             "no Python 3 with openpyxl found at configure time");
    QVERIFY(test::writeConnectionConfig(m_base.path(), test::testDb()));
    QVERIFY_THROWS_NO_EXCEPTION(m_admin.open(test::testDbParams()));
    exec(QStringLiteral("DROP TABLE IF EXISTS export_kinds"));
    exec(QStringLiteral(
        "CREATE TABLE export_kinds (id INT PRIMARY KEY, name VARCHAR(20), code CHAR(6),"
        " memo TEXT, pic BLOB, vb VARBINARY(8), bn BINARY(3), qty INT, big BIGINT,"
        " price DECIMAL(10,2), ratio DOUBLE, born DATE, seen DATETIME(3), at TIME,"
        " kind ENUM('甲','乙'), lng VARCHAR(40000) CHARACTER SET latin1)"));
    exec(QStringLiteral(
        "INSERT INTO export_kinds VALUES (1, '中文值', '0012', 'memo text', x'00FF', 'abc',"
        " x'01FF02', 42, 123456789012345678, 12.50, 1.5, '2024-05-01',"
        " '2024-05-01 13:45:10.250', '08:00:00', '乙', REPEAT('x', 40000)),"
        " (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
        " NULL, NULL),"
        " (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,"
        " NULL, '_x0041_ a_x00e9_b'),"
        // Characters a workbook's XML can't hold: NUL, a control and U+FFFF.
        " (4, CONVERT(X'6100621EEFBFBF' USING utf8mb4), NULL, NULL, NULL, NULL, NULL, NULL,"
        " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"));
}

void tst_Export::init()
{
    m_out = std::make_unique<QTemporaryDir>();
}

void tst_Export::exec(const QString& sql)
{
    test::execSql(m_admin, sql);
}

// The kinds table exported once, its only sheet.
const QJsonObject& tst_Export::kindsSheet()
{
    if (m_kinds.isEmpty()) {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("kinds.xlsx"));
        Exporter w(m_base.path());
        w.run(QStringLiteral("select * from export_kinds order by id"));
        w.exportTo(file);
        m_kinds = readSheets(file, QStringLiteral("1,2,3,4,5"));
    }
    static QJsonObject sheet;
    sheet = m_kinds.first().toObject();
    return sheet;
}

void tst_Export::headerAndSheet()
{
    const QJsonObject& sheet = kindsSheet();
    QCOMPARE(m_kinds.size(), 1);
    QCOMPARE(sheet[QStringLiteral("name")].toString(), QStringLiteral("查询结果1"));
    QCOMPARE(sheet[QStringLiteral("maxRow")].toInt(), 5);

    const QStringList titles{"id",  "name",  "code",  "memo", "pic",  "vb", "bn",   "qty",
                             "big", "price", "ratio", "born", "seen", "at", "kind", "lng"};
    QCOMPARE(sheet[QStringLiteral("maxColumn")].toInt(), titles.size());
    for (int column = 0; column < titles.size(); ++column) {
        const QJsonObject cell = cellOf(sheet, QStringLiteral("1"), column);
        QCOMPARE(cell[QStringLiteral("value")].toString(), titles[column]);
        QVERIFY2(cell[QStringLiteral("bold")].toBool(), qPrintable(titles[column]));
        // Only the variable-length string columns are text columns.
        const bool textColumn = titles[column] == "name" || titles[column] == "lng";
        QCOMPARE(sheet[QStringLiteral("columnFormats")][column].toString(),
                 textColumn ? QStringLiteral("@") : QStringLiteral("General"));
    }

    // Widths fitted: "中文值" is six characters wide plus room, the long column is capped.
    const QJsonArray widths = sheet[QStringLiteral("widths")].toArray();
    QCOMPARE(int(widths[1].toDouble()), 7);
    QCOMPARE(int(widths[15].toDouble()), sheet::SheetWriter::kMaxColumnWidth);
    // Too long for one cell: cut to what a cell holds.
    QCOMPARE(cellOf(sheet, QStringLiteral("2"), 15)[QStringLiteral("value")].toString(),
             QString(sheet::kMaxCellChars, QLatin1Char('x')));
}

void tst_Export::cells_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("row"); // "2": the values, "3": all NULL, "4" and "5": odd text
    QTest::addColumn<QString>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("format");

    const QString blob = QStringLiteral("二进制数据");
    QTest::newRow("int") << 0 << "2"
                         << "number" << QVariant(1.0) << "General";
    QTest::newRow("varchar is text in a text cell") << 1 << "2"
                                                    << "text" << QVariant("中文值") << "@";
    QTest::newRow("char keeps leading zeros") << 2 << "2"
                                              << "text" << QVariant("0012") << "General";
    QTest::newRow("text column is a blob") << 3 << "2"
                                           << "text" << QVariant(blob) << "General";
    QTest::newRow("blob") << 4 << "2"
                          << "text" << QVariant(blob) << "General";
    QTest::newRow("varbinary text") << 5 << "2"
                                    << "text" << QVariant("abc") << "General";
    QTest::newRow("binary bytes in hex") << 6 << "2"
                                         << "text" << QVariant("0x01FF02") << "General";
    QTest::newRow("int value") << 7 << "2"
                               << "number" << QVariant(42.0) << "General";
    QTest::newRow("18-digit bigint stays exact")
        << 8 << "2"
        << "text" << QVariant("123456789012345678") << "General";
    QTest::newRow("decimal keeps its scale") << 9 << "2"
                                             << "number" << QVariant(12.5) << "0.00";
    QTest::newRow("double") << 10 << "2"
                            << "number" << QVariant(1.5) << "General";
    QTest::newRow("date") << 11 << "2"
                          << "date" << QVariant("2024-05-01 00:00:00") << "yyyy-mm-dd";
    QTest::newRow("datetime with milliseconds")
        << 12 << "2"
        << "date" << QVariant("2024-05-01 13:45:10.250000") << "yyyy-mm-dd hh:mm:ss.000";
    QTest::newRow("time") << 13 << "2"
                          << "text" << QVariant("08:00:00") << "General";
    QTest::newRow("enum") << 14 << "2"
                          << "text" << QVariant("乙") << "General";

    QTest::newRow("null varchar") << 1 << "3"
                                  << "blank" << QVariant() << "General";
    QTest::newRow("null char") << 2 << "3"
                               << "blank" << QVariant() << "General";
    QTest::newRow("null text column") << 3 << "3"
                                      << "text" << QVariant(blob) << "General";
    QTest::newRow("null blob") << 4 << "3"
                               << "text" << QVariant(blob) << "General";
    QTest::newRow("null varbinary") << 5 << "3"
                                    << "blank" << QVariant() << "General";
    QTest::newRow("null number") << 7 << "3"
                                 << "blank" << QVariant() << "General";
    QTest::newRow("null date") << 11 << "3"
                               << "blank" << QVariant() << "General";

    // Text spelled like the workbook's escapes is stored with its underscores escaped, so that
    // a spreadsheet reads it as written (the reader here shows inline text as stored).
    QTest::newRow("escape-like text") << 15 << "4"
                                      << "text" << QVariant("_x005F_x0041_ a_x005F_x00e9_b") << "@";
    // Written in the workbook's escape form, so the workbook stays readable and nothing after a
    // NUL is lost.
    QTest::newRow("characters XML can't hold")
        << 1 << "5"
        << "text" << QVariant("a_x0000_b_x001E__xFFFF_") << "@";
}

void tst_Export::cells()
{
    QFETCH(int, column);
    QFETCH(QString, row);
    QFETCH(QString, type);
    QFETCH(QVariant, value);
    QFETCH(QString, format);

    const QJsonObject cell = cellOf(kindsSheet(), row, column);
    QCOMPARE(cell[QStringLiteral("type")].toString(), type);
    if (type != QStringLiteral("blank"))
        QCOMPARE(cell[QStringLiteral("value")].toVariant(), value);
    QCOMPARE(cell[QStringLiteral("format")].toString(), format);
    QCOMPARE(cell[QStringLiteral("bold")].toBool(), false);
}

void tst_Export::sheets_data()
{
    QTest::addColumn<QString>("sql");
    // Per sheet: last row, first and last value (0: none).
    QTest::addColumn<QList<QList<int>>>("sheets");

    QTest::newRow("2500 rows on one sheet")
        << "select seq from seq_1_to_2500" << QList<QList<int>>{{2501, 1, 2500}};
    QTest::newRow("70000 rows over two sheets")
        << "select seq from seq_1_to_70000"
        << QList<QList<int>>{{65536, 1, 65535}, {4466, 65536, 70000}};
    QTest::newRow("no rows: the header alone")
        << "select seq from seq_1_to_10 where seq > 10" << QList<QList<int>>{{1, 0, 0}};
}

void tst_Export::sheets()
{
    QFETCH(QString, sql);
    QFETCH(QList<QList<int>>, sheets);

    const QString file = m_out->filePath(QStringLiteral("seq.xlsx"));
    Exporter w(m_base.path());
    w.run(sql);
    w.exportTo(file);
    QVERIFY(w.prompts.messages.isEmpty());

    const QJsonArray read = readSheets(file, QStringLiteral("1,2,-1"));
    QCOMPARE(read.size(), sheets.size());
    for (int i = 0; i < sheets.size(); ++i) {
        const QJsonObject sheet = read[i].toObject();
        QCOMPARE(sheet[QStringLiteral("name")].toString(), QStringLiteral("查询结果%1").arg(i + 1));
        QCOMPARE(sheet[QStringLiteral("maxRow")].toInt(), sheets[i][0]);
        const QJsonObject header = cellOf(sheet, QStringLiteral("1"), 0);
        QCOMPARE(header[QStringLiteral("value")].toString(), QStringLiteral("seq"));
        QVERIFY(header[QStringLiteral("bold")].toBool());
        if (sheets[i][1] == 0)
            continue;
        QCOMPARE(cellOf(sheet, QStringLiteral("2"), 0)[QStringLiteral("value")].toInt(),
                 sheets[i][1]);
        QCOMPARE(cellOf(sheet, QStringLiteral("-1"), 0)[QStringLiteral("value")].toInt(),
                 sheets[i][2]);
    }
    QCOMPARE(filesIn(m_out->path()), QStringList{QStringLiteral("seq.xlsx")});
}

void tst_Export::stop_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("existing");

    QTest::newRow("cancel goes on and replaces the file") << int(QMessageBox::Cancel) << true;
    QTest::newRow("ok leaves no file") << int(QMessageBox::Ok) << false;
    QTest::newRow("ok keeps an existing file") << int(QMessageBox::Ok) << true;
}

void tst_Export::stop()
{
    QFETCH(int, answer);
    QFETCH(bool, existing);

    const QString file = m_out->filePath(QStringLiteral("stop.xlsx"));
    const QByteArray before("an earlier workbook");
    if (existing)
        QVERIFY(test::writeAll(file, before));

    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_70000"));
    w.prompts.messageAnswers.enqueue(QMessageBox::StandardButton(answer));
    MidExport mid;
    mid.watch(w);
    w.exportTo(file);

    // The progress window was live during the export, and nothing could run meanwhile.
    QVERIFY(mid.seen);
    QCOMPARE(mid.controls, kAllDisabled);
    QCOMPARE(mid.label, QStringLiteral("请等待，正在导出数据……"));
    QCOMPARE(mid.barMaximum, 70000);
    QVERIFY(mid.barValue > 0 && mid.barValue < 70000);
    QCOMPARE(mid.size, QSize(280, 120));
    QVERIFY(mid.flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(mid.flags.testFlag(Qt::WindowStaysOnTopHint));

    QCOMPARE(w.prompts.messages.size(), 1);
    const test::FakePrompts::Message& box = w.prompts.messages.first();
    QCOMPARE(box.text, kStopQuestion);
    QCOMPARE(box.caption, QStringLiteral("确认"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);

    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
    QCOMPARE(w.child<QLabel>(QStringLiteral("stpResult"))->text(),
             answer == QMessageBox::Cancel
                 ? QStringLiteral("已导出 70000 条记录到 %1").arg(QDir::toNativeSeparators(file))
                 : QStringLiteral("导出已停止，未写入文件。"));
    if (answer == QMessageBox::Cancel) {
        const QJsonArray read = readSheets(file, QStringLiteral("-1"));
        QCOMPARE(read.size(), 2);
        QCOMPARE(read[1][QStringLiteral("maxRow")].toInt(), 4466);
    } else if (existing) {
        QCOMPARE(test::readAll(file), before);
    }
    QCOMPARE(filesIn(m_out->path()), existing || answer == QMessageBox::Cancel
                                         ? QStringList{QStringLiteral("stop.xlsx")}
                                         : QStringList{});
}

void tst_Export::keepsGridAndAsksForXlsx()
{
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq, seq * 2 from seq_1_to_20"));
    QTableView* grid = w.grid();
    grid->setCurrentIndex(grid->model()->index(5, 1));
    grid->selectionModel()->select(
        QItemSelection(grid->model()->index(3, 0), grid->model()->index(6, 1)),
        QItemSelectionModel::ClearAndSelect);
    const QModelIndexList selected = grid->selectionModel()->selectedIndexes();

    const QString file = m_out->filePath(QStringLiteral("grid.xlsx"));
    w.exportTo(file);

    QCOMPARE(grid->currentIndex(), grid->model()->index(5, 1));
    QCOMPARE(grid->selectionModel()->selectedIndexes(), selected);
    QCOMPARE(w.prompts.dialogs.size(), 1);
    const FileDialogOptions& options = w.prompts.dialogs.first().options;
    QVERIFY(w.prompts.dialogs.first().save);
    QCOMPARE(options.title, QStringLiteral("结果导出为EXCEL文件"));
    QCOMPARE(options.filter, QStringLiteral("电子表格文件(*.xlsx)|*.xlsx"));
    QCOMPARE(options.defaultExtension, QStringLiteral(".xlsx"));
    QVERIFY(options.overwritePrompt);
    QCOMPARE(readSheets(file).first()[QStringLiteral("maxRow")].toInt(), 21);
    // The status line says what went where.
    QCOMPARE(w.child<QLabel>(QStringLiteral("stpResult"))->text(),
             QStringLiteral("已导出 20 条记录到 %1").arg(QDir::toNativeSeparators(file)));

    // A cancelled dialog exports nothing; the next dialog starts where the last file went.
    w.exportTo(QString());
    QCOMPARE(filesIn(m_out->path()), QStringList{QStringLiteral("grid.xlsx")});
    QCOMPARE(w.prompts.dialogs.last().options.folder, QFileInfo(file).absolutePath());

    // A name typed with ".xls" (or none) is a workbook of this format all the same.
    w.exportTo(m_out->filePath(QStringLiteral("old.xls")));
    w.exportTo(m_out->filePath(QStringLiteral("plain")));
    QCOMPARE(filesIn(m_out->path()),
             (QStringList{QStringLiteral("grid.xlsx"), QStringLiteral("old.xlsx"),
                          QStringLiteral("plain.xlsx")}));
    QCOMPARE(w.child<QToolButton>(QStringLiteral("btnExportFile"))->accessibleName(),
             QStringLiteral("导出查询结果为EXCEL文件"));
}

void tst_Export::folderNotWritable()
{
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_20"));
    w.grid()->setCurrentIndex(w.grid()->model()->index(7, 0));
    const QString file = m_out->filePath(QStringLiteral("missing/out.xlsx"));
    w.exportTo(file);

    QCOMPARE(w.prompts.messages.size(), 1);
    const test::FakePrompts::Message& box = w.prompts.messages.first();
    QCOMPARE(box.caption, QStringLiteral("操作提示"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.startsWith(
                 QStringLiteral("无法创建文件“%1”：").arg(QDir::toNativeSeparators(file))),
             qPrintable(box.text));
    QVERIFY(box.text.size() > QDir::toNativeSeparators(file).size() + 9); // and the reason
    QCOMPARE(filesIn(m_out->path()), QStringList{});
    QCOMPARE(w.grid()->currentIndex().row(), 7);
    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
}

void tst_Export::failureWhileSaving()
{
    // A folder of the chosen name: the workbook is written, but can't take its place.
    const QString file = m_out->filePath(QStringLiteral("taken.xlsx"));
    QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));

    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_20"));
    w.grid()->setCurrentIndex(w.grid()->model()->index(3, 0));
    w.exportTo(file);

    QCOMPARE(w.prompts.messages.size(), 1);
    const test::FakePrompts::Message& report = w.prompts.messages.first();
    QCOMPARE(report.caption, appTitle());
    QCOMPARE(report.icon, QMessageBox::Critical);
    QVERIFY2(report.text.contains(QDir::toNativeSeparators(file)), qPrintable(report.text));
    QCOMPARE(filesIn(m_out->path()), QStringList{QStringLiteral("taken.xlsx")});
    QCOMPARE(w.grid()->currentIndex().row(), 3);
    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
}

void tst_Export::fullDiskKeepsOldWorkbook_data()
{
    QTest::addColumn<qint64>("sizeLimit");
    // The writer's working file of the sheet's rows, some 2 MB, fills up first; the finished
    // workbook, compressed, would still fit.
    QTest::newRow("while rows are written") << qint64(256 * 1024);
    QTest::newRow("right at the start") << qint64(512);
}

// The disk fills up during the export: the good workbook of an earlier export stays as it was,
// and the error is reported instead of success.
void tst_Export::fullDiskKeepsOldWorkbook()
{
    QFETCH(qint64, sizeLimit);
    const QString file = m_out->filePath(QStringLiteral("report.xlsx"));
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_3"));
    w.exportTo(file);
    QCOMPARE(w.prompts.messages.size(), 0);
    const QByteArray good = test::readAll(file);
    QVERIFY(!good.isEmpty());

    w.run(QStringLiteral("select seq, repeat('x', 80) from seq_1_to_20000"));
    {
        test::FileSizeLimit diskFull(sizeLimit);
        w.exportTo(file);
    }
    QCOMPARE(w.prompts.messages.size(), 1);
    const test::FakePrompts::Message& report = w.prompts.messages.first();
    QCOMPARE(report.icon, QMessageBox::Critical);
    QVERIFY2(report.text.contains(QDir::toNativeSeparators(file)), qPrintable(report.text));
    QVERIFY2(report.text.contains(QStringLiteral("磁盘已满")), qPrintable(report.text));
    QCOMPARE(test::readAll(file), good);
    QCOMPARE(filesIn(m_out->path()), QStringList{QStringLiteral("report.xlsx")});
    QCOMPARE(openDeletedFiles(), QStringList{});
    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
}

// The writer keeps its working files (open, already unlinked) beside the target, so that only
// that folder's free space decides, not the system's temporary folder.
void tst_Export::workingFilesBesideTarget()
{
#ifndef Q_OS_LINUX
    QSKIP("Open files are listed through /proc");
#endif
    const QString file = m_out->filePath(QStringLiteral("report.xlsx"));
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq, repeat('x', 80) from seq_1_to_70000"));
    QStringList working;
    MidExport mid;
    mid.watch(w, [&working](ExportProgress*) { working = openDeletedFiles(); });
    w.exportTo(file);
    QVERIFY(mid.seen);
    QVERIFY(!working.isEmpty());
    for (const QString& path : working)
        QVERIFY2(path.startsWith(QFileInfo(m_out->path()).canonicalFilePath() + u'/'),
                 qPrintable(path));
    QCOMPARE(w.prompts.messages.size(), 0);
}

void tst_Export::closedResultExportsNothing()
{
    Exporter w(m_base.path());
    w.run(QStringLiteral("select * from no_such_table"));
    const QString file = m_out->filePath(QStringLiteral("closed.xlsx"));
    w.exportTo(file);
    QCOMPARE(w.prompts.messages.size(), 0);
    QCOMPARE(filesIn(m_out->path()), QStringList{});
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
}

// The export holds the rows it writes: the query closing meanwhile takes nothing from it.
void tst_Export::resultClosedMidway()
{
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_70000"));
    MidExport mid;
    mid.watch(w,
              [&w](ExportProgress*) { w.child<db::Query>(QStringLiteral("qrySelect"))->close(); });
    const QString file = m_out->filePath(QStringLiteral("held.xlsx"));
    w.exportTo(file);

    QVERIFY(mid.seen);
    QCOMPARE(w.prompts.messages.size(), 0);
    const QJsonArray read = readSheets(file, QStringLiteral("-1"));
    QCOMPARE(read.size(), 2);
    QCOMPARE(
        read[1][QStringLiteral("rows")][QStringLiteral("-1")][0][QStringLiteral("value")].toInt(),
        70000);
    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
}

// Long enough under the sanitizers that the library's final compression takes a while.
static const QString kLongExport =
    QStringLiteral("select seq, repeat('x', 30), seq * 3 from seq_1_to_200000");
static const QString kSavingText = QStringLiteral("正在保存文件，请稍候……");

void tst_Export::liveInEveryPhase()
{
    Exporter w(m_base.path());
    w.run(kLongExport);
    QStringList phases;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&phases] {
        if (ExportProgress* progress = progressWindow())
            if (!phases.contains(progress->label()->text()))
                phases << progress->label()->text();
    });
    ticks.start(10);
    w.exportTo(m_out->filePath(QStringLiteral("live.xlsx")));
    ticks.stop();
    QCOMPARE(w.prompts.messages.size(), 0);
    QVERIFY2(phases.contains(QStringLiteral("请等待，正在导出数据……")),
             qPrintable(phases.join(u'|')));
    QVERIFY2(phases.contains(kSavingText), qPrintable(phases.join(u'|')));
}

void tst_Export::stopWhileSaving_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("no file before") << false;
    QTest::newRow("an existing file stays") << true;
}

// Confirmed while the library compresses: the window is free at once, and the workbook is
// dropped when the library returns.
void tst_Export::stopWhileSaving()
{
    QFETCH(bool, existing);
    const QString file = m_out->filePath(QStringLiteral("saving.xlsx"));
    const QByteArray before("an earlier workbook");
    if (existing)
        QVERIFY(test::writeAll(file, before));
    Exporter w(m_base.path());
    w.run(kLongExport);
    w.prompts.messageAnswers.enqueue(QMessageBox::Ok);
    bool clicked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&clicked] {
        ExportProgress* progress = progressWindow();
        if (!clicked && progress && progress->label()->text() == kSavingText) {
            clicked = true;
            progress->closeButton()->click();
        }
    });
    watch.start(1);
    w.exportTo(file);
    watch.stop();
    QVERIFY(clicked);
    QCOMPARE(progressWindow(), nullptr);
    QCOMPARE(w.controlsEnabled(), kAllEnabled);
    waitForAbandonedExports();
    if (existing)
        QCOMPARE(test::readAll(file), before);
    QCOMPARE(filesIn(m_out->path()),
             existing ? QStringList{QStringLiteral("saving.xlsx")} : QStringList{});
}

void tst_Export::closingTheWindowDuringExport_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("stop: no file") << int(QMessageBox::Ok);
    QTest::newRow("go on: the file, then the window closes") << int(QMessageBox::Cancel);
}

void tst_Export::closingTheWindowDuringExport()
{
    QFETCH(int, answer);
    const QString file = m_out->filePath(QStringLiteral("closing.xlsx"));
    Exporter w(m_base.path());
    w.run(QStringLiteral("select seq from seq_1_to_70000"));
    // The typed query is not kept: first the script's question, then the export's.
    w.prompts.messageAnswers.enqueue(QMessageBox::Discard);
    w.prompts.messageAnswers.enqueue(QMessageBox::StandardButton(answer));
    MidExport mid;
    mid.watch(w, [&w](ExportProgress*) { w.form->close(); });
    w.exportTo(file);
    QVERIFY(mid.seen);
    QCOMPARE(w.prompts.messages.size(), 2);
    QCOMPARE(w.prompts.messages.last().text, kStopQuestion);
    QTRY_VERIFY(!w.form->isVisible());
    QCOMPARE(QFileInfo::exists(file), answer == QMessageBox::Cancel);
}

QTEST_MAIN(tst_Export)
#include "tst_Export.moc"
