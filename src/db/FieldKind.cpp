#include "FieldKind.h"

#include <mysql.h>

namespace quarvel::db {

FieldKind fieldKindOf(int type, unsigned int flags, unsigned int charsetNumber)
{
    const bool binary = charsetNumber == kBinaryCharset;
    switch (type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
        return FieldKind::Integer;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        return FieldKind::Decimal;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
        return FieldKind::Float;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
        return FieldKind::Date;
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP2:
        return FieldKind::DateTime;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
        return FieldKind::Time;
    case MYSQL_TYPE_BIT:
        return FieldKind::Bit;
    case MYSQL_TYPE_JSON:
        return FieldKind::Json;
    case MYSQL_TYPE_NULL:
        return FieldKind::Null;
    case MYSQL_TYPE_ENUM:
    case MYSQL_TYPE_SET:
        return FieldKind::EnumSet;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
        return binary ? FieldKind::Blob : FieldKind::Text;
    case MYSQL_TYPE_GEOMETRY:
        return FieldKind::Blob;
    case MYSQL_TYPE_VARCHAR:
    case MYSQL_TYPE_VAR_STRING:
        return binary ? FieldKind::VarBytes : FieldKind::PlainString;
    case MYSQL_TYPE_STRING:
        // ENUM and SET columns arrive as STRING with a flag.
        if (flags & (ENUM_FLAG | SET_FLAG))
            return FieldKind::EnumSet;
        return binary ? FieldKind::Bytes : FieldKind::FixedChar;
    default:
        return binary ? FieldKind::VarBytes : FieldKind::PlainString;
    }
}

} // namespace quarvel::db
