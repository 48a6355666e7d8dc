#include "ExcelUtilObj.h"

#include "Fonts.h"
#include "Prompts.h"
#include "ResultModel.h"
#include "SheetWriter.h"
#include "Statement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quarvel {

namespace {

const QString kStartingText = QStringLiteral("正在启动Excel，请稍候……");
const QString kExportingText = QStringLiteral("请等待，正在导出数据……");
const QString kSavingText = QStringLiteral("正在保存文件，请稍候……");
const QString kBlobText = QStringLiteral("二进制数据");
constexpr int kEventIntervalMs = 50;
// Rows a worksheet can take below its header.
constexpr int kMaxRowsPerSheet = 1048575;

QColor desktopColour()
{
#ifdef Q_OS_WIN
    const COLORREF colour = GetSysColor(COLOR_DESKTOP);
    return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
#else
    return QColor(0x3A, 0x6E, 0xA5); // the classic desktop blue
#endif
}

// How one column's values become cells.
enum class CellRule
{
    Empty,       // only NULLs
    Placeholder, // BLOB family: the same text in every row
    Text,
    Number,
    Date,
    DateTime,
    Bytes, // text when it is text, otherwise hexadecimal
};

CellRule ruleFor(db::FieldKind kind)
{
    using db::FieldKind;
    if (db::isBlobKind(kind))
        return CellRule::Placeholder;
    switch (kind) {
    case FieldKind::Integer:
    case FieldKind::Decimal:
    case FieldKind::Float:
        return CellRule::Number;
    case FieldKind::Date:
        return CellRule::Date;
    case FieldKind::DateTime:
        return CellRule::DateTime;
    case FieldKind::VarBytes:
    case FieldKind::Bytes:
    case FieldKind::Bit:
        return CellRule::Bytes;
    case FieldKind::Null:
        return CellRule::Empty;
    default:
        return CellRule::Text;
    }
}

struct Column
{
    int field;
    CellRule rule;
    int decimals; // DECIMAL's scale, shown as the grid shows it; 0 for other columns
};

void writeCell(sheet::SheetWriter& writer, int row, int column, CellRule rule,
               const db::ResultSet::Cell& cell, int decimals)
{
    static const QByteArray blobText = kBlobText.toUtf8();
    if (rule == CellRule::Placeholder) {
        writer.writeText(row, column, blobText);
        return;
    }
    if (cell.isNull() || rule == CellRule::Empty)
        return;
    const QByteArrayView bytes = cell.bytes();
    switch (rule) {
    case CellRule::Number:
        if (const auto number = sheet::exactNumber(bytes)) {
            writer.writeNumber(row, column, *number, bytes, decimals);
            return;
        }
        break;
    case CellRule::Date:
    case CellRule::DateTime:
        if (const auto when = sheet::parseDateTime(bytes, rule == CellRule::DateTime)) {
            writer.writeDateTime(row, column, *when);
            return;
        }
        break;
    case CellRule::Bytes:
        if (!sheet::isPlainText(bytes)) {
            writer.writeText(row, column, "0x" + bytes.toByteArray().toHex().toUpper());
            return;
        }
        break;
    default:
        break;
    }
    writer.writeText(row, column, bytes);
}

// The grid's current row and selection, put back however the export ends.
class GridState
{
public:
    explicit GridState(QTableView* grid)
        : m_grid(grid)
        , m_current(grid->currentIndex())
        , m_selection(grid->selectionModel() ? grid->selectionModel()->selection()
                                             : QItemSelection())
    {
    }
    ~GridState()
    {
        QItemSelectionModel* selection = m_grid->selectionModel();
        if (!selection)
            return;
        selection->setCurrentIndex(m_current, QItemSelectionModel::NoUpdate);
        selection->select(m_selection, QItemSelectionModel::ClearAndSelect);
    }
    GridState(const GridState&) = delete;
    GridState& operator=(const GridState&) = delete;

private:
    QTableView* m_grid;
    QPersistentModelIndex m_current;
    QItemSelection m_selection;
};

} // namespace

