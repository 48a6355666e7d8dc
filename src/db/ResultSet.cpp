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

constexpr quint32 kNull = 0x80000000u;
constexpr size_t kAlign = alignof(quint32);

} // namespace

QList<Field> fieldsOf(const MYSQL_FIELD* fields, unsigned int count)
{
    QList<Field> result;
    result.reserve(count);
    for (unsigned int i = 0; i < count; ++i)
        result.append({QString::fromUtf8(fields[i].name, fields[i].name_length),
                       fieldKindOf(fields[i].type, fields[i].flags, fields[i].charsetnr),
                       int(fields[i].type), fields[i].flags, fields[i].charsetnr});
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
    const size_t head = size_t(columns + 1) * sizeof(quint32);
    size_t size = head;
    for (int column = 0; column < columns; ++column)
        size += data[column] ? lengths[column] : 0;
    if (size >= kNull)
        return false; // a row's offsets are 31 bits
    const size_t padded = (size + kAlign - 1) / kAlign * kAlign;
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
    }
    char* start = m_free;
    auto* offsets = reinterpret_cast<quint32*>(start);
    quint32 at = quint32(head);
    for (int column = 0; column < columns; ++column) {
        if (!data[column]) {
            offsets[column] = at | kNull;
            continue;
        }
        offsets[column] = at;
        std::memcpy(start + at, data[column], lengths[column]);
        at += quint32(lengths[column]);
    }
    offsets[columns] = at;
    m_free += padded;
    m_freeBytes -= padded;
    m_blocks[block][row % kRowsPerBlock] = start;
    m_rowCount.store(row + 1, std::memory_order_release);
    return true;
}

ResultSet::Cell ResultSet::cell(int row, int column) const
{
    const char* start = m_blocks[row / kRowsPerBlock][row % kRowsPerBlock];
    const auto* offsets = reinterpret_cast<const quint32*>(start);
    const quint32 begin = offsets[column];
    if (begin & kNull)
        return {};
    const quint32 end = offsets[column + 1] & ~kNull;
    return {start + begin, static_cast<unsigned long>(end - begin)};
}

} // namespace quarvel::db
