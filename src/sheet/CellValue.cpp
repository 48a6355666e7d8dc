#include "CellValue.h"

#include <QDate>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
    if (digits < 1 || digits > 3)
        return {};
    const int fraction = fixedNumber(text, 20, digits);
    if (fraction < 0)
        return {};
    value.fractionDigits = digits;
    value.second += fraction / std::pow(10.0, digits);
    return value;
}

namespace {

constexpr double kMsPerDay = 86400000.0;

// Whether `serial` reads back at or after day `days` plus `ms` milliseconds, decided exactly: the
// subtraction is exact for serials of a day or more, and fma rounds only once, keeping the sign.
bool notBefore(double serial, qint64 days, qint64 ms)
{
    const double fraction = serial - double(days);
    return fraction >= 0 && std::fma(fraction, kMsPerDay, -double(ms)) >= 0;
}

} // namespace

QByteArray writtenNumber(double value)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.16G", value);
    return QByteArray(text, length);
}

double serialNumber(const DateTimeValue& value)
{
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    const qint64 days = QDate(value.year, value.month, value.day).toJulianDay() - epoch;
    const qint64 ms =
        std::llround(((value.hour * 60.0 + value.minute) * 60.0 + value.second) * 1000.0);
    double serial = double(days) + double(ms) / kMsPerDay;
    // A few steps at most: the printed form resolves a few units of the last place.
    while (!notBefore(serial, days, ms) ||
           !notBefore(std::strtod(writtenNumber(serial).constData(), nullptr), days, ms))
        serial = std::nextafter(serial, HUGE_VAL);
    return serial;
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

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "_xHHHH_" at `i`.
bool isEscapeAt(QByteArrayView text, qsizetype i)
{
    return i + 7 <= text.size() && text[i] == '_' && text[i + 1] == 'x' && text[i + 6] == '_' &&
           isHexDigit(text[i + 2]) && isHexDigit(text[i + 3]) && isHexDigit(text[i + 4]) &&
           isHexDigit(text[i + 5]);
}

constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// The code point of the UTF-8 sequence at `i` and its length; surrogates are decoded like any
// other three-byte sequence so that they can be written escaped. kNotUtf8 for a byte that starts
// no well-formed sequence.
char32_t decodeAt(QByteArrayView text, qsizetype i, int* length)
{
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    int trail = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
        cp = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        cp = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        cp = lead & 0x07;
        least = 0x10000;
    } else {
        return kNotUtf8;
    }
    if (text.size() - i <= trail)
        return kNotUtf8;
    for (int t = 1; t <= trail; ++t) {
        if ((byte(i + t) & 0xC0) != 0x80)
            return kNotUtf8;
        cp = (cp << 6) | (byte(i + t) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF)
        return kNotUtf8;
    *length = trail + 1;
    return cp;
}

bool isXmlChar(char32_t cp)
{
    return cp == 0x09 || cp == 0x0A || cp == 0x0D || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

} // namespace

void appendWorkbookText(QByteArrayView utf8, std::string& out)
{
    qsizetype copied = 0; // bytes of `utf8` before this are in `out`
    const auto escape = [&](qsizetype at, qsizetype length, char32_t unit) {
        out.append(utf8.data() + copied, size_t(at - copied));
        char spelled[8];
        std::snprintf(spelled, sizeof spelled, "_x%04X_", unsigned(unit));
        out.append(spelled, 7);
        copied = at + length;
    };
    for (qsizetype i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b == '_') {
            if (isEscapeAt(utf8, i))
                escape(i, 1, U'_');
            ++i;
        } else if (b < 0x80) {
            if (!isXmlChar(b))
                escape(i, 1, b);
            ++i;
        } else {
            int length = 1;
            const char32_t cp = decodeAt(utf8, i, &length);
            if (cp == kNotUtf8)
                escape(i, 1, 0xFFFD);
            else if (!isXmlChar(cp))
                escape(i, length, cp);
            i += length;
        }
    }
    out.append(utf8.data() + copied, size_t(utf8.size() - copied));
}

QByteArray workbookText(QByteArrayView utf8)
{
    std::string out;
    appendWorkbookText(utf8, out);
    return QByteArray(out.data(), qsizetype(out.size()));
}

} // namespace quarvel::sheet
