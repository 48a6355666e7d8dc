#pragma once

#include "CellValue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace quarvel::sheet {

// A workbook that could not be started or written. The text is for the user.
class SheetError : public std::runtime_error
{
public:
    explicit SheetError(const QString& text)
        : std::runtime_error(text.toStdString())
    {
    }
};

// An .xlsx workbook written row by row in constant memory. Threads: a writer may be made on one
// thread and used on another, by one thread at a time. The workbook goes to a temporary file
// beside the target and replaces the target only when save() completes; a writer destroyed
// before that leaves no trace and the target untouched.
class SheetWriter
{
public:
    // Widest a fitted column gets, in characters.
    static constexpr int kMaxColumnWidth = 60;

    // Creates the temporary file; throws SheetError naming the file and the reason when the
    // folder won't take it.
    explicit SheetWriter(const QString& fileName);
    ~SheetWriter();
    SheetWriter(const SheetWriter&) = delete;
    SheetWriter& operator=(const SheetWriter&) = delete;

    // Starts the next worksheet with a bold header row; the `textColumns` are formatted as text.
    void addSheet(const QString& name, const QStringList& titles, const QList<bool>& textColumns);

    // Cells of the current sheet, rows in ascending order below the header (row 0). Text longer
    // than a cell holds is cut.
    void writeText(int row, int column, QByteArrayView utf8);
    // `shown` is the value's text, for the column width; `decimals` > 0 gives the cell a format
    // with that many digits after the point (as DECIMAL values show them).
    void writeNumber(int row, int column, double value, QByteArrayView shown, int decimals = 0);
    void writeDateTime(int row, int column, const DateTimeValue& value);

    // Finishes the workbook and moves it over the target. Throws SheetError.
    void save();
    // The two steps of save(): finish() writes and checks the whole workbook (the long part,
    // where the library compresses everything), commit() puts it in the target's place. A
    // writer destroyed in between leaves the target as it was.
    void finish();
    void commit();

    const QString& temporaryName() const { return m_temporaryName; }

private:
    void finishSheet();
    void check(int error) const;
    [[noreturn]] void fail(const QString& reason) const;
    void checkWorkingFile();
    void startRow(int row);
    void fit(int column, int width);

    QString m_fileName;
    QString m_temporaryName;
    QByteArray m_workingFolder;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr; // the one being written
    std::vector<lxw_worksheet*> m_sheets;
    lxw_format* m_bold = nullptr;
    lxw_format* m_text = nullptr;
    lxw_format* m_date = nullptr;
    lxw_format* m_dateTime[4] = {};        // by the number of second decimals
    std::map<int, lxw_format*> m_decimals; // "0.00" and the like, made when first needed
    QList<bool> m_textColumns;
    std::vector<int> m_widths;
    std::string m_buffer; // the library takes NUL-terminated strings
    bool m_saved = false;
    int m_row = -1; // the row being written
    static constexpr int kRowsBetweenChecks = 4096;
};

} // namespace quarvel::sheet
