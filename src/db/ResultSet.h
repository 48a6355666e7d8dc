#pragma once

#include "FieldKind.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

struct st_mysql_field;

namespace quarvel::db {

struct Field
{
    QString name;
    FieldKind kind;
    int type;
    unsigned int flags;
    unsigned int charset;
    unsigned int decimals = 0; // digits after the point (DECIMAL's scale)
};

// The fields of a result as the client library describes them.
QList<Field> fieldsOf(const st_mysql_field* fields, unsigned int count);

// A query's rows in a compact store of our own, filled while they arrive and read meanwhile.
//
// Layout: the cell bytes of a row lie one after the other in large chunks that never move, led by
// one offset per cell plus one for the end (16 bits for rows under 32 KiB, else 32; the high bit
// marks NULL, apart from the empty string), so any cell is reached in constant time with its
// exact length, NUL bytes included.
// A fixed table of row blocks, allocated when a block is needed, finds a row's start.
//
// Threads: one writer (the thread reading the rows) calls append(); any number of readers may
// call the rest at the same time. A row is written completely (its bytes, offsets and block
// entry) before the row count is stored with release order; readers load the count with acquire
// order and touch only rows below it, so everything they read was written before they could see
// it, and nothing they read is written again.
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
    // `byteLimit`: the most the store may hold; append() refuses a row beyond it.
    explicit ResultSet(QList<Field> fields, qint64 byteLimit = defaultByteLimit());
    ~ResultSet();
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;

    int rowCount() const { return int(m_rowCount.load(std::memory_order_acquire)); }
    int columnCount() const { return int(m_fields.size()); }
    const Field& field(int column) const { return m_fields[column]; }

    Cell cell(int row, int column) const;

    // Writer: adds a row of columnCount() cells (a null pointer is NULL). False when the row
    // would pass the byte limit or memory can't be had: the store keeps what it has.
    bool append(const char* const* data, const unsigned long* lengths);

    // Memory held: chunks and row table.
    size_t memoryBytes() const { return m_bytes.load(std::memory_order_relaxed); }

    // Three quarters of the machine's memory (1 GiB when it can't be told).
    static qint64 defaultByteLimit();

    static constexpr int kRowsPerBlock = 1 << 14;
    static constexpr int kMaxBlocks = (1 << 17) - 1; // rows stay within an int
    // Chunks start small, for the many small results, and double up to this.
    static constexpr size_t kFirstChunkBytes = size_t(64) << 10;
    static constexpr size_t kChunkBytes = size_t(4) << 20;

private:
    // Counts `bytes` against the limit; false when they would pass it.
    bool reserve(size_t bytes);

    QList<Field> m_fields;
    qint64 m_byteLimit = 0;
    std::unique_ptr<const char**[]> m_blocks; // kMaxBlocks entries, each kRowsPerBlock rows
    std::vector<char*> m_chunks;              // writer only
    char* m_free = nullptr;                   // writer only: the rest of the last chunk
    size_t m_freeBytes = 0;
    size_t m_nextChunkBytes = kFirstChunkBytes;
    std::atomic<size_t> m_bytes{0};
    std::atomic<quint32> m_rowCount{0};
};

} // namespace quarvel::db
