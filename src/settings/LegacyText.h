#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text from the original Windows systems is in the Chinese ANSI code page; newer text is UTF-8.
namespace quarvel {

enum class TextEncoding
{
    Utf8,
    Utf8Bom,
    Ansi
};

// True when the bytes are well-formed UTF-8 (an empty array is).
bool isValidUtf8(QByteArrayView bytes);

// UTF-8 bytes as text, a leading U+FEFF included (QString::fromUtf8 drops it as a byte-order
// mark, so a text starting with one would lose it).
QString utf8Text(QByteArrayView bytes);

// UTF-8 when the bytes are valid UTF-8, otherwise the ANSI code page (the system's on Windows,
// GB18030 elsewhere). A leading UTF-8 BOM is stripped and reported through `used`. `lossless`
// tells whether every byte was decoded (false: some became replacement characters).
QString decodeLegacyText(const QByteArray& bytes, TextEncoding* used = nullptr,
                         bool* lossless = nullptr);

// The inverse: UTF-8 (with a BOM for Utf8Bom) or the ANSI code page. `lossless` tells whether
// the bytes decode back to the same text (false: the code page lacks some character).
QByteArray encodeLegacyText(const QString& text, TextEncoding encoding, bool* lossless = nullptr);

} // namespace quarvel
