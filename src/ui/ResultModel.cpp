#include "ResultModel.h"

#include "Statement.h"

#include <QColor>
#include <QSysInfo>

#include <algorithm>
#include <vector>

namespace quarvel {

namespace {

bool isNumeric(db::FieldKind kind)
{
    return kind == db::FieldKind::Integer || kind == db::FieldKind::Decimal ||
           kind == db::FieldKind::Float;
}

QString hexPreview(QByteArrayView bytes)
{
    const qsizetype shown = qMin<qsizetype>(bytes.size(), ResultModel::kMaxPreviewBytes);
    QString text = QStringLiteral("0x") +
                   QString::fromLatin1(bytes.first(shown).toByteArray().toHex().toUpper());
    if (shown < bytes.size())
        text += QStringLiteral("…");
    return text;
}

QString displayText(const db::ResultSet::Cell& cell, db::FieldKind kind)
{
    if (db::isBinaryKind(kind))
        return hexPreview(cell.bytes());
    // Cut before decoding: a 4000-character text needs at most 4 bytes a character.
    const qsizetype byteLimit = qsizetype(ResultModel::kMaxDisplayChars) * 4;
    const bool longBytes = qsizetype(cell.length) > byteLimit;
    QString text = QString::fromUtf8(longBytes ? cell.bytes().first(byteLimit) : cell.bytes());
    if (longBytes || text.size() > ResultModel::kMaxDisplayChars) {
        text.truncate(ResultModel::kMaxDisplayChars);
        text += QStringLiteral("…");
    }
    return text;
}

} // namespace

ResultModel::ResultModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_rowsTimer.setSingleShot(true);
    connect(&m_rowsTimer, &QTimer::timeout, this, &ResultModel::showAllRows);
}

void ResultModel::setQuery(const db::Query* query)
{
    if (m_query)
        disconnect(m_query, nullptr, this, nullptr);
    m_query = query;
    if (m_query)
        connect(m_query, &db::Query::resultChanged, this, &ResultModel::takeResult);
    takeResult();
}

void ResultModel::takeResult()
{
    m_rowsTimer.stop();
    beginResetModel();
    m_result = m_query ? m_query->sharedResult() : nullptr;
    m_shownRows = m_result ? m_result->rowCount() : 0;
    endResetModel();
    m_sinceRows.invalidate();
}

void ResultModel::noteRowsArrived()
{
    if (m_rowsTimer.isActive())
        return;
    const qint64 since = m_sinceRows.isValid() ? m_sinceRows.elapsed() : kRowsInterval;
    if (since >= kRowsInterval || m_shownRows < kPromptRows)
        showAllRows();
    else
        m_rowsTimer.start(int(kRowsInterval - since));
}

void ResultModel::showAllRows()
{
    m_rowsTimer.stop();
    const int available = m_result ? m_result->rowCount() : 0;
    if (available > m_shownRows) {
        beginInsertRows(QModelIndex(), m_shownRows, available - 1);
        m_shownRows = available;
        endInsertRows();
    }
    m_sinceRows.start();
}

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_result ? 0 : m_shownRows;
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_result ? 0 : m_result->columnCount();
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const db::ResultSet& result = *m_result;
    const db::FieldKind kind = result.field(index.column()).kind;
    switch (role) {
    case Qt::DisplayRole: {
        const db::ResultSet::Cell cell = result.cell(index.row(), index.column());
        return cell.isNull() ? nullText() : displayText(cell, kind);
    }
    case Qt::ForegroundRole:
        if (result.cell(index.row(), index.column()).isNull())
            return QColor(Qt::gray);
        return {};
    case Qt::TextAlignmentRole:
        return isNumeric(kind) ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter))
                               : QVariant(int(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

namespace {

void appendField(QByteArray& out, QByteArrayView value)
{
    bool quoted = false;
    for (const char c : value)
        if (c == '\t' || c == '\n' || c == '\r' || c == '"') {
            quoted = true;
            break;
        }
    if (!quoted) {
        out.append(value);
        return;
    }
    out.append('"');
    for (const char c : value) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

} // namespace

QString ResultModel::copyText(const QItemSelection& selection, bool withHeader,
                              const QList<int>& columnOrder) const
{
    if (!m_result || selection.isEmpty())
        return {};
    // Rows and columns that hold a selected cell, from the ranges (a whole result is one range:
    // nothing is listed cell by cell).
    std::vector<bool> rowTaken(size_t(m_shownRows), false);
    std::vector<bool> columnTaken(size_t(m_result->columnCount()), false);
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom() && row < m_shownRows; ++row)
            rowTaken[size_t(row)] = true;
        for (int column = range.left(); column <= range.right(); ++column)
            columnTaken[size_t(column)] = true;
    }
    QList<int> columns;
    const QList<int> order = columnOrder.isEmpty() ? [this] {
        QList<int> all;
        for (int column = 0; column < m_result->columnCount(); ++column)
            all.append(column);
        return all;
    }()
                                                   : columnOrder;
    for (const int column : order)
        if (columnTaken[size_t(column)])
            columns.append(column);
    const bool oneRange = selection.size() == 1;
    const auto selected = [&](int row, int column) {
        if (oneRange)
            return true;
        for (const QItemSelectionRange& range : selection)
            if (range.contains(row, column, QModelIndex()))
                return true;
        return false;
    };

    QByteArray out;
    // Room for every cell of the rows taken, their separators and line ends, at one go.
    out.reserve(qsizetype(double(m_result->memoryBytes()) *
                          double(std::count(rowTaken.begin(), rowTaken.end(), true)) /
                          double(qMax(1, m_shownRows))));
    const QByteArray lineEnd = QSysInfo::productType() == QLatin1String("windows") ? "\r\n" : "\n";
    if (withHeader) {
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0)
                out.append('\t');
            appendField(out, m_result->field(columns[i]).name.toUtf8());
        }
        out.append(lineEnd);
    }
    for (int row = 0; row < m_shownRows; ++row) {
        if (!rowTaken[size_t(row)])
            continue;
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0)
                out.append('\t');
            const int column = columns[i];
            if (!selected(row, column))
                continue;
            const db::ResultSet::Cell cell = m_result->cell(row, column);
            if (cell.isNull())
                continue;
            if (db::isBinaryKind(m_result->field(column).kind))
                out.append("0x").append(cell.bytes().toByteArray().toHex().toUpper());
            else
                appendField(out, cell.bytes());
        }
        out.append(lineEnd);
    }
    return QString::fromUtf8(out);
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (!m_result || section < 0 || section >= columnCount())
        return {};
    return m_result->field(section).name;
}

} // namespace quarvel
