#include "SheetWriter.h"

#include "FileCommit.h"
#include "WorkbookCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <xlsxwriter.h>

namespace quarvel::sheet {

namespace {

QString createTemporaryFile(const QString& fileName)
{
    const QFileInfo target(fileName);
    QString reason;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name =
            QStringLiteral("%1/~%2.%3.tmp")
                .arg(target.absolutePath(), target.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        QFile file(name);
        errno = 0;
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            file.close();
            // The replaced file keeps its permissions, as an overwrite would.
            if (target.exists())
                QFile::setPermissions(name, QFile::permissions(fileName));
            return name;
        }
        reason = fileErrorText(errno, file.errorString());
        if (!QFile::exists(name))
            break; // not a name clash: another name won't help
    }
    throw SheetError(
        QStringLiteral("无法创建文件“%1”：%2").arg(QDir::toNativeSeparators(fileName), reason));
}

} // namespace

SheetWriter::SheetWriter(const QString& fileName)
    : m_fileName(fileName)
    , m_temporaryName(createTemporaryFile(fileName))
    , m_workingFolder(QFile::encodeName(QFileInfo(m_temporaryName).absolutePath()))
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // The working files go beside the target, so only that folder's free space decides.
    options.tmpdir = m_workingFolder.data();
    m_book = workbook_new_opt(m_temporaryName.toUtf8().constData(), &options);
    if (!m_book) {
        QFile::remove(m_temporaryName);
        throw SheetError(QStringLiteral("无法创建文件“%1”：%2")
                             .arg(QDir::toNativeSeparators(fileName),
                                  QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED))));
    }
    m_bold = workbook_add_format(m_book);
    format_set_bold(m_bold);
    m_text = workbook_add_format(m_book);
    format_set_num_format(m_text, "@");
    m_date = workbook_add_format(m_book);
    format_set_num_format(m_date, "yyyy-mm-dd");
    const char* dateTimeFormats[] = {"yyyy-mm-dd hh:mm:ss", "yyyy-mm-dd hh:mm:ss.0",
                                     "yyyy-mm-dd hh:mm:ss.00", "yyyy-mm-dd hh:mm:ss.000"};
    for (int digits = 0; digits < 4; ++digits) {
        m_dateTime[digits] = workbook_add_format(m_book);
        format_set_num_format(m_dateTime[digits], dateTimeFormats[digits]);
    }
}

SheetWriter::~SheetWriter()
{
    if (m_book) {
        // Freeing the workbook leaves the sheets' working files open, and with them the space
        // they take until the program ends.
        for (lxw_worksheet* sheet : m_sheets) {
            if (sheet->optimize_tmpfile)
                std::fclose(sheet->optimize_tmpfile);
            sheet->optimize_tmpfile = sheet->file = nullptr;
        }
        lxw_workbook_free(m_book);
    }
    if (!m_saved)
        QFile::remove(m_temporaryName);
}

void SheetWriter::check(int error) const
{
    if (error == LXW_NO_ERROR)
        return;
    // The library's own words ("ZIP_ERRNO") don't tell a full disk; errno still does.
    const int cause = errno;
    const QString library = QString::fromUtf8(lxw_strerror(lxw_error(error)));
    fail(isDiskFullError(cause) ? fileErrorText(cause, library) : library);
}

void SheetWriter::fail(const QString& reason) const
{
    throw SheetError(
        QStringLiteral("写入文件“%1”失败：%2").arg(QDir::toNativeSeparators(m_fileName), reason));
}

// In constant memory the library writes a sheet's rows to a working file without looking at what
// its writes return (a full disk passes unnoticed); the stream's error flag still tells.
void SheetWriter::checkWorkingFile()
{
    FILE* rows = m_sheet ? m_sheet->optimize_tmpfile : nullptr;
    if (!rows)
        return;
    errno = 0;
    if (std::fflush(rows) != 0 || std::ferror(rows)) {
        const int error = errno ? errno : EIO;
        fail(fileErrorText(error, QString::fromLocal8Bit(std::strerror(error))));
    }
}

void SheetWriter::startRow(int row)
{
    if (row == m_row)
        return;
    m_row = row;
    if (row % kRowsBetweenChecks == 0)
        checkWorkingFile();
}

void SheetWriter::fit(int column, int width)
{
    int& widest = m_widths[size_t(column)];
    widest = qMax(widest, width);
}

