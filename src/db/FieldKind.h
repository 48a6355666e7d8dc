#pragma once

#include <QString>

namespace quarvel::db {

// What a result column holds, as the grid and the export need to know it. Binary and text are
// told apart by the character set (63 = binary), not by the BINARY flag, which _bin collations,
// JSON and temporal columns carry too.
enum class FieldKind
{
    PlainString, // VARCHAR and other variable strings
    FixedChar,   // CHAR
    EnumSet,     // ENUM, SET
    Text,        // TEXT family (a memo)
    Blob,        // BLOB family, GEOMETRY
    VarBytes,    // VARBINARY
    Bytes,       // BINARY
    Integer,     // TINYINT ... BIGINT, YEAR
    Decimal,     // DECIMAL
    Float,       // FLOAT, DOUBLE
    Date,
    DateTime, // DATETIME, TIMESTAMP
    Time,
    Bit,
    Json,
    Null, // the type of a bare NULL literal
};

inline constexpr unsigned int kBinaryCharset = 63;

// From the client library's field type, flags and character set number.
FieldKind fieldKindOf(int type, unsigned int flags, unsigned int charsetNumber);

// BLOB-family columns (long binary, long text, graphic): shown and exported as a placeholder.
inline bool isBlobKind(FieldKind kind)
{
    return kind == FieldKind::Blob || kind == FieldKind::Text;
}

// Columns whose values are bytes rather than text.
inline bool isBinaryKind(FieldKind kind)
{
    return kind == FieldKind::Blob || kind == FieldKind::VarBytes || kind == FieldKind::Bytes ||
           kind == FieldKind::Bit;
}

} // namespace quarvel::db
