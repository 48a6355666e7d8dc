#pragma once

#include "FieldKind.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <vector>

struct st_mysql_res;

namespace quarvel::db {

struct Field
{
    QString name;
    FieldKind kind;
    int type;
    unsigned int flags;
    unsigned int charset;
};

// A result stored whole by the client library, owned for its life, with one index entry per row
// so that any row is reached in constant time. Cells are read in place; nothing is copied.
//
// Threads: built on one thread, then only read. Reading changes nothing, so once it is made a
// result may be read from any number of threads at once (it is shared as
// std::shared_ptr<const ResultSet>).
class ResultSet
{
public:
    struct Cell
    {
        const char* data = nullptr; // null for SQL NULL
        unsigned long length = 0;   // exact, also for binary values holding NUL bytes

        bool isNull() const { return data == nullptr; }
        QByteArrayView bytes() const { return {data, qsizetype(length)}; }
    };

    ResultSet() = default; // no columns, no rows
    explicit ResultSet(st_mysql_res* stored);
    ~ResultSet();
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;

    int rowCount() const { return int(m_rows.size()); }
    int columnCount() const { return int(m_fields.size()); }
    const Field& field(int column) const { return m_fields[column]; }

    Cell cell(int row, int column) const;

    // Memory held beyond the client library's stored result.
    size_t indexBytes() const { return m_rows.capacity() * sizeof(m_rows[0]); }

private:
    st_mysql_res* m_result = nullptr;
    QList<Field> m_fields;
    // Each row's field pointers. A stored row keeps its fields one after the other, each ending
    // in a NUL, with one more pointer past the last: a field's length is the distance to the next
    // field that is not NULL (this is how the client library itself computes lengths).
    std::vector<char**> m_rows;
};

} // namespace quarvel::db