void SheetWriter::addSheet(const QString& name, const QStringList& titles,
                           const QList<bool>& textColumns)
{
    finishSheet();
    m_sheet = workbook_add_worksheet(m_book, name.toUtf8().constData());
    if (!m_sheet)
        throw SheetError(QStringLiteral("写入文件“%1”失败：无法添加工作表“%2”")
                             .arg(QDir::toNativeSeparators(m_fileName), name));
    m_sheets.push_back(m_sheet);
    m_textColumns = textColumns;
    m_widths.assign(size_t(titles.size()), 0);
    for (int column = 0; column < titles.size(); ++column) {
        const QByteArray title = titles[column].toUtf8();
        check(worksheet_write_string(m_sheet, 0, lxw_col_t(column), workbookText(title).constData(),
                                     m_bold));
        fit(column, displayWidth(title, kMaxColumnWidth));
    }
}

void SheetWriter::writeText(int row, int column, QByteArrayView utf8)
{
    startRow(row);
    const QByteArrayView cut = utf8.first(cellTextBytes(utf8));
    m_buffer.clear();
    appendWorkbookText(cut, m_buffer);
    check(worksheet_write_string(m_sheet, lxw_row_t(row), lxw_col_t(column), m_buffer.c_str(),
                                 m_textColumns.value(column) ? m_text : nullptr));
    fit(column, displayWidth(utf8, kMaxColumnWidth));
}

void SheetWriter::writeNumber(int row, int column, double value, QByteArrayView shown, int decimals)
{
    startRow(row);
    lxw_format* format = nullptr;
    if (decimals > 0) {
        lxw_format*& made = m_decimals[decimals];
        if (!made) {
            made = workbook_add_format(m_book);
            if (!made)
                fail(QString::fromUtf8(lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED)));
            format_set_num_format(made,
                                  ("0." + std::string(size_t(qMin(decimals, 30)), '0')).c_str());
        }
        format = made;
    }
    check(worksheet_write_number(m_sheet, lxw_row_t(row), lxw_col_t(column), value, format));
    fit(column, int(shown.size()));
}

void SheetWriter::writeDateTime(int row, int column, const DateTimeValue& value)
{
    startRow(row);
    lxw_format* format = value.hasTime ? m_dateTime[value.fractionDigits] : m_date;
    check(worksheet_write_number(m_sheet, lxw_row_t(row), lxw_col_t(column), serialNumber(value),
                                 format));
    // The shown text: 10 characters for a date, 19 with the time, then the decimals.
    fit(column, value.hasTime ? 19 + (value.fractionDigits ? 1 + value.fractionDigits : 0) : 10);
}

void SheetWriter::finishSheet()
{
    if (!m_sheet)
        return;
    checkWorkingFile();
    for (size_t column = 0; column < m_widths.size(); ++column) {
        // One character of room, as the spreadsheet's own fitting leaves.
        const double width = qMin(m_widths[column] + 1, kMaxColumnWidth);
        check(worksheet_set_column(m_sheet, lxw_col_t(column), lxw_col_t(column), width,
                                   m_textColumns.value(qsizetype(column)) ? m_text : nullptr));
    }
    m_sheet = nullptr;
    m_row = -1;
}

void SheetWriter::save()
{
    finish();
    commit();
}

void SheetWriter::finish()
{
    finishSheet();
    lxw_workbook* book = m_book;
    m_book = nullptr; // closing frees it, whatever the outcome
    check(workbook_close(book));
    // Only a workbook that reads back whole may replace the user's file.
    if (const QString defect = workbookDefect(m_temporaryName); !defect.isEmpty())
        fail(QStringLiteral("写入的文件不完整（%1），磁盘空间可能不足").arg(defect));
}

void SheetWriter::commit()
{
    std::error_code error;
    std::filesystem::rename(QFileInfo(m_temporaryName).filesystemAbsoluteFilePath(),
                            QFileInfo(m_fileName).filesystemAbsoluteFilePath(), error);
    if (error)
        throw SheetError(
            QStringLiteral("无法保存文件“%1”：%2")
                .arg(QDir::toNativeSeparators(m_fileName),
                     fileErrorText(error.value(), QString::fromLocal8Bit(error.message()))));
    m_saved = true;
}

} // namespace quarvel::sheet