ExportProgress::ExportProgress(Prompts& prompts)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_prompts(prompts)
{
    setObjectName(QStringLiteral("frmExportProgress"));
    setFixedSize(280, 120);
    setFont(designFont(QStringLiteral("宋体"), 13)); // size 10
    // The desktop colour shows only in the 1-pixel border around the panel.
    QPalette border = palette();
    border.setColor(QPalette::Window, desktopColour());
    setPalette(border);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("pnlProgress"));
    panel->setFrameShape(QFrame::NoFrame);
    QPalette face = panel->palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    panel->setPalette(face);
    panel->setAutoFillBackground(true);
    layout->addWidget(panel);

    // Child positions are the window's; the panel starts one pixel in.
    m_label = new QLabel(kStartingText, panel);
    m_label->setObjectName(QStringLiteral("lblProgress"));
    m_label->move(19, 24);
    m_label->adjustSize();
    m_bar = new QProgressBar(panel);
    m_bar->setObjectName(QStringLiteral("pgbProgress"));
    m_bar->setGeometry(19, 49, 260, 18);
    m_bar->setTextVisible(false);
    m_bar->setValue(0);
    m_button = new QPushButton(QStringLiteral("关闭"), panel);
    m_button->setObjectName(QStringLiteral("btnCloseProgress"));
    m_button->setGeometry(114, 79, 75, 25);
    connect(m_button, &QPushButton::clicked, this, &ExportProgress::ConfirmStopExport);
}

void ExportProgress::ConfirmStopExport()
{
    // The export waits while the question is open, and goes on or stops after the answer.
    m_asking = true;
    const auto resume = qScopeGuard([this] { m_asking = false; });
    const auto answer = m_prompts.message(this, QMessageBox::Information, QStringLiteral("确认"),
                                          QStringLiteral("真的要终止数据的导出吗？"),
                                          QMessageBox::Ok | QMessageBox::Cancel);
    m_stopFlag = answer == QMessageBox::Ok ? 1 : 0;
}

void ExportProgress::closeEvent(QCloseEvent* event)
{
    // Closing the window from the keyboard asks like the button; the export closes it itself.
    event->ignore();
    ConfirmStopExport();
}

