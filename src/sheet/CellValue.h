#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <string>

namespace quarvel::sheet {

// Most characters one spreadsheet cell holds (UTF-16 units, as the spreadsheet counts them).
inline constexpr int kMaxCellChars = 32767;

// The number a value's text stands for, when a spreadsheet cell keeps it exactly: at most 15
// significant digits, no zero padding ("00012" stays text), within the range a cell takes.
std::optional<double> exactNumber(QByteArrayView text);

struct DateTimeValue
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    double second = 0;
    bool hasTime = false;
    int fractionDigits = 0; // of the seconds, 0 ... 3
};

// "YYYY-MM-DD" (withTime false) or "YYYY-MM-DD HH:MM:SS[.f]" as the server sends them. Nothing
// for zero or invalid dates, for dates a spreadsheet can't hold (before 1 March 1900, where its
// calendar is off by a day) and for more second decimals than a number format shows.
std::optional<DateTimeValue> parseDateTime(QByteArrayView text, bool withTime);

// The spreadsheet's serial number of a moment (days since 1899-12-30 and the fraction of a day).
// The writer prints numbers with 16 significant digits, and a reader such as LibreOffice cuts the
// time it reads to whole seconds and milliseconds; so the number is nudged up, by at most a unit
// of the printed form's last digit (under a microsecond for dates of our time), until both it and
// its printed form read back at or after the exact moment.
double serialNumber(const DateTimeValue& value);

// A number as the workbook's writer prints it.
QByteArray writtenNumber(double value);

// Width of UTF-8 text in characters, wide (CJK) characters counting double; stops counting at
// `cap`.
int displayWidth(QByteArrayView utf8, int cap);

// How many leading bytes of UTF-8 text fit into one cell, cut at a character boundary.
qsizetype cellTextBytes(QByteArrayView utf8);

// Text as a workbook cell carries it. The workbook's XML can't hold NUL and most other C0
// controls, U+FFFE, U+FFFF or lone surrogates, and spells such characters "_xHHHH_"; a reader
// turns every such sequence back into its character. So those characters are written in that
// form, text that holds the sequence itself gets its underscore spelled "_x005F_" to read back as
// written, and bytes that are no UTF-8 at all become U+FFFD.
void appendWorkbookText(QByteArrayView utf8, std::string& out);
QByteArray workbookText(QByteArrayView utf8);

// Valid UTF-8 without the control characters an XML document can't carry: such bytes can be
// written as text as they are.
bool isPlainText(QByteArrayView bytes);

} // namespace quarvel::sheet
