#include "ExcelUtilObj.h"

#include "Fonts.h"
#include "Prompts.h"
#include "ResultModel.h"
#include "SheetWriter.h"
#include "Statement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableView>
#include <QVBoxLayout>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quarvel {

namespace {

const QString kStartingText = QStringLiteral("正在启动Excel，请稍候……");
const QString kExportingText = QStringLiteral("请等待，正在导出数据……");
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
};

void writeCell(sheet::SheetWriter& writer, int row, int column, CellRule rule,
               const db::ResultSet::Cell& cell)
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
            writer.writeNumber(row, column, *number, bytes);
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

void ExportGridToExcel(QTableView* grid, const QString& fileName, const QString& sheetPrefix,
                       int rowsPerSheet, bool showProgress, Prompts& prompts)
{
    const auto* model = grid ? qobject_cast<const ResultModel*>(grid->model()) : nullptr;
    const db::Query* query = model ? model->query() : nullptr;
    if (!query || !query->isActive())
        return;
    // Held for the whole export: the rows stay readable whatever happens to the query meanwhile.
    const std::shared_ptr<const db::ResultSet> held = query->sharedResult();
    const db::ResultSet& result = *held;
    rowsPerSheet = qBound(1, rowsPerSheet, kMaxRowsPerSheet);

    const GridState keepGrid(grid);
    // Running statements is disabled meanwhile; should the result go anyway, the export stops.
    bool resultGone = false;
    const QMetaObject::Connection watch =
        QObject::connect(query, &db::Query::resultChanged, [&resultGone] { resultGone = true; });
    const auto unwatch = qScopeGuard([&watch] { QObject::disconnect(watch); });

    std::unique_ptr<ExportProgress> progress;
    if (showProgress) {
        progress = ShowExportProgress(prompts, grid->window());
        QCoreApplication::processEvents();
    }
    std::optional<sheet::SheetWriter> writer;
    try {
        writer.emplace(fileName);
    } catch (const sheet::SheetError& e) {
        progress.reset();
        prompts.message(grid->window(), QMessageBox::Critical, QStringLiteral("操作提示"),
                        QString::fromStdString(e.what()), QMessageBox::Ok);
        return;
    }

    QList<Column> columns;
    QStringList titles;
    QList<bool> textColumns;
    for (int field = 0; field < result.columnCount(); ++field) {
        if (grid->isColumnHidden(field))
            continue;
        const db::FieldKind kind = result.field(field).kind;
        columns.append({field, ruleFor(kind)});
        titles.append(model->headerData(field, Qt::Horizontal).toString());
        textColumns.append(kind == db::FieldKind::PlainString);
    }

    if (progress) {
        progress->label()->setText(kExportingText);
        progress->label()->adjustSize();
        progress->bar()->setRange(0, result.rowCount());
    }
    const auto stopped = [&progress] { return progress && progress->stopRequested(); };

    int sheetNumber = 0;
    int sheetRow = 0;
    const auto newSheet = [&] {
        writer->addSheet(sheetPrefix + QString::number(++sheetNumber), titles, textColumns);
        sheetRow = 1;
    };
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (int row = 0; row < result.rowCount() && !stopped(); ++row) {
        if (sheetNumber == 0 || sheetRow > rowsPerSheet)
            newSheet();
        for (int column = 0; column < columns.size(); ++column)
            writeCell(*writer, sheetRow, column, columns[column].rule,
                      result.cell(row, columns[column].field));
        ++sheetRow;
        // Keep the windows live without paying for it on every row.
        if (sinceEvents.elapsed() >= kEventIntervalMs) {
            if (progress)
                progress->bar()->setValue(row + 1);
            QCoreApplication::processEvents();
            sinceEvents.restart();
            if (resultGone)
                throw std::runtime_error("查询结果在导出过程中已被关闭，导出未完成。");
        }
    }
    if (progress) {
        progress->bar()->setValue(result.rowCount());
        QCoreApplication::processEvents();
    }
    if (stopped())
        return; // the writer takes its temporary file with it
    if (sheetNumber == 0)
        newSheet(); // no rows: the header alone
    writer->save();
}

} // namespace quarvel
