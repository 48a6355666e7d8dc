#include "CellValue.h"

#include <QDate>
#include <charconv>
#include <cmath>

namespace quarvel::sheet {

namespace {

constexpr int kMaxSignificantDigits = 15;
// Range of a spreadsheet number.
constexpr double kLargestNumber = 9.99999999999999e307;
constexpr double kSmallestNumber = 2.2250738585072e-308;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits at `pos`, moving it past them.
QByteArrayView digitsAt(QByteArrayView text, qsizetype& pos)
{
    const qsizetype start = pos;
    while (pos < text.size() && isDigit(text[pos]))
        ++pos;
    return text.sliced(start, pos - start);
}

int fixedNumber(QByteArrayView text, qsizetype pos, int length)
{
    int value = 0;
    for (int i = 0; i < length; ++i) {
        if (pos + i >= text.size() || !isDigit(text[pos + i]))
            return -1;
        value = value * 10 + (text[pos + i] - '0');
    }
    return value;
}

} // namespace

std::optional<double> exactNumber(QByteArrayView text)
{
    qsizetype pos = 0;
    if (pos < text.size() && text[pos] == '-')
        ++pos;
    const QByteArrayView whole = digitsAt(text, pos);
    QByteArrayView fraction;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        fraction = digitsAt(text, pos);
    }
    if (whole.isEmpty() || (whole.size() > 1 && whole[0] == '0'))
        return {};
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
            ++pos;
        if (digitsAt(text, pos).isEmpty())
            return {};
    }
    if (pos != text.size())
        return {};

    // Significant digits: leading zeros of the whole number and trailing zeros of the fraction
    // don't count.
    while (!fraction.isEmpty() && fraction.back() == '0')
        fraction.chop(1);
    qsizetype significant = whole.size() + fraction.size();
    if (whole == "0") {
        significant = fraction.size();
        qsizetype zeros = 0;
        while (zeros < fraction.size() && fraction[zeros] == '0')
            ++zeros;
        significant -= zeros;
    }
    if (significant > kMaxSignificantDigits)
        return {};

    double value = 0;
    const auto [end, error] = std::from_chars(text.begin(), text.end(), value);
    if (error != std::errc() || end != text.end() || !std::isfinite(value))
        return {};
    const double magnitude = std::fabs(value);
    if (magnitude > kLargestNumber || (magnitude != 0 && magnitude < kSmallestNumber))
        return {};
    return value;
}

std::optional<DateTimeValue> parseDateTime(QByteArrayView text, bool withTime)
{
    DateTimeValue value;
    if (text.size() < 10 || text[4] != '-' || text[7] != '-')
        return {};
    value.year = fixedNumber(text, 0, 4);
    value.month = fixedNumber(text, 5, 2);
    value.day = fixedNumber(text, 8, 2);
    if (!QDate::isValid(value.year, value.month, value.day) ||
        QDate(value.year, value.month, value.day) < QDate(1900, 3, 1))
        return {};
    if (!withTime)
        return text.size() == 10 ? std::optional(value) : std::nullopt;

    if (text.size() < 19 || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return {};
    value.hasTime = true;
    value.hour = fixedNumber(text, 11, 2);
    value.minute = fixedNumber(text, 14, 2);
    const int second = fixedNumber(text, 17, 2);
    if (value.hour < 0 || value.hour > 23 || value.minute < 0 || value.minute > 59 || second < 0 ||
        second > 59)
        return {};
    value.second = second;
    if (text.size() == 19)
        return value;
    if (text[19] != '.')
        return {};
    const int digits = int(text.size()) - 20;
    const int fraction = fixedNumber(text, 20, digits);
    if (digits < 1 || digits > 3 || fraction < 0)
        return {};
    value.fractionDigits = digits;
    value.second += fraction / std::pow(10.0, digits);
    return value;
}

int displayWidth(QByteArrayView utf8, int cap)
{
    int width = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80)
            continue; // inside a character
        // Three- and four-byte characters are CJK, full-width forms and the like.
        width += byte >= 0xE0 ? 2 : 1;
        if (width >= cap)
            return cap;
    }
    return width;
}

qsizetype cellTextBytes(QByteArrayView utf8)
{
    // Every character takes at least as many bytes as UTF-16 units.
    if (utf8.size() <= kMaxCellChars)
        return utf8.size();
    int units = 0;
    qsizetype pos = 0;
    while (pos < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[pos]);
        const int bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const int needed = bytes == 4 ? 2 : 1;
        if (units + needed > kMaxCellChars)
            break;
        units += needed;
        pos += bytes;
    }
    return qMin(pos, utf8.size());
}

bool isPlainText(QByteArrayView bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r')
            return false;
    }
    return bytes.isValidUtf8();
}

QByteArray escapeEscapeSequences(QByteArrayView utf8)
{
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    QByteArray out;
    qsizetype copied = 0;
    for (qsizetype i = 0; i + 7 <= utf8.size(); ++i) {
        if (utf8[i] != '_' || utf8[i + 1] != 'x' || utf8[i + 6] != '_' || !isHex(utf8[i + 2]) ||
            !isHex(utf8[i + 3]) || !isHex(utf8[i + 4]) || !isHex(utf8[i + 5]))
            continue;
        out.append(utf8.sliced(copied, i - copied));
        out.append("_x005F_");
        copied = i + 1; // the sequence's own "x...._" follows as it is
        i += 6;
    }
    if (copied == 0)
        return utf8.toByteArray();
    out.append(utf8.sliced(copied));
    return out;
}

} // namespace quarvel::sheet
