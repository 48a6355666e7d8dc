#include "LegacyText.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace quarvel {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr qsizetype kBomSize = 3;

bool isContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// The ANSI code page of the original systems: the system's own on Windows, GB18030 elsewhere
// (a superset of GBK, available by name through ICU). Latin-1 keeps every byte when ICU is
// missing, so nothing is silently dropped.
//
// The converter is made in place and never moved: Qt 6.4 leaves a moved ICU converter
// reporting errors into the object it was moved from, so hasError() stays false and the report
// lands in a dead object.
template <typename Converter, typename Use>
auto withAnsiConverter(Use use, QStringConverter::Flags flags = {})
{
#ifdef Q_OS_WIN
    Converter converter(QStringConverter::System, flags);
#else
    Converter converter("GB18030", flags);
    if (!converter.isValid()) {
        Converter latin1(QStringConverter::Latin1, flags);
        return use(latin1);
    }
#endif
    return use(converter);
}

// `lossless` is false when some bytes were invalid and became replacement characters.
QString decodeAnsi(QByteArrayView bytes, bool* lossless = nullptr)
{
    return withAnsiConverter<QStringDecoder>(
        [&](QStringDecoder& decoder) {
            QString text = decoder.decode(bytes);
            if (lossless)
                *lossless = !decoder.hasError();
            return text;
        },
        // Stateless: a character cut off at the end is an error, not state for a next call.
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
}

QByteArray encodeAnsi(const QString& text, bool* hadError)
{
    return withAnsiConverter<QStringEncoder>([&](QStringEncoder& encoder) {
        QByteArray bytes = encoder.encode(text);
        *hadError = encoder.hasError();
        return bytes;
    });
}

} // namespace

QString utf8Text(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int trail = 0;
        // Bounds for the first trail byte rule out overlongs, surrogates and > U+10FFFF.
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            trail = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            trail = 2;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            trail = 3;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (n - i - 1 < trail)
            return false;
        if (p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int t = 2; t <= trail; ++t) {
            if (!isContinuation(p[i + t]))
                return false;
        }
        i += trail + 1;
    }
    return true;
}

QString decodeLegacyText(const QByteArray& bytes, TextEncoding* used, bool* lossless)
{
    TextEncoding encoding = TextEncoding::Ansi;
    QString text;
    bool complete = true;
    if (bytes.startsWith(QByteArrayView(kBom, kBomSize))) {
        encoding = TextEncoding::Utf8Bom;
        const QByteArrayView rest = QByteArrayView(bytes).sliced(kBomSize);
        text = utf8Text(rest);
        if (lossless)
            complete = isValidUtf8(rest);
    } else if (isValidUtf8(bytes)) {
        encoding = TextEncoding::Utf8;
        text = utf8Text(bytes);
    } else {
        text = decodeAnsi(bytes, &complete);
    }
    if (used)
        *used = encoding;
    if (lossless)
        *lossless = complete;
    return text;
}

QByteArray encodeLegacyText(const QString& text, TextEncoding encoding, bool* lossless)
{
    if (lossless)
        *lossless = true;
    switch (encoding) {
    case TextEncoding::Utf8:
        return text.toUtf8();
    case TextEncoding::Utf8Bom:
        return QByteArray(kBom, kBomSize) + text.toUtf8();
    case TextEncoding::Ansi:
        break;
    }
    bool hadError = false;
    QByteArray bytes = encodeAnsi(text, &hadError);
    // Code pages put a substitute for what they lack, often without an error: compare a decode.
    if (lossless)
        *lossless = !hadError && decodeAnsi(bytes) == text;
    return bytes;
}

} // namespace quarvel