std::unique_ptr<ExportProgress> ShowExportProgress(Prompts& prompts, QWidget* centreOver)
{
    auto window = std::make_unique<ExportProgress>(prompts);
    if (centreOver) {
        QRect frame = window->rect();
        frame.moveCenter(centreOver->frameGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->repaint();
    return window;
}

namespace {

// One export: the plan made on the user-interface thread, the writing done on a worker of its
// own. The plan is fixed before the worker starts; afterwards the two sides share only the
// atomics, and the worker's error text, which the other side reads after `phase` says Done
// (release/acquire).
struct ExportJob
{
    enum Phase
    {
        Writing,
        Saving,
        Done
    };

    std::shared_ptr<const db::ResultSet> result;
    QList<Column> columns;
    QStringList titles;
    QList<bool> textColumns;
    QString sheetPrefix;
    int rowsPerSheet = 0;
    std::optional<sheet::SheetWriter> writer;

    std::atomic<bool> stop{false};
    std::atomic<bool> paused{false};
    std::atomic<int> rowsWritten{0};
    std::atomic<int> phase{Writing};
    QString error; // set by the worker before Done

    std::thread worker;

    ~ExportJob()
    {
        if (worker.joinable())
            worker.join();
    }

    void write()
    {
        try {
            writeRows();
        } catch (const sheet::SheetError& e) {
            error = QString::fromUtf8(e.what());
        }
        writer.reset(); // an unsaved workbook takes its temporary file with it
        phase.store(Done, std::memory_order_release);
    }

    void writeRows()
    {
        int sheetNumber = 0;
        int sheetRow = 0;
        const auto newSheet = [&] {
            writer->addSheet(sheetPrefix + QString::number(++sheetNumber), titles, textColumns);
            sheetRow = 1;
        };
        for (int row = 0; row < result->rowCount(); ++row) {
            while (paused.load(std::memory_order_acquire) && !stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (stop)
                return;
            if (sheetNumber == 0 || sheetRow > rowsPerSheet)
                newSheet();
            for (int column = 0; column < columns.size(); ++column)
                writeCell(*writer, sheetRow, column, columns[column].rule,
                          result->cell(row, columns[column].field), columns[column].decimals);
            ++sheetRow;
            rowsWritten.store(row + 1, std::memory_order_relaxed);
        }
        if (sheetNumber == 0)
            newSheet(); // no rows: the header alone
        phase.store(Saving, std::memory_order_release);
        writer->finish();
        // A stop confirmed while the library compressed: the workbook goes, the target stays.
        if (!stop)
            writer->commit();
    }
};

// Exports given up while the library still compressed: they finish (and discard their file)
// in the background and are joined when they are done, or when the program ends.
std::vector<std::unique_ptr<ExportJob>>& abandonedExports()
{
    static std::vector<std::unique_ptr<ExportJob>> jobs;
    return jobs;
}

void reapExports()
{
    auto& jobs = abandonedExports();
    std::erase_if(jobs, [](const std::unique_ptr<ExportJob>& job) {
        return job->phase.load(std::memory_order_acquire) == ExportJob::Done;
    });
}

} // namespace

void waitForAbandonedExports()
{
    abandonedExports().clear(); // each joins its worker
}

ExportOutcome ExportGridToExcel(QTableView* grid, const QString& fileName,
                                const QString& sheetPrefix, int rowsPerSheet, bool showProgress,
                                Prompts& prompts)
{
    const auto* model = grid ? qobject_cast<const ResultModel*>(grid->model()) : nullptr;
    const db::Query* query = model ? model->query() : nullptr;
    if (!query || !query->isActive())
        return {};
    reapExports();
    auto job = std::make_unique<ExportJob>();
    // Held for the whole export: the rows stay readable whatever happens to the query meanwhile.
    job->result = query->sharedResult();
    job->sheetPrefix = sheetPrefix;
    job->rowsPerSheet = qBound(1, rowsPerSheet, kMaxRowsPerSheet);
    for (int field = 0; field < job->result->columnCount(); ++field) {
        if (grid->isColumnHidden(field))
            continue;
        const db::FieldKind kind = job->result->field(field).kind;
        job->columns.append(
            {field, ruleFor(kind),
             kind == db::FieldKind::Decimal ? int(job->result->field(field).decimals) : 0});
        job->titles.append(model->headerData(field, Qt::Horizontal).toString());
        job->textColumns.append(kind == db::FieldKind::PlainString);
    }

    const GridState keepGrid(grid);
    std::unique_ptr<ExportProgress> progress;
    if (showProgress) {
        progress = ShowExportProgress(prompts, grid->window());
        QCoreApplication::processEvents();
    }
    try {
        job->writer.emplace(fileName);
    } catch (const sheet::SheetError& e) {
        progress.reset();
        prompts.message(grid->window(), QMessageBox::Critical, QStringLiteral("操作提示"),
                        QString::fromStdString(e.what()), QMessageBox::Ok);
        return {};
    }
    const int rows = job->result->rowCount();
    if (progress) {
        progress->label()->setText(kExportingText);
        progress->label()->adjustSize();
        progress->bar()->setRange(0, rows);
    }
    job->worker = std::thread([raw = job.get()] { raw->write(); });

    // The window lives on meanwhile; this loop only shows how far the worker got.
    QEventLoop loop;
    QTimer poll;
    bool givenUp = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const int phase = job->phase.load(std::memory_order_acquire);
        if (progress) {
            job->paused = progress->isAsking();
            if (progress->stopRequested())
                job->stop = true;
            if (phase == ExportJob::Writing) {
                progress->bar()->setValue(job->rowsWritten.load(std::memory_order_relaxed));
            } else if (progress->label()->text() != kSavingText) {
                progress->label()->setText(kSavingText);
                progress->label()->adjustSize();
                progress->bar()->setRange(0, 0); // busy: the library says nothing meanwhile
            }
        }
        if (phase == ExportJob::Done) {
            loop.quit();
        } else if (phase == ExportJob::Saving && job->stop) {
            givenUp = true; // the window is free at once; the file is dropped when it is done
            loop.quit();
        }
    });
    poll.start(kEventIntervalMs);
    loop.exec();
    poll.stop();
    progress.reset();
    if (givenUp) {
        abandonedExports().push_back(std::move(job));
        return {false, true, 0};
    }
    job->worker.join();
    if (job->stop)
        return {false, true, 0};
    if (!job->error.isEmpty())
        throw sheet::SheetError(job->error);
    return {true, false, rows};
}

} // namespace quarvel
