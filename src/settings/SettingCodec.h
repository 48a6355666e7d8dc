#pragma once

#include <QByteArray>
#include <QString>

// The scrambled form of connection values in conf/config.ini: each plain byte XOR a fixed
// 8-byte key, written as two hexadecimal digits. Both functions work on bytes, not characters.
namespace quarvel {

// Stored text -> plain bytes. Never fails: a pair that is not hexadecimal is dropped (it still
// uses up its key position) and a trailing odd character is ignored.
QByteArray DecodeSetting(const QString& stored);

// Plain bytes -> stored text, upper-case hexadecimal.
QString EncodeSetting(const QByteArray& plain);

} // namespace quarvel
