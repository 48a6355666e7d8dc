#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QTimer>
#include <memory>

namespace quarvel {

namespace db {
class Query;
class ResultSet;
} // namespace db

// The grid's view of the query's stored result: one column per field, titled with the field
// name, cells read on demand from the result itself. Read-only. Empty while the query is closed.
class ResultModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit ResultModel(QObject* parent = nullptr);

    void setQuery(const db::Query* query);
    const db::Query* query() const { return m_query; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Display limits: long text is cut, binary values show their first bytes in hex.
    static constexpr int kMaxDisplayChars = 4000;
    static constexpr int kMaxPreviewBytes = 32;
    static QString nullText() { return QStringLiteral("(NULL)"); }

    // The result shown: the query's, taken between the begin and end of a model reset.
    const db::ResultSet* result() const { return m_result.get(); }

    // The result has grown: its new rows are inserted, at once while there are fewer than
    // kPromptRows (the first screenful shows without delay) and then at most every kRowsInterval
    // ms, so the grid repaints a few times a second while rows arrive.
    void noteRowsArrived();
    // Inserts every row the result has now.
    void showAllRows();

    // The selected cells as tab-separated text for the clipboard, in row and column order, one
    // line per row (rows and columns that hold a selected cell; other cells of them empty),
    // optionally under a line of column names. Cells whole (not the grid's preview), NULL as an
    // empty field, binary as 0x… hex, a value with a tab, line break or quote in quotes with its
    // quotes doubled, as spreadsheets read it. `columnOrder` lists the columns as the grid shows
    // them (empty: the result's order).
    QString copyText(const QItemSelection& selection, bool withHeader,
                     const QList<int>& columnOrder = {}) const;

    static constexpr int kRowsInterval = 250;
    static constexpr int kPromptRows = 100;

private:
    void takeResult();

    const db::Query* m_query = nullptr;
    std::shared_ptr<const db::ResultSet> m_result;
    int m_shownRows = 0; // the model's row count: rows of the result it has announced
    QTimer m_rowsTimer;
    QElapsedTimer m_sinceRows;
};

} // namespace quarvel
