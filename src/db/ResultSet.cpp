#include "ResultSet.h"

#include <QFile>

#include <cstring>
#include <mysql.h>
#include <new>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quarvel::db {

namespace {

// A row leads with one offset per cell and one for its end, relative to the row's start; the
// high bit of a cell's offset marks NULL. Rows of less than 32 KiB use 16-bit offsets, larger
// ones 32-bit; the low bit of the row's address (rows start at even addresses) tells which.
constexpr quint16 kNull16 = 0x8000u;
constexpr quint32 kNull32 = 0x80000000u;
constexpr uintptr_t kWideRow = 1;

// Writes a row's offsets and cells at `start`; returns nothing, the size was checked before.
template <typename Offset>
void writeRow(char* start, int columns, const char* const* data, const unsigned long* lengths,
              Offset null)
{
    auto* offsets = reinterpret_cast<Offset*>(start);
    Offset at = Offset(size_t(columns + 1) * sizeof(Offset));
    for (int column = 0; column < columns; ++column) {
        if (!data[column]) {
            offsets[column] = Offset(at | null);
            continue;
        }
        offsets[column] = at;
        std::memcpy(start + at, data[column], lengths[column]);
        at = Offset(at + lengths[column]);
    }
    offsets[columns] = at;
}

template <typename Offset>
ResultSet::Cell readCell(const char* start, int column, Offset null)
{
    const auto* offsets = reinterpret_cast<const Offset*>(start);
    const Offset begin = offsets[column];
    if (begin & null)
        return {};
    const Offset end = Offset(offsets[column + 1] & ~null);
    return {start + begin, static_cast<unsigned long>(end - begin)};
}

} // namespace

QList<Field> fieldsOf(const MYSQL_FIELD* fields, unsigned int count)
{
    QList<Field> result;
    result.reserve(count);
    for (unsigned int i = 0; i < count; ++i)
        result.append({QString::fromUtf8(fields[i].name, fields[i].name_length),
                       fieldKindOf(fields[i].type, fields[i].flags, fields[i].charsetnr),
                       int(fields[i].type), fields[i].flags, fields[i].charsetnr,
                       fields[i].decimals});
    return result;
}

ResultSet::ResultSet(QList<Field> fields, qint64 byteLimit)
    : m_fields(std::move(fields))
    , m_byteLimit(byteLimit)
    , m_blocks(new const char** [kMaxBlocks] {})
{
    m_bytes = kMaxBlocks * sizeof(const char**);
}

ResultSet::~ResultSet()
{
    if (m_blocks)
        for (int block = 0; block < kMaxBlocks && m_blocks[block]; ++block)
            delete[] m_blocks[block];
    for (char* chunk : m_chunks)
        delete[] chunk;
}

qint64 ResultSet::defaultByteLimit()
{
    qint64 total = 0;
#ifdef Q_OS_WIN
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status))
        total = qint64(status.ullTotalPhys);
#else
    QFile info(QStringLiteral("/proc/meminfo"));
    if (info.open(QIODevice::ReadOnly))
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("MemTotal:"))
                total = line.mid(9).trimmed().split(' ').value(0).toLongLong() * 1024;
#endif
    return total > 0 ? total / 4 * 3 : qint64(1) << 30;
}

bool ResultSet::reserve(size_t bytes)
{
    if (qint64(m_bytes.load(std::memory_order_relaxed) + bytes) > m_byteLimit)
        return false;
    m_bytes.fetch_add(bytes, std::memory_order_relaxed);
    return true;
}

bool ResultSet::append(const char* const* data, const unsigned long* lengths)
{
    const quint32 row = m_rowCount.load(std::memory_order_relaxed);
    const int block = int(row / kRowsPerBlock);
    if (block >= kMaxBlocks)
        return false;
    if (!m_blocks[block]) {
        if (!reserve(kRowsPerBlock * sizeof(const char*)))
            return false;
        m_blocks[block] = new (std::nothrow) const char*[kRowsPerBlock];
        if (!m_blocks[block])
            return false;
    }

    const int columns = columnCount();
    size_t cellBytes = 0;
    for (int column = 0; column < columns; ++column)
        cellBytes += data[column] ? lengths[column] : 0;
    const size_t narrowSize = size_t(columns + 1) * sizeof(quint16) + cellBytes;
    const bool wide = narrowSize >= kNull16;
    const size_t size = wide ? size_t(columns + 1) * sizeof(quint32) + cellBytes : narrowSize;
    if (size >= kNull32)
        return false; // a row's offsets are 31 bits
    const size_t align = wide ? alignof(quint32) : alignof(quint16);
    const size_t padded = (size + align - 1) / align * align;
    if (padded > m_freeBytes) {
        // A row bigger than a chunk gets a chunk of its own size.
        const size_t chunkBytes = qMax(padded, m_nextChunkBytes);
        m_nextChunkBytes = qMin(m_nextChunkBytes * 2, kChunkBytes);
        if (!reserve(chunkBytes))
            return false;
        char* chunk = new (std::nothrow) char[chunkBytes];
        if (!chunk)
            return false;
        m_chunks.push_back(chunk);
        m_free = chunk;
        m_freeBytes = chunkBytes;
    } else if (wide && (reinterpret_cast<uintptr_t>(m_free) & 3)) {
        // A wide row after narrow ones: to the next 4-byte boundary, within the chunk.
        const size_t skip = 4 - (reinterpret_cast<uintptr_t>(m_free) & 3);
        if (padded + skip > m_freeBytes) {
            m_freeBytes = 0;
            return append(data, lengths);
        }
        m_free += skip;
        m_freeBytes -= skip;
    }
    char* start = m_free;
    if (wide)
        writeRow<quint32>(start, columns, data, lengths, kNull32);
    else
        writeRow<quint16>(start, columns, data, lengths, kNull16);
    m_free += padded;
    m_freeBytes -= padded;
    m_blocks[block][row % kRowsPerBlock] =
        reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(start) | (wide ? kWideRow : 0));
    m_rowCount.store(row + 1, std::memory_order_release);
    return true;
}

ResultSet::Cell ResultSet::cell(int row, int column) const
{
    const auto tagged =
        reinterpret_cast<uintptr_t>(m_blocks[row / kRowsPerBlock][row % kRowsPerBlock]);
    const char* start = reinterpret_cast<const char*>(tagged & ~kWideRow);
    return (tagged & kWideRow) ? readCell<quint32>(start, column, kNull32)
                               : readCell<quint16>(start, column, kNull16);
}

} // namespace quarvel::db
